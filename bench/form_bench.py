#!/usr/bin/python3
"""Load for `velkdesk form` over loopback (run by form_bench.sh): sustained submissions from
many customers (each its own address, passed by a trusted proxy's X-Forwarded-For) with p50 and
p99 latency, then a flood from one address beside a trickle from others.

    form_bench.py FORM_BASE [STATION_ADDRESS] [--seconds S] [--threads N] [--max M]
"""
import argparse
import http.client
import re
import statistics
import threading
import time
import urllib.parse

BASE_ANSWERS = {"lastname": "Berg", "street": "Speicherstraße 14", "zip": "20457", "city": "Hamburg",
                "country": "5", "article": "VM-4711", "title": "Atlas 2027", "where": "1", "howknown": "2",
                "date": "2026-11-30", "howoften": "1", "vipwanted": "1", "password1": "Pw-geheim",
                "password2": "Pw-geheim", "age": "2", "os": "8", "skill": "2"}


class Client:
    """One keep-alive connection; reconnects when the server closes it."""

    def __init__(self, host, port):
        self.host, self.port = host, port
        self.conn = None

    def request(self, method, path, body=None, headers=None):
        for attempt in range(2):
            try:
                if self.conn is None:
                    self.conn = http.client.HTTPConnection(self.host, self.port, timeout=30)
                self.conn.request(method, path, body=body, headers=headers or {})
                response = self.conn.getresponse()
                data = response.read()
                if response.getheader("Connection", "").lower() == "close":
                    self.conn.close()
                    self.conn = None
                return response.status, data, response
            except (http.client.HTTPException, ConnectionError, OSError):
                self.conn = None
                if attempt:
                    raise
        raise RuntimeError("unreachable")


def token(client, host_header):
    status, body, _ = client.request("GET", "/", headers={"Host": host_header})
    match = re.search(rb'name="formtoken" value="([^"]+)"', body)
    if status != 200 or not match:
        raise RuntimeError("no form: %d" % status)
    return match.group(1).decode()


def post(client, host_header, address, answers, form_token):
    fields = dict(answers)
    fields["formtoken"] = form_token
    body = urllib.parse.urlencode(fields)
    start = time.perf_counter()
    status, data, _ = client.request("POST", "/", body=body, headers={
        "Host": host_header, "Origin": "http://" + host_header, "X-Forwarded-For": address,
        "Content-Type": "application/x-www-form-urlencoded"})
    return status, time.perf_counter() - start, data


def percentile(values, p):
    if not values:
        return float("nan")
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100 * (len(ordered) - 1))))]


