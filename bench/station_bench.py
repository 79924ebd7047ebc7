#!/usr/bin/python3
"""The review station under load: a database of N registrations (a tenth needing review, each
with three doubts on a stored A4 page), `velkdesk serve` on loopback, and C clerks at once, each
in a process of its own, doing lease -> page -> field pictures -> confirm -> next page. Prints a
table of round-trip times over loopback (what the server takes, plus the loopback and this
client's socket calls) and the server's resident memory over the run. Run by station_bench.sh:

    station_bench.py --velkdesk PATH --folder DIR [--registrations N] [--clerks C] [--seconds S]
"""
import argparse
import html
import http.client
import multiprocessing
import os
import random
import re
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "desk", "web"))
import browser_support as bs  # noqa: E402

PASSWORD = "Bench-Passwort-1"
PAGE_WIDTH, PAGE_HEIGHT = 2480, 3508  # A4 at 300 dpi, as the sheet reader stores it
# The three doubtful fields' boxes on that page: (field, kind, message, box, rival of the value or None).
DOUBTS = [("vorname", "low-confidence", "read unsure", (300, 600, 900, 90)),
          ("zip", "rival", "could as well be another", (300, 900, 400, 90)),
          ("city", "ink-mismatch", "does not match the ink", (800, 900, 1000, 90))]


def page_tiff(strip_rows=128):
    """A page of text-like ink (rows of letter-sized blots), one bit, G4 TIFF, in strips of
    `strip_rows` rows as `velkdesk import` stores a page (tiffcp), or in one strip as imports
    before that did (0)."""
    rng = random.Random(7)
    bars = []
    for y in range(200, PAGE_HEIGHT - 200, 90):
        for x in range(200, PAGE_WIDTH - 300, 36):
            if rng.random() < 0.8:
                bars.append((x, y + rng.randint(0, 12), rng.randint(14, 28), rng.randint(20, 40)))
    tiff = bs.g4_page(PAGE_WIDTH, PAGE_HEIGHT, bars)
    if strip_rows:
        with tempfile.TemporaryDirectory() as folder:
            single, strips = os.path.join(folder, "single.tif"), os.path.join(folder, "strips.tif")
            with open(single, "wb") as out:
                out.write(tiff)
            subprocess.run(["tiffcp", "-c", "g4", "-r", str(strip_rows), single, strips], check=True)
            with open(strips, "rb") as stored:
                tiff = stored.read()
    return tiff


def make_database(velkdesk, db, registrations, clerks, strip_rows):
    for c in range(clerks):
        subprocess.run([velkdesk, "--db", db, "clerk", "add", "clerk%d" % c], input=PASSWORD + "\n", text=True,
                       check=True, stdout=subprocess.DEVNULL)
    tiff = page_tiff(strip_rows)
    with sqlite3.connect(db) as con:
        fixed = {"channel", "source_file", "source_ref", "received_at", "dedup_key", "id", "imported_at",
                 "record_text", "record_text_size"}
        fields = [row[1] for row in con.execute("PRAGMA table_info(registration)") if row[1] not in fixed]
        values = {"vorname": "'Vorname' || i", "nachname": "'Nachname' || i", "zip": "printf('%05d', i % 100000)",
                  "city": "'Stadt'", "username": "'kunde' || i || '@example.de'", "gprod": "'VM-' || i"}
        con.execute("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ?)"
                    " INSERT INTO registration (dedup_key, channel, source_file, source_ref, received_at, %s)"
                    " SELECT 'bench' || i, CASE WHEN i %% 10 = 0 THEN 'fax' ELSE 'mail' END, 'bench/' || i, 'page 1',"
                    " '2026-12-01T10:00:00Z', %s FROM n"
                    % (", ".join(fields), ", ".join(values.get(f, "''") for f in fields)), (registrations,))
        for position, (field, kind, message, box) in enumerate(DOUBTS):
            con.execute("INSERT INTO doubt (registration_id, position, field, kind, message, confidence, page, box_x,"
                        " box_y, box_width, box_height) SELECT id, ?, ?, ?, ?, 40, 1, ?, ?, ?, ? FROM registration"
                        " WHERE id % 10 = 0", (position, field, kind, message) + box)
        con.execute("INSERT INTO doubt_rival (doubt_id, rank, value) SELECT d.id, 0, '6' || substr(r.zip, 2)"
                    " FROM doubt d JOIN registration r ON r.id = d.registration_id WHERE d.field = 'zip'")
        con.execute("INSERT INTO page_image (registration_id, page, width, height, format, image)"
                    " SELECT id, 1, ?, ?, 'tiff-g4', ? FROM registration WHERE id % 10 = 0",
                    (PAGE_WIDTH, PAGE_HEIGHT, tiff))
    return len(tiff)


