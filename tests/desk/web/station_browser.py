#!/usr/bin/python3
"""The review station in a real browser: headless Chromium driven by Selenium against
`velkdesk serve`, one browser for all cases. Run by CTest (desk_browser_test):

    station_browser.py --velkdesk PATH
"""
import argparse
import http.client
import os
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser_support as bs  # noqa: E402

if bs.missing_browser():
    print("SKIP: " + bs.missing_browser())
    sys.exit(bs.SKIP)
from selenium.common.exceptions import NoAlertPresentException  # noqa: E402
from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402

PASSWORD = "Richtiges-Passwort-1"
# Markup and script in every field: a page that runs any of it sets the title or opens an alert.
HOSTILE = "<script>document.title='pwned'</script><img src=x onerror=\"document.title='pwned'\">&amp;\"'"


def make_database(velkdesk, folder, name, clerk):
    """A database with two registrations needing review (one hostile), and a clerk if asked."""
    db = os.path.join(folder, name)
    if clerk:
        subprocess.run([velkdesk, "--db", db, "clerk", "add", clerk], input=PASSWORD + "\n", text=True, check=True,
                       stdout=subprocess.DEVNULL)
    else:
        # A database without accounts: made by adding a clerk and removing it again.
        subprocess.run([velkdesk, "--db", db, "clerk", "add", "tmp"], input=PASSWORD + "\n", text=True, check=True,
                       stdout=subprocess.DEVNULL)
        subprocess.run([velkdesk, "--db", db, "clerk", "remove", "tmp"], check=True, stdout=subprocess.DEVNULL)
    with sqlite3.connect(db) as con:
        fixed = {"channel", "source_file", "source_ref", "received_at", "dedup_key", "id", "imported_at"}
        fields = [row[1] for row in con.execute("PRAGMA table_info(registration)") if row[1] not in fixed]
        def add(key, values, field, kind, message, rivals=()):
            columns = ["dedup_key", "channel", "source_file", "source_ref", "received_at"] + fields
            row = [key, "fax", HOSTILE + ".pdf", "page 1", "2026-12-01T10:00:00Z"] + [values(f) for f in fields]
            cursor = con.execute("INSERT INTO registration (%s) VALUES (%s)"
                                 % (", ".join(columns), ", ".join("?" * len(columns))), row)
            doubt = con.execute("INSERT INTO doubt (registration_id, position, field, kind, message, confidence, page,"
                                " box_x, box_y, box_width, box_height) VALUES (?, 0, ?, ?, ?, -1, 0, 0, 0, 0, 0)",
                                (cursor.lastrowid, field, kind, message)).lastrowid
            for rank, rival in enumerate(rivals):
                con.execute("INSERT INTO doubt_rival (doubt_id, rank, value) VALUES (?, ?, ?)", (doubt, rank, rival))
        add("plain", lambda f: {"vorname": "Grete", "nachname": "Berg", "zip": "50667", "city": "Köln",
                                "password_1": "Kennwort-XY", "password_2": "Kennwort-XY"}.get(f, ""),
            "zip", "rival", "\"50667\" could as well be \"60667\"")
        add("hostile", lambda f: HOSTILE, "vorname", "rival", HOSTILE, [HOSTILE + "!"])
    return db