def sustained(host, port, seconds, threads, maximum):
    """Closed loop: each thread posts one new customer after another; every post is a new address."""
    host_header = "%s:%d" % (host, port)
    latencies, failures = [], []
    counter = iter(range(maximum))
    lock = threading.Lock()
    clients = [Client(host, port) for _ in range(threads)]
    tokens = [token(c, host_header) for c in clients]
    time.sleep(1.1)  # the form's minimum time between showing and sending
    deadline = time.perf_counter() + seconds

    def run(k):
        while time.perf_counter() < deadline:
            with lock:
                n = next(counter, None)
            if n is None:
                return
            answers = dict(BASE_ANSWERS, firstname="Kunde %d" % n, username="kunde%d@example.de" % n)
            address = "10.%d.%d.%d" % (n >> 16 & 255, n >> 8 & 255, n & 255)
            status, latency, data = post(clients[k], host_header, address, answers, tokens[k])
            with lock:
                if status == 200 and "Vielen Dank".encode() in data:
                    latencies.append(latency)
                else:
                    failures.append(status)

    started = time.perf_counter()
    workers = [threading.Thread(target=run, args=(k,)) for k in range(threads)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    elapsed = time.perf_counter() - started
    return len(latencies) / elapsed, latencies, failures, elapsed


def flood(host, port, seconds, others):
    """One address posts as fast as it can while `others` addresses post once a second each."""
    host_header = "%s:%d" % (host, port)
    result = {"flood_ok": 0, "flood_refused": 0, "other_ok": 0, "other_failed": 0, "other_latency": []}
    lock = threading.Lock()
    flooder = Client(host, port)
    flood_token = token(flooder, host_header)
    other_clients = [Client(host, port) for _ in range(others)]
    other_tokens = [token(c, host_header) for c in other_clients]
    time.sleep(1.1)
    deadline = time.perf_counter() + seconds

    def run_flood():
        n = 0
        while time.perf_counter() < deadline:
            answers = dict(BASE_ANSWERS, firstname="Flut %d" % n, username="flut%d@example.de" % n)
            status, _, _ = post(flooder, host_header, "198.51.100.1", answers, flood_token)
            n += 1
            with lock:
                result["flood_ok" if status == 200 else "flood_refused"] += 1

    def run_other(k):
        n = 0
        while time.perf_counter() < deadline:
            answers = dict(BASE_ANSWERS, firstname="Andere %d-%d" % (k, n), username="a%d-%d@example.de" % (k, n))
            status, latency, _ = post(other_clients[k], host_header, "203.0.113.%d" % (k + 1), answers, other_tokens[k])
            n += 1
            with lock:
                if status == 200:
                    result["other_ok"] += 1
                    result["other_latency"].append(latency)
                else:
                    result["other_failed"] += 1
            time.sleep(1.0)

    workers = [threading.Thread(target=run_flood)] + [threading.Thread(target=run_other, args=(k,)) for k in range(others)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    return result


class StationReader:
    """A clerk's browser: polls the review station's queue (which reads the database) every 50 ms."""

    def __init__(self, address):
        parsed = urllib.parse.urlsplit(address)
        self.client = Client(parsed.hostname, parsed.port)
        self.host_header = parsed.netloc
        status, _, response = self.client.request("GET", parsed.path + "?" + parsed.query,
                                                  headers={"Host": self.host_header})
        cookie = response.getheader("Set-Cookie", "")
        self.cookie = cookie.split(";")[0]
        self.reads = 0
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.run)
        self.thread.start()

    def run(self):
        while not self.stop.is_set():
            status, _, _ = self.client.request("GET", "/", headers={"Host": self.host_header, "Cookie": self.cookie})
            if status == 200:
                self.reads += 1
            time.sleep(0.05)

    def finish(self):
        self.stop.set()
        self.thread.join()
        return self.reads


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("form")
    parser.add_argument("station", nargs="?")
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--threads", type=int, default=8)
    parser.add_argument("--max", type=int, default=20000)
    parser.add_argument("--flood-seconds", type=float, default=10)
    parser.add_argument("--others", type=int, default=20)
    parser.add_argument("--burst", type=int, default=10)
    parser.add_argument("--rate", type=float, default=12)
    args = parser.parse_args()
    parsed = urllib.parse.urlsplit(args.form)
    station = StationReader(args.station) if args.station else None

    rate, latencies, failures, elapsed = sustained(parsed.hostname, parsed.port, args.seconds, args.threads, args.max)
    reads = station.finish() if station else 0
    ms = [1000 * x for x in latencies]
    print("| phase | submissions | per second | p50 | p99 | max | failed |")
    print("|---|---|---|---|---|---|---|")
    print("| sustained, %d connections, %.0f s | %d | %.0f | %.1f ms | %.1f ms | %.1f ms | %d |"
          % (args.threads, elapsed, len(latencies), rate, statistics.median(ms) if ms else float("nan"),
             percentile(ms, 99), max(ms) if ms else float("nan"), len(failures)))

    f = flood(parsed.hostname, parsed.port, args.flood_seconds, args.others)
    other_ms = [1000 * x for x in f["other_latency"]]
    allowed = args.burst + args.rate * args.flood_seconds / 60
    print("| flood from one address, %.0f s | %d accepted of %d | | | | | %d refused |"
          % (args.flood_seconds, f["flood_ok"], f["flood_ok"] + f["flood_refused"], f["flood_refused"]))
    print("| %d other addresses meanwhile | %d accepted | | %.1f ms | %.1f ms | %.1f ms | %d |"
          % (args.others, f["other_ok"], statistics.median(other_ms) if other_ms else float("nan"),
             percentile(other_ms, 99), max(other_ms) if other_ms else float("nan"), f["other_failed"]))
    print()
    print("station queue reads during the sustained phase: %d" % reads)
    ok = (rate >= 500 and percentile(ms, 99) <= 100 and not failures and f["flood_ok"] <= allowed + 1
          and f["other_failed"] == 0 and percentile(other_ms, 99) <= 100)
    print("goal (>= 500/s, p99 <= 100 ms, flood held to %.0f, others through within 100 ms): %s"
          % (allowed, "met" if ok else "NOT met"))
    return 0 if ok else 1


if __name__ == "__main__":
    raise SystemExit(main())
