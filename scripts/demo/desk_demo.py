#!/usr/bin/python3
"""The demo's end at the registration desk, on a database that already holds what VelkRun sent:

1. a customer registers the web way: `velkdesk form` on loopback, a headless Chromium opens it as
   the product's online target does (article number and title in the address), types a
   registration and sends it;
2. `velkdesk export` must hold that registration with every field as typed, beside the
   registrations of the channels named by --expect (the mail and the faxed sheet);
3. `velkdesk serve` opens on the database with its one-time address: with --screenshots DIR a
   headless Chromium saves the queue and one registration with its doubts (the faxed sheet's
   where it has any) there; with --serve the address is printed and the station runs until
   Ctrl+C.

    desk_demo.py --velkdesk PATH --db FILE [--expect mail,fax] (--screenshots DIR | --serve)
"""
import argparse
import csv
import io
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "desk", "web"))
import browser_support as bs  # noqa: E402

ARTICLE = "VM-2027-ATL"
TITLE = "VELK Media Atlas 2027"
SETTINGS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "VelkRun.ini")

# The web customer's entries by the form's field ids, and what the export must hold for them.
TYPED = {"firstname": "Hans-Jürgen", "lastname": "Weißgerber", "street": "Königsallee 12a", "zip": "40212",
         "city": "Düsseldorf", "country": "Oesterreich", "firm": "Weißgerber & Söhne GmbH",
         "phone": "+49 211 5550123", "fax": "0211 5550124", "where": "Katalog",
         "howknown": "Freund/Bekannter", "date": "2026-11-28", "howoften": "1-2 x / Jahr",
         "products": "Atlas 2026, Routenplaner", "age": "älter als 50 Jahre", "occupation": "Leitender Angestellter",
         "children": "nein", "pctype": "Pentium IV", "os": "Windows XP", "skill": "Profi",
         "vipcustomer": False, "vipwanted": True, "username": "hj.weissgerber@example.de",
         "password1": "Rhein-Ufer-2027", "password2": "Rhein-Ufer-2027"}
EXPECTED = {"username": "hj.weissgerber@example.de", "password_1": "Rhein-Ufer-2027",
            "password_2": "Rhein-Ufer-2027", "aggraccept": "ja", "vipkunde": "nein", "vorname": "Hans-Jürgen",
            "nachname": "Weißgerber", "firm": "Weißgerber & Söhne GmbH", "addr": "Königsallee 12a",
            "city": "Düsseldorf", "zip": "40212", "land": "Oesterreich", "tel": "+49 211 5550123",
            "fax": "0211 5550124", "alt": "älter als 50 Jahre", "berstell": "Leitender Angestellter", "lebkindih": "nein",
            "pctyp": "Pentium IV", "betrsystem": "Windows XP", "anwender": "Profi", "gprod": ARTICLE,
            "gprodg": "Katalog", "wgekauf": "Freund/Bekannter", "dgekauf": "28.11.2026",
            "pgekauf": "Atlas 2026, Routenplaner", "kaufoft": "1-2 x / Jahr"}
SECRET = {"password_1", "password_2"}


def fail(message):
    print("desk demo: FAILED: " + message, file=sys.stderr, flush=True)
    raise SystemExit(1)


def register_online(browser, velkdesk, db):
    """The web customer fills the online form and sends it; returns once the desk holds it."""
    from selenium.webdriver.common.by import By

    form = bs.Server([velkdesk, "--db", db, "form", "--listen", "127.0.0.1:0", "--settings", SETTINGS])
    try:
        browser.get(form.base + "/?artikel=%s&titel=%s" % (ARTICLE, TITLE.replace(" ", "%20")))
        shown = browser.find_element(By.ID, "article").get_attribute("value")
        if shown != ARTICLE:
            fail("the online form shows article %r, not %r from the address" % (shown, ARTICLE))
        bs.fill_online_form(browser, TYPED)
        time.sleep(1.2)  # a person takes longer than the form's minimum time
        bs.wait_new_page(browser, browser.find_element(By.ID, "send").click)
        if not browser.find_elements(By.ID, "thanks"):
            errors = [e.text for e in browser.find_elements(By.CSS_SELECTOR, "[role=alert]")]
            fail("the online form did not take the registration: %s" % (errors or browser.title))
        # The form keeps a post in its spool until its mover has brought it into the database.
        spool = db + "-web"
        deadline = time.monotonic() + 20
        while os.path.exists(spool) and time.monotonic() < deadline:
            with sqlite3.connect(spool) as con:
                if con.execute("SELECT count(*) FROM registration").fetchone()[0] == 0:
                    break
            time.sleep(0.05)
    finally:
        log = form.stop()
    if "registration arrived" not in log:
        fail("the form's log does not say that a registration arrived:\n" + log)
    print("online form: a registration arrived from %s" % form.base)