def add_sheets(db, count):
    """Adds `count` faxed sheets, each with three doubtful fields on its stored page: the first
    name read unsure, the postcode with a rival, the city not matching the ink."""
    tiff = bs.g4_page(600, 400, [(110, 60, 150, 30), (110, 160, 120, 30), (110, 260, 200, 30)])
    doubts = [("vorname", "low-confidence", "read unsure", (100, 50, 170, 50), []),
              ("zip", "rival", "\"50667\" could as well be \"60667\"", (100, 150, 140, 50), ["60667"]),
              ("city", "ink-mismatch", "does not match the ink", (100, 250, 220, 50), [])]
    with sqlite3.connect(db) as con:
        fixed = {"channel", "source_file", "source_ref", "received_at", "dedup_key", "id", "imported_at"}
        fields = [row[1] for row in con.execute("PRAGMA table_info(registration)") if row[1] not in fixed]
        values = {"vorname": "Grete", "nachname": "Sauer", "zip": "50667", "city": "Koln"}
        for n in range(count):
            columns = ["dedup_key", "channel", "source_file", "source_ref", "received_at"] + fields
            row = ["sheet%d" % n, "fax", "fax%d.tif" % n, "page 1", "2026-12-02T10:00:00Z"] + \
                  [values.get(f, "") for f in fields]
            reg = con.execute("INSERT INTO registration (%s) VALUES (%s)"
                              % (", ".join(columns), ", ".join("?" * len(columns))), row).lastrowid
            con.execute("INSERT INTO page_image (registration_id, page, width, height, format, image)"
                        " VALUES (?, 1, 600, 400, 'tiff-g4', ?)", (reg, tiff))
            for position, (field, kind, message, box, rivals) in enumerate(doubts):
                doubt = con.execute("INSERT INTO doubt (registration_id, position, field, kind, message, confidence,"
                                    " page, box_x, box_y, box_width, box_height) VALUES (?, ?, ?, ?, ?, 40, 1, ?, ?, ?, ?)",
                                    (reg, position, field, kind, message) + box).lastrowid
                for rank, rival in enumerate(rivals):
                    con.execute("INSERT INTO doubt_rival (doubt_id, rank, value) VALUES (?, ?, ?)", (doubt, rank, rival))


class Clerk:
    """A second clerk without a browser: plain HTTP with the session's cookie and token."""

    def __init__(self, base, name, password):
        self.base = base
        self.host, port = urllib.parse.urlsplit(base).netloc.rsplit(":", 1)
        self.port = int(port)
        self.cookie = ""
        status, _, _ = self.request("POST", "/login", {"name": name, "password": password})
        page = self.request("GET", "/export")[2]
        self.token = re.search(r'name="token" value="([0-9a-f]+)"', page).group(1)

    def request(self, method, path, form=None):
        """(status, Location, body) of one request; the answer's session cookie is kept."""
        connection = http.client.HTTPConnection(self.host, self.port, timeout=30)
        headers = {"Cookie": self.cookie} if self.cookie else {}
        body = None
        if form is not None:
            if self.cookie:
                form = dict(form, token=self.token)
            body = urllib.parse.urlencode(form)
            headers.update({"Content-Type": "application/x-www-form-urlencoded", "Origin": self.base})
        connection.request(method, path, body=body, headers=headers)
        response = connection.getresponse()
        text = response.read().decode("utf-8", "replace")
        cookie = response.getheader("Set-Cookie") or ""
        if cookie.startswith("velkdesk_session="):
            self.cookie = cookie.split(";")[0]
        connection.close()
        return response.status, response.getheader("Location"), text


def active_id(browser):
    return browser.switch_to.active_element.get_attribute("id")


def wait_for_reservation(db, clerk, registration):
    """Waits until the page's script has reserved `registration` for `clerk`; returns when the
    reservation ends (Unix seconds)."""
    deadline = time.time() + 10
    while time.time() < deadline:
        with sqlite3.connect(db) as con:
            row = con.execute("SELECT expires_at FROM lease WHERE registration = ? AND clerk = ?",
                              (registration, clerk)).fetchone()
        if row:
            return row[0]
        time.sleep(0.05)
    raise RuntimeError("registration %d was not reserved for %s" % (registration, clerk))


def wait_for_new_page(browser, old):
    WebDriverWait(browser, 10).until(lambda b: old.id != b.find_element(By.TAG_NAME, "html").id)


def no_alert(browser):
    try:
        browser.switch_to.alert
        return False
    except NoAlertPresentException:
        return True


def submit(browser, element):
    """Clicks a submit button and waits until the answer has replaced the page."""
    bs.wait_new_page(browser, element.click)