class Client:
    """One clerk's keep-alive connection, with the session's cookie and token."""

    def __init__(self, base, name):
        self.base = base
        self.host, port = urllib.parse.urlsplit(base).netloc.rsplit(":", 1)
        self.port = int(port)
        self.connection = None
        self.cookie = ""
        self.token = ""
        self.request("POST", "/login", {"name": name, "password": PASSWORD})
        page = self.request("GET", "/export")[2]
        self.token = re.search(r'name="token" value="([0-9a-f]+)"', page).group(1)

    def request(self, method, path, form=None):
        """(status, Location, body, seconds) of one request."""
        headers = {"Cookie": self.cookie} if self.cookie else {}
        body = None
        if form is not None:
            if self.token:
                form = dict(form, token=self.token)
            body = urllib.parse.urlencode(form)
            headers.update({"Content-Type": "application/x-www-form-urlencoded", "Origin": self.base})
        for attempt in range(2):
            if self.connection is None:
                self.connection = http.client.HTTPConnection(self.host, self.port, timeout=60)
            try:
                start = time.perf_counter()
                self.connection.request(method, path, body=body, headers=headers)
                response = self.connection.getresponse()
                data = response.read()
                took = time.perf_counter() - start
                break
            except (http.client.HTTPException, ConnectionError):
                # The server closed a kept-alive connection: once more on a new one.
                self.connection.close()
                self.connection = None
                if attempt:
                    raise
        cookie = response.getheader("Set-Cookie") or ""
        if cookie.startswith("velkdesk_session="):
            self.cookie = cookie.split(";")[0]
        return response.status, response.getheader("Location"), data.decode("utf-8", "replace"), took