def check_export(velkdesk, db, channels):
    """The export holds the web registration exactly as typed, and what came by each channel asked
    for, as a registration or as a further source of one."""
    exported = subprocess.run([velkdesk, "--db", db, "export", "--with-passwords", "--no-formula-guard"],
                              capture_output=True, text=True, timeout=60)
    if exported.returncode != 0:
        fail("velkdesk export: " + exported.stderr.strip())
    rows = list(csv.DictReader(io.StringIO(exported.stdout.lstrip("\ufeff")), delimiter=";"))
    for row in rows:
        print("  %-3s %-5s %-24s %s" % (row["id"], row["channel"], (row["vorname"] + " " + row["nachname"])[:24],
                                         "review: " + row["review"] if row["review"] else "complete"))
    web = [r for r in rows if r["channel"] == "web"]
    if len(web) != 1:
        fail("the export holds %d web registrations, not 1" % len(web))
    missing = [k for k in EXPECTED if k not in web[0]]
    if missing:
        fail("the export has no column %s" % ", ".join(missing))
    # Passwords are named, never shown.
    wrong = ["%s: %s instead of %s" % (k, "(a password)" if k in SECRET else repr(web[0][k]),
                                       "(the one typed)" if k in SECRET else repr(v))
             for k, v in EXPECTED.items() if web[0][k] != v]
    if wrong:
        fail("the web registration is not exported as typed:\n  " + "\n  ".join(wrong))
    # A mail and a sheet with the same answers are one registration, the later one a further source.
    arrived = {r["channel"] for r in rows}
    for row in rows:
        shown = subprocess.run([velkdesk, "--db", db, "show", row["id"]], capture_output=True, text=True, timeout=60)
        arrived.update(line.split()[2] for line in shown.stdout.splitlines() if line.startswith("also from: "))
    for channel in channels:
        if channel not in arrived:
            fail("the desk holds nothing that came by %s" % channel)
    print("export: the web registration's %d fields as typed; %s arrived too"
          % (len(EXPECTED), " and ".join(channels) or "nothing else"))


def shown_registration(db):
    """The registration to show: the faxed sheet's with doubts, else any with doubts, else the fax."""
    with sqlite3.connect(db) as con:
        for query in ("SELECT r.id FROM registration r WHERE r.channel = 'fax' AND EXISTS"
                      " (SELECT 1 FROM doubt d WHERE d.registration_id = r.id) ORDER BY r.id",
                      "SELECT DISTINCT registration_id FROM doubt ORDER BY 1",
                      "SELECT id FROM registration WHERE channel = 'fax' ORDER BY id",
                      "SELECT id FROM registration ORDER BY id"):
            row = con.execute(query).fetchone()
            if row:
                return row[0]
    return None


def fit_height(browser, width, most=2400):
    """Makes the window as tall as the page (up to `most`), so one screenshot holds all of it."""
    browser.set_window_size(width, 200)
    height = browser.execute_script("return document.documentElement.scrollHeight + window.outerHeight"
                                    " - window.innerHeight")
    browser.set_window_size(width, min(most, height))


def screenshots(browser, velkdesk, db, folder):
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait

    station = bs.station(velkdesk, db)
    try:
        browser.get(station.address)
        if browser.current_url != station.base + "/" or not browser.find_elements(By.ID, "queue-count"):
            fail("the station's one-time address did not open the queue: " + browser.current_url)
        waiting = browser.find_element(By.ID, "queue-count").get_attribute("data-count")
        fit_height(browser, 1280)
        queue = os.path.join(folder, "8_desk_queue.png")
        browser.save_screenshot(queue)

        reg = shown_registration(db)
        browser.set_window_size(1280, 1000)
        browser.get(station.base + "/registration?id=%d" % reg)
        # A password's ink is shown only with the password: the clerk asks for both, as one would
        # to check a password read from a fax (the demo customer's, printed on her sheet anyway).
        reveal = browser.find_elements(By.ID, "reveal")
        if reveal:
            bs.wait_new_page(browser, reveal[0].click)
        images = browser.find_elements(By.CSS_SELECTOR, "img.field-image")
        WebDriverWait(browser, 20).until(lambda b: all(b.execute_script(
            "return arguments[0].complete && arguments[0].naturalWidth > 0;", i) for i in images))
        doubts = browser.find_elements(By.CSS_SELECTOR, ".doubt-text")
        with sqlite3.connect(db) as con:
            on_page = con.execute("SELECT count(*) FROM doubt WHERE registration_id = ? AND page > 0 AND box_width > 0",
                                  (reg,)).fetchone()[0]
        if on_page and not images:
            fail("registration %d has doubts on its page but no field picture shows" % reg)
        shown = os.path.join(folder, "9_desk_registration.png")
        browser.save_screenshot(shown)
        print("station: the queue (%s waiting) and registration %d with %d doubt(s), %d field picture(s)"
              % (waiting, reg, len(doubts), len(images)))
    finally:
        log = station.stop()
    if "token=" in log:
        fail("the station's log shows the one-time token")


def serve(velkdesk, db):
    station = bs.station(velkdesk, db, stderr=None)
    print("\nThe review station runs on the demo database. Open this address once (it holds a one-time"
          " token):\n\n    %s\n\nCtrl+C ends it." % station.address, flush=True)
    try:
        station.process.wait()
    except KeyboardInterrupt:
        print()
    finally:
        station.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--velkdesk", required=True)
    parser.add_argument("--db", required=True)
    parser.add_argument("--expect", default="", help="channels that must be in the export beside web, e.g. mail,fax")
    mode = parser.add_mutually_exclusive_group(required=True)
    mode.add_argument("--screenshots", help="save the station's screenshots in this folder")
    mode.add_argument("--serve", action="store_true", help="leave the station running for a browser of your own")
    args = parser.parse_args()
    why = bs.missing_browser()
    if why:
        fail(why)

    profile = tempfile.mkdtemp(prefix="velk-demo-browser-")
    browser = None
    try:
        browser = bs.headless_chromium(profile, size=(1280, 1000))
        register_online(browser, args.velkdesk, args.db)
        check_export(args.velkdesk, args.db, [c for c in args.expect.split(",") if c])
        if args.screenshots:
            screenshots(browser, args.velkdesk, args.db, args.screenshots)
    finally:
        if browser:
            browser.quit()
        shutil.rmtree(profile, ignore_errors=True)
    if args.serve:
        serve(args.velkdesk, args.db)
    return 0


if __name__ == "__main__":
    sys.exit(main())
