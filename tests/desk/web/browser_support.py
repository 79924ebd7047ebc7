"""What the desk's browser tests, the station benchmark and the demo share: a velkdesk server on
loopback whose first output line is its address, a headless Chromium with a fresh profile, a
one-bit G4 page made with Leptonica, and a list of checks. Selenium is imported only when a
browser is asked for, so the benchmark runs without it.
"""
import ctypes
import os
import subprocess

SKIP = 77  # CTest's skip code (SKIP_RETURN_CODE)
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"


def missing_browser():
    """Why no browser can be driven here ("" when one can): what to install."""
    try:
        import selenium  # noqa: F401
    except ImportError:
        return "python3-selenium is not installed (scripts/install-deps.sh installs it)"
    if not (os.access(CHROMIUM, os.X_OK) and os.access(CHROMEDRIVER, os.X_OK)):
        return "chromium or chromium-driver is not installed (scripts/install-deps.sh installs them)"
    return ""


class Server:
    """One velkdesk process (`serve` or `form`) whose first output line is its address; `base`
    is that address without the one-time token's path."""

    def __init__(self, args, stderr=subprocess.PIPE):
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=stderr, text=True)
        self.address = self.process.stdout.readline().strip()
        if not self.address.startswith("http://"):
            error = self.stop()
            raise RuntimeError("%s did not start: %s" % (" ".join(args), error))
        self.base = self.address.split("/auth?")[0].rstrip("/")

    @property
    def pid(self):
        return self.process.pid

    def stop(self):
        """Ends the server; returns what it wrote to standard error ("" when not captured)."""
        if self.process.poll() is None:
            self.process.terminate()
        try:
            return self.process.communicate(timeout=30)[1] or ""
        except subprocess.TimeoutExpired:
            self.process.kill()
            return self.process.communicate()[1] or ""


def station(velkdesk, db, listen="127.0.0.1:0", **kwargs):
    return Server([velkdesk, "--db", db, "serve", "--listen", listen], **kwargs)


def headless_chromium(profile, size=(1280, 1000), console_log=True):
    """A headless Chromium through chromedriver with a fresh profile in the folder `profile`; its
    window `size` in pixels (None: Chromium's own), the console's messages kept for get_log."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + profile):
        options.add_argument(flag)
    if console_log:
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    browser = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    browser.set_page_load_timeout(30)
    if size:
        browser.set_window_size(*size)
    return browser


def wait_new_page(browser, action, timeout=10):
    """Runs `action` (a click that sends a form, say) and waits until its answer replaced the page."""
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait

    old = browser.find_element(By.TAG_NAME, "html")
    action()
    WebDriverWait(browser, timeout).until(lambda b: old.id != b.find_element(By.TAG_NAME, "html").id)


def fill_online_form(browser, entries):
    """Types `entries` into `velkdesk form`'s page by field id: text as keys, a list item by its
    text, a box ticked or not (True, False), a date field's value as sent (YYYY-MM-DD)."""
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select

    for name, value in entries.items():
        element = browser.find_element(By.ID, name)
        if isinstance(value, bool):
            if element.is_selected() != value:
                element.click()
        elif element.tag_name == "select":
            Select(element).select_by_visible_text(value)
        elif element.get_attribute("type") == "date":
            # Typing into a date field follows the browser's locale; the value is what is sent.
            browser.execute_script("arguments[0].value = arguments[1]", element, value)
        else:
            element.clear()
            element.send_keys(value)


def g4_page(width, height, bars):
    """A white one-bit page with black bars (x, y, w, h) as a Group 4 TIFF, what the sheet reader
    stores; made with Leptonica, which velkdesk links anyway."""
    lept = ctypes.CDLL("liblept.so.5")
    lept.pixCreate.restype = ctypes.c_void_p
    lept.pixCreate.argtypes = [ctypes.c_int] * 3
    lept.boxCreate.restype = ctypes.c_void_p
    lept.boxCreate.argtypes = [ctypes.c_int] * 4
    lept.pixSetInRect.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
    lept.pixWriteMemTiff.argtypes = [ctypes.POINTER(ctypes.c_void_p), ctypes.POINTER(ctypes.c_size_t), ctypes.c_void_p,
                                     ctypes.c_int]
    lept.pixDestroy.argtypes = [ctypes.POINTER(ctypes.c_void_p)]
    lept.boxDestroy.argtypes = [ctypes.POINTER(ctypes.c_void_p)]
    lept.lept_free.argtypes = [ctypes.c_void_p]
    pix = ctypes.c_void_p(lept.pixCreate(width, height, 1))
    for bar in bars:
        box = ctypes.c_void_p(lept.boxCreate(*bar))
        lept.pixSetInRect(pix, box)
        lept.boxDestroy(ctypes.byref(box))
    data, size = ctypes.c_void_p(), ctypes.c_size_t()
    if lept.pixWriteMemTiff(ctypes.byref(data), ctypes.byref(size), pix, 8) != 0:  # IFF_TIFF_G4
        raise RuntimeError("no TIFF written")
    tiff = ctypes.string_at(data, size.value)
    lept.lept_free(data)
    lept.pixDestroy(ctypes.byref(pix))
    return tiff


class Checks:
    """Checks that say what they found and are counted, so one run reports every failure."""

    def __init__(self):
        self.failures = []

    def expect(self, condition, what):
        print(("ok   " if condition else "FAIL ") + what, flush=True)
        if not condition:
            self.failures.append(what)

    def result(self):
        """The exit code: 0 when every check passed."""
        if self.failures:
            print("%d check(s) failed" % len(self.failures))
            return 1
        print("all checks passed")
        return 0