def clerk(base, number, seconds, results):
    """One clerk's loop until the time is up; puts its samples (kind, seconds) into `results`."""
    client = Client(base, "clerk%d" % number)
    samples = []
    status, location, _, took = client.request("POST", "/next", {})
    samples.append(("next", took))
    deadline = time.monotonic() + seconds
    settled = 0
    page = None
    while location and location.startswith("/registration?") and time.monotonic() < deadline:
        if page is None:
            page = client.request("GET", location)[2]
        reg = re.search(r'name="id" value="(\d+)"', page).group(1)
        for src in re.findall(r'src="(/field-image[^"]+)"', page):
            status, _, _, took = client.request("GET", html.unescape(src))
            samples.append(("image", took) if status == 200 else ("image-error", took))
        # Every field confirmed as it stands.
        form = {"id": reg}
        for name, value in re.findall(r'name="o_(\w+)" value="([^"]*)"', page):
            form["o_" + name] = form["f_" + name] = html.unescape(value)
        status, location, _, took = client.request("POST", "/registration/save", form)
        if status != 303:
            samples.append(("save-error", took))
            break
        settled += 1
        samples.append(("save", took))
        page = None
        if location and location.startswith("/registration?"):
            # The next registration's page: its first field is ready once it is here.
            _, _, page, page_took = client.request("GET", location)
            samples.append(("page", page_took))
            samples.append(("confirm-to-next", took + page_took))
    samples.append(("settled", settled))
    results.put(samples)


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def cpu_seconds(pid):
    """User and system time of a process so far."""
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100.0 * (len(ordered) - 1))))] if ordered else float("nan")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--velkdesk", required=True)
    parser.add_argument("--folder", required=True)
    parser.add_argument("--registrations", type=int, default=100000)
    parser.add_argument("--clerks", type=int, default=8)
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--strip-rows", type=int, default=128, help="rows per strip of the stored page (0: one strip)")
    args = parser.parse_args()

    db = os.path.join(args.folder, "station-bench.db")
    for suffix in ("", "-wal", "-shm"):
        if os.path.exists(db + suffix):
            os.remove(db + suffix)
    start = time.monotonic()
    page_bytes = make_database(args.velkdesk, db, args.registrations, args.clerks, args.strip_rows)
    made = time.monotonic() - start

    server = bs.station(args.velkdesk, db, stderr=subprocess.DEVNULL)
    base = server.base
    rss = []
    running = True

    def sample():
        while running:
            rss.append((time.monotonic(), rss_kib(server.pid)))
            time.sleep(0.25)

    sampler = threading.Thread(target=sample)
    sampler.start()
    results = multiprocessing.Queue()
    clerks = [multiprocessing.Process(target=clerk, args=(base, c, args.seconds, results)) for c in range(args.clerks)]
    run_start = time.monotonic()
    cpu_start = cpu_seconds(server.pid)
    for p in clerks:
        p.start()
    samples = []
    for _ in clerks:
        samples.extend(results.get())
    for p in clerks:
        p.join()
    run_time = time.monotonic() - run_start
    cpu = cpu_seconds(server.pid) - cpu_start
    running = False
    sampler.join()
    server.stop()

    by_kind = {}
    for kind, value in samples:
        by_kind.setdefault(kind, []).append(value)
    settled = sum(by_kind.get("settled", []))
    errors = len(by_kind.get("save-error", [])) + len(by_kind.get("image-error", []))
    rows = [("confirm -> next page ready (save + page)", "confirm-to-next", 50),
            ("  save (settle, lease the next)", "save", None),
            ("  next registration's page", "page", None),
            ("field picture (PNG cut from the page)", "image", 20),
            ("first lease (POST /next)", "next", None)]
    lines = ["| %d registrations, %d needing review, %d clerks, %.0f s | n | p50 ms | p99 ms | max ms | goal |"
             % (args.registrations, args.registrations // 10, args.clerks, args.seconds),
             "|---|---|---|---|---|---|"]
    for label, kind, goal in rows:
        values = [v * 1000 for v in by_kind.get(kind, [])]
        if not values:
            continue
        lines.append("| %s | %d | %.1f | %.1f | %.1f | %s |" % (
            label, len(values), percentile(values, 50), percentile(values, 99), max(values),
            ("p99 ≤ %d ms" % goal) if goal else ""))
    steady = [kib for t, kib in rss if t >= run_start + min(5.0, args.seconds / 4)]
    lines.append("")
    lines.append("registrations settled: %d (%.0f per second), errors: %d; database made in %.1f s, page image %d bytes"
                 " (%s)" % (settled, settled / run_time, errors, made, page_bytes,
                            "strips of %d rows" % args.strip_rows if args.strip_rows else "one strip"))
    if settled:
        # What the server itself spends, whatever else the two cores are busy with.
        lines.append("server CPU: %.1f s in %.1f s, %.1f ms per registration settled (its page, three field"
                     " pictures, the save and the next lease; the logins included)" % (cpu, run_time, cpu * 1000 / settled))
    if rss:
        # The logins' password checks (Argon2id, two at once) take their memory at the start; what
        # counts is whether it stays flat while the clerks work.
        quarters = [steady[min(len(steady) - 1, len(steady) * q // 4)] / 1024 for q in range(4)] if steady else []
        lines.append("server RSS: %.1f MiB at start, %.1f MiB peak (logins); while the clerks work: %s MiB at each"
                     " quarter, %.1f MiB peak, %.1f MiB at the end"
                     % (rss[0][1] / 1024, max(k for _, k in rss) / 1024, " / ".join("%.1f" % q for q in quarters),
                        max(steady) / 1024 if steady else float("nan"), rss[-1][1] / 1024))
    print("\n".join(lines))
    with open(os.path.join(args.folder, "station-results.md"), "w") as out:
        out.write("\n".join(lines) + "\n")
    return 1 if errors or settled == 0 else 0


if __name__ == "__main__":
    raise SystemExit(main())