def log_in(browser, base, name, password):
    browser.get(base + "/login")
    browser.find_element(By.ID, "name").clear()
    browser.find_element(By.ID, "name").send_keys(name)
    browser.find_element(By.ID, "password").send_keys(password)
    submit(browser, browser.find_element(By.ID, "login"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--velkdesk", required=True)
    args = parser.parse_args()
    folder = tempfile.mkdtemp(prefix="velkdesk-browser-")
    checks = bs.Checks()
    stations = []
    browser = None
    try:
        # A non-loopback listen without accounts does not start, and says why.
        empty = make_database(args.velkdesk, folder, "refuse.db", None)
        refused = subprocess.run([args.velkdesk, "--db", empty, "serve", "--listen", "0.0.0.0:0"],
                                 capture_output=True, text=True, timeout=30)
        checks.expect(refused.returncode != 0 and refused.stdout == "" and "clerk add" in refused.stderr,
                      "non-loopback listen without accounts refuses to start: " + refused.stderr.strip())

        browser = bs.headless_chromium(os.path.join(folder, "profile"), size=None)

        # Without accounts: the printed address opens a session once, then leaves the address bar.
        local = bs.station(args.velkdesk, make_database(args.velkdesk, folder, "local.db", None))
        stations.append(local)
        browser.get(local.address)
        checks.expect(browser.current_url == local.base + "/", "one-time address redirects to " + browser.current_url)
        checks.expect("token" not in browser.current_url, "the token is gone from the address bar")
        checks.expect(browser.find_element(By.ID, "queue-count").get_attribute("data-count") == "2",
                      "the one-time session sees the queue")

        # HTML and script in every field render as text and run nothing.
        browser.get(local.base + "/registration?id=2")
        values = [e.get_attribute("value") for e in browser.find_elements(By.CSS_SELECTOR, "#fields input.value")]
        checks.expect(len(values) == 24 and all(v == HOSTILE for v in values),
                      "every hostile value shows as its text (%d fields)" % len(values))
        checks.expect(browser.find_element(By.CSS_SELECTOR, "#field-vorname .doubt-text").text
                      == "Mehrdeutig: \u201e%s\u201c k\u00f6nnte auch \u201e%s!\u201c sein." % (HOSTILE, HOSTILE),
                      "the doubt shows as text beside its field")
        checks.expect(browser.title == "Registrierung 2 · velkdesk" and no_alert(browser), "no script ran: " + browser.title)
        browser.get(local.base + "/")
        checks.expect(browser.title == "Warteschlange · velkdesk" and no_alert(browser), "the queue ran no script either")
        # Had anything slipped through as markup, the policy would have had to block it.
        blocked = [e["message"] for e in browser.get_log("browser") if "Content Security Policy" in e["message"]]
        checks.expect(not blocked, "nothing needed blocking by the Content-Security-Policy: %s" % blocked)
        checks.expect(HOSTILE in browser.find_element(By.TAG_NAME, "main").text, "the queue shows the hostile name as text")

        # The same address a second time opens nothing.
        browser.delete_all_cookies()
        browser.get(local.address)
        checks.expect(browser.find_elements(By.ID, "queue-count") == [] and
                      "gilt nicht" in browser.find_element(By.ID, "error-message").text,
                      "the one-time address opens no second session")
        local.stop()

        # With an account: log in, see the queue and a registration with the sheet's labels.
        clerks_db = make_database(args.velkdesk, folder, "clerks.db", "anna")
        subprocess.run([args.velkdesk, "--db", clerks_db, "clerk", "add", "ben"], input=PASSWORD + "\n", text=True,
                       check=True, stdout=subprocess.DEVNULL)
        add_sheets(clerks_db, 2)  # registrations 3 and 4
        station = bs.station(args.velkdesk, clerks_db)
        stations.append(station)
        browser.delete_all_cookies()
        checks.expect("auth?token" not in station.address, "a station with accounts prints no token")
        browser.get(station.address)
        checks.expect(browser.current_url == station.base + "/login", "a visitor is sent to the login page")
        log_in(browser, station.base, "anna", PASSWORD)
        checks.expect(browser.current_url == station.base + "/", "the clerk lands on the queue: " + browser.current_url)
        count = browser.find_elements(By.ID, "queue-count")
        checks.expect(count and count[0].get_attribute("data-count") == "4" and "4" in count[0].text,
                      "the queue shows its count")
        browser.find_element(By.LINK_TEXT, "1").click()
        row = browser.find_element(By.ID, "field-zip")
        checks.expect(row.find_element(By.TAG_NAME, "label").text == "Postleitzahl" and
                      browser.find_element(By.ID, "f-zip").get_attribute("value") == "50667",
                      "the registration shows Postleitzahl 50667")
        password = browser.find_element(By.ID, "field-password_1")
        checks.expect("Kennwort-XY" not in browser.page_source and password.text.endswith("verborgen"),
                      "passwords are hidden")
        submit(browser, browser.find_element(By.ID, "reveal"))
        shown = browser.find_element(By.ID, "f-password_1").get_attribute("value")
        checks.expect(shown == "Kennwort-XY" and "Kennwort" not in browser.current_url + browser.title,
                      "the button shows them, in no address or title: %s at %s" % (shown, browser.current_url))

        # A correction by keyboard: the new value typed, Enter confirms it; that was the only doubt,
        # so it is saved and the next registration (2) is there at once.
        browser.get(station.base + "/registration?id=1")
        checks.expect(active_id(browser) == "f-zip", "the doubtful field has the focus: " + active_id(browser))
        wait_for_reservation(clerks_db, "anna", 2)
        # A mark on the window: a page loaded anew would not have it, one put in place keeps it.
        browser.execute_script("window.velkTestMark = 'same window';")
        old = browser.find_element(By.TAG_NAME, "html")
        ActionChains(browser).send_keys("60667", Keys.ENTER).perform()
        wait_for_new_page(browser, old)
        notice = browser.find_elements(By.ID, "notice")
        checks.expect(browser.current_url == station.base + "/registration?id=2&done=1" and notice and
                      "Registrierung 1 ist erledigt" in notice[0].text,
                      "after the last doubt the next registration appears: " + browser.current_url)
        checks.expect(browser.execute_script("return window.velkTestMark;") == "same window" and
                      active_id(browser) == "f-vorname" and browser.title == "Registrierung 2 · velkdesk",
                      "it was ready: put in place without loading, its first doubt focused (%s)" % active_id(browser))
        browser.get(station.base + "/registration?id=1")
        corrections = browser.find_elements(By.CSS_SELECTOR, "#corrections tbody tr")
        checks.expect(browser.find_element(By.ID, "f-zip").get_attribute("value") == "60667" and
                      len(corrections) == 1 and "anna Postleitzahl 50667 60667" in corrections[0].text,
                      "the typed correction is saved and listed")

        # Escape postpones: registration 2 (leased when it appeared) is let go, the next (3) comes.
        browser.get(station.base + "/registration?id=2")
        old = browser.find_element(By.TAG_NAME, "html")
        ActionChains(browser).send_keys(Keys.ESCAPE).perform()
        wait_for_new_page(browser, old)
        checks.expect(browser.current_url == station.base + "/registration?id=3", "Escape postpones: " + browser.current_url)

        # A second clerk meanwhile gets another registration than the one Anna holds.
        ben = Clerk(station.base, "ben", PASSWORD)
        status, location, _ = ben.request("POST", "/next", {})
        checks.expect(status == 303 and location == "/registration?id=2",
                      "the second clerk gets another registration: %s %s" % (status, location))

        # A sheet: each doubtful field with its picture from the page, and the whole page linked.
        image = browser.find_element(By.CSS_SELECTOR, "#field-vorname img.field-image")
        width = WebDriverWait(browser, 10).until(
            lambda b: b.execute_script("return arguments[0].complete && arguments[0].naturalWidth;", image))
        checks.expect(width == 170 + 2 * 16, "the field's picture is served (%s pixels wide)" % width)
        checks.expect(browser.find_elements(By.CSS_SELECTOR, "a.page-link[href='/page-image?reg=3&page=1']") != [],
                      "the whole page is linked")
        # Settled by keyboard alone: the first name confirmed as it stands (Enter), the postcode's
        # rival taken (1), the city typed (then Enter); after the last doubt it is saved.
        visited = []
        old = browser.find_element(By.TAG_NAME, "html")
        for _ in range(3):
            field = active_id(browser)
            visited.append(field)
            if field == "f-vorname":
                ActionChains(browser).send_keys(Keys.ENTER).perform()
            elif field == "f-zip":
                ActionChains(browser).send_keys("1").perform()
            elif field == "f-city":
                ActionChains(browser).send_keys("Bonn-Beuel", Keys.ENTER).perform()
            else:
                break
        checks.expect(sorted(visited) == ["f-city", "f-vorname", "f-zip"], "the keys went from doubt to doubt: %s" % visited)
        wait_for_new_page(browser, old)
        checks.expect(browser.current_url == station.base + "/registration?id=4&done=3",
                      "the sheet is saved and the next appears: " + browser.current_url)
        image = browser.find_element(By.CSS_SELECTOR, "#field-vorname img.field-image")
        width = WebDriverWait(browser, 10).until(
            lambda b: b.execute_script("return arguments[0].complete && arguments[0].naturalWidth;", image))
        checks.expect(active_id(browser) == "f-vorname" and width == 170 + 2 * 16,
                      "the sheet put in place has its focus and its field's picture (%s)" % active_id(browser))
        shown = subprocess.run([args.velkdesk, "--db", clerks_db, "show", "3"], capture_output=True, text=True).stdout
        checks.expect('anna vorname: "Grete" -> "Grete", settles low-confidence: read unsure' in shown and
                      'anna zip: "50667" -> "60667", settles rival' in shown and
                      'anna city: "Koln" -> "Bonn-Beuel", settles ink-mismatch' in shown and
                      "review: none needed" in shown, "velkdesk show lists the three settled doubts:\n" + shown)
        exported = subprocess.run([args.velkdesk, "--db", clerks_db, "export"], capture_output=True, text=True)
        line = [l for l in exported.stdout.splitlines() if "fax0.tif" in l]
        checks.expect(len(line) == 1 and "60667" in line[0] and "Bonn-Beuel" in line[0],
                      "the export carries the corrections: %s %s" % (line, exported.stderr.strip()))
        with sqlite3.connect(clerks_db) as con:
            left = [row[0] for row in con.execute("SELECT DISTINCT registration_id FROM doubt ORDER BY 1")]
        checks.expect(left == [2, 4], "registrations 1 and 3 have left the queue: %s" % left)

        # A stale save: Anna has 2 open while Ben settles it; her save is refused with his values.
        browser.get(station.base + "/registration?id=2")
        status, location, _ = ben.request("POST", "/registration/save",
                                          {"id": "2", "o_vorname": HOSTILE, "f_vorname": "Bernd"})
        checks.expect(status == 303, "the second clerk's save goes in: %s %s" % (status, location))
        old = browser.find_element(By.TAG_NAME, "html")
        ActionChains(browser).send_keys("Anna war hier", Keys.ENTER).perform()
        wait_for_new_page(browser, old)
        notice = browser.find_elements(By.ID, "notice")
        checks.expect(notice and "inzwischen geändert" in notice[0].text and
                      browser.find_element(By.ID, "f-vorname").get_attribute("value") == "Bernd",
                      "the stale save is refused with the current values")
        shown = subprocess.run([args.velkdesk, "--db", clerks_db, "show", "2"], capture_output=True, text=True).stdout
        checks.expect("vorname: Bernd" in shown and "Anna war hier" not in shown, "nothing was overwritten")

        # Two clerks with the next registration ready never get the same one: Anna's page of 4
        # holds 5 for her, Ben is given 6 and has 7 ready; Anna's save then shows her 5.
        with sqlite3.connect(clerks_db) as con:
            columns = [row[1] for row in con.execute("PRAGMA table_info(registration)")
                       if row[1] not in ("id", "dedup_key", "imported_at")]
            for n in range(3):
                reg = con.execute("INSERT INTO registration (dedup_key, %s) SELECT ?, %s FROM registration WHERE id = 4"
                                  % (", ".join(columns), ", ".join(columns)), ("more%d" % n,)).lastrowid
                con.execute("INSERT INTO page_image SELECT ?, page, width, height, format, image FROM page_image"
                            " WHERE registration_id = 4", (reg,))
                con.execute("INSERT INTO doubt (registration_id, position, field, kind, message, confidence, page, box_x,"
                            " box_y, box_width, box_height) SELECT ?, position, field, kind, message, confidence, page,"
                            " box_x, box_y, box_width, box_height FROM doubt WHERE registration_id = 4", (reg,))
        browser.get(station.base + "/registration?id=4")
        reserved_until = wait_for_reservation(clerks_db, "anna", 5)
        checks.expect(0 < reserved_until - time.time() <= 121, "the reservation is short: %.0f s left"
                      % (reserved_until - time.time()))
        status, location, _ = ben.request("POST", "/next", {})
        ben_ready = ben.request("POST", "/registration/reserve", {"after": "6"})
        checks.expect(location == "/registration?id=6" and ben_ready[0] == 200 and "<h1>Registrierung 7</h1>" in ben_ready[2],
                      "the other clerk gets 6 and has 7 ready: %s %s" % (location, ben_ready[0]))
        browser.execute_script("window.velkTestMark = 'same window';")
        old = browser.find_element(By.TAG_NAME, "html")
        ActionChains(browser).send_keys(Keys.ENTER, Keys.ENTER, Keys.ENTER).perform()
        wait_for_new_page(browser, old)
        checks.expect(browser.current_url == station.base + "/registration?id=5&done=4" and
                      browser.execute_script("return window.velkTestMark;") == "same window" and
                      active_id(browser) == "f-vorname",
                      "her own reserved registration is put in place: %s, focus %s" % (browser.current_url, active_id(browser)))
        with sqlite3.connect(clerks_db) as con:
            held = con.execute("SELECT registration, clerk FROM lease WHERE expires_at > CAST(strftime('%s', 'now') AS INTEGER)"
                               " ORDER BY registration").fetchall()
        checks.expect([r for r, c in held if c == "anna"][:1] == [5] and [r for r, c in held if c == "ben"] == [6, 7],
                      "every registration is one clerk's: %s" % held)

        # A POST without the session's token changes nothing: the clerk stays logged in.
        old = browser.find_element(By.TAG_NAME, "html")
        browser.execute_script(
            "const f = document.createElement('form'); f.method = 'post'; f.action = '/logout';"
            "document.body.appendChild(f); f.submit();")
        WebDriverWait(browser, 10).until(lambda b: old.id != b.find_element(By.TAG_NAME, "html").id)
        refused = browser.find_elements(By.ID, "error-message")
        checks.expect(refused and "Zeichen dieser Sitzung" in refused[0].text, "a logout without the token is refused")
        browser.get(station.base + "/")
        checks.expect(browser.find_elements(By.ID, "queue-count") != [], "and the session is still open")

        # Logging out with the page's own form ends the session.
        submit(browser, browser.find_element(By.CSS_SELECTOR, ".logout button"))
        browser.get(station.base + "/")
        checks.expect(browser.current_url == station.base + "/login", "logged out")

        # Repeated wrong passwords are slowed: the wait doubles (1, 2, 4 s after the free first
        # one; the doubling itself is a unit test), and while it runs even the right password is
        # turned away. A loaded machine may let a short wait run out before the browser tries
        # again, so wrong passwords go on until one is turned away with a few seconds left.
        log_in(browser, station.base, "anna", "falsch-1")
        message, left, started = "", 0, time.monotonic()
        attempt = 2
        while time.monotonic() - started < 60:
            log_in(browser, station.base, "anna", "falsch-%d" % attempt)
            attempt += 1
            message = browser.find_element(By.ID, "login-message").text
            waiting = re.search(r"in (\d+) Sekunden", message)
            left = int(waiting.group(1)) if waiting and "Zu viele Fehlversuche" in message else 0
            if left >= 3:
                break
        checks.expect(left >= 3, "a wrong password right after another waits: " + message)
        log_in(browser, station.base, "anna", PASSWORD)
        message = browser.find_element(By.ID, "login-message").text
        checks.expect(browser.current_url == station.base + "/login" and "Zu viele Fehlversuche" in message,
                      "the right password is refused while the delay runs: " + message)
        time.sleep(left + 0.2)
        log_in(browser, station.base, "anna", PASSWORD)
        checks.expect(browser.current_url == station.base + "/", "after the delay the right password gets in")
        log = station.stop()
        checks.expect(PASSWORD not in log and "falsch" not in log, "no password reaches the station's log")
    finally:
        if browser:
            browser.quit()
        for s in stations:
            s.stop()
        shutil.rmtree(folder, ignore_errors=True)

    return checks.result()


if __name__ == "__main__":
    sys.exit(main())
