"""What the browser tests share: a copy of the sample configuration, zunservice on a free port of
127.0.0.1, headless Chromium with the service as its only proxy, and a small web site to browse to."""
import http.server
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException, TimeoutException, WebDriverException
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as seen
from selenium.webdriver.support.ui import WebDriverWait

# How long a step waits for the page it leads to; a busy machine may take a few seconds.
PAGE_SECONDS = 20


class Lessons(http.server.BaseHTTPRequestHandler):
    """Answers every GET with the same small page."""

    def do_GET(self):
        page = b"<!DOCTYPE html><html><head><title>Lessons</title></head><body><h1>School lessons</h1></body></html>"
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(page)))
        self.end_headers()
        self.wfile.write(page)

    def log_message(self, *arguments):
        pass


class Origin:
    """A web site of the test's own on a free port of 127.0.0.1, and a hosts file in the folder `work` that
    sends `names` there; the service takes both with the options of service_options()."""

    def __init__(self, work, names):
        self.hosts = os.path.join(work, "hosts")
        with open(self.hosts, "w") as f:
            f.write("127.0.0.1 %s\n" % " ".join(names))
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Lessons)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.port = self.server.server_address[1]

    def service_options(self):
        return ["--proxy.hosts_file", self.hosts, "--proxy.allow_local", "true"]

    def close(self):
        self.server.shutdown()


class Shows:
    """A marker of a page: its first element `tag` (the heading by default) holds `text`."""

    def __init__(self, text, tag="h1"):
        self.text = text
        self.tag = tag

    def __call__(self, driver):
        return self.text in driver.find_element(By.TAG_NAME, self.tag).text

    def __str__(self):
        return "%s %r" % ("the heading" if self.tag == "h1" else "a " + self.tag + " with", self.text)


def went_stale(failure):
    """Whether a failed command acted on a node of a document that has been replaced."""
    return isinstance(failure, StaleElementReferenceException) or "does not belong to the document" in str(failure)


class Pages:
    """Acts only on the document it waited for. A step that leaves a page (a click, a form sent, an address
    opened) remembers that page's document; arrive() waits until it is gone and the next page shows its
    marker, and only then are the next page's elements looked for. A click on a node that went stale is
    tried once more on the node of the new document."""

    def __init__(self, driver):
        self.driver = driver
        # A document being replaced answers with errors for a moment: the waits look again.
        self.wait = WebDriverWait(driver, PAGE_SECONDS, ignored_exceptions=[WebDriverException])
        self.left = None

    def find(self, locator):
        return self.wait.until(lambda d: d.find_element(*locator))

    def go(self, url):
        """Opens `url`; the caller then waits with arrive()."""
        self.left = self.find((By.TAG_NAME, "html"))
        self.driver.get(url)

    def open(self, url, marker):
        """Opens `url` and waits for its page."""
        self.go(url)
        self.arrive(marker)

    def follow(self, locator, confirm=False):
        """Clicks the element at `locator`, which leads to another page; `confirm` accepts the question the
        click asks first. The caller then waits with arrive()."""
        for attempt in (1, 2):
            self.left = self.find((By.TAG_NAME, "html"))
            try:
                self.find(locator).click()
                break
            except WebDriverException as failure:
                if attempt == 2 or not went_stale(failure):
                    raise
        if confirm:
            self.wait.until(seen.alert_is_present()).accept()

    def arrive(self, marker):
        """Waits until the page left is gone and the new one shows `marker` and has loaded."""
        try:
            if self.left is not None:
                self.wait.until(seen.staleness_of(self.left))
            self.left = None
            self.wait.until(marker)
            self.wait.until(lambda d: d.execute_script("return document.readyState") == "complete")
        except TimeoutException:
            raise AssertionError("no page with %s came within %d s; the browser shows %s headed %r"
                                 % (marker, PAGE_SECONDS, self.driver.current_url, self.heading())) from None

    def heading(self):
        try:
            headings = self.driver.find_elements(By.TAG_NAME, "h1")
            return headings[0].text if headings else None
        except WebDriverException:
            return None


class Site:
    """The service on a copy of BUILD/cfg, its output folder BUILD/browser-output/NAME, and the browser."""

    def __init__(self, build, name):
        self.build = os.path.abspath(build)
        self.output = os.path.join(self.build, "browser-output", name)
        shutil.rmtree(self.output, ignore_errors=True)
        os.makedirs(self.output)
        self.work = tempfile.mkdtemp(prefix="tollwick-browser-")
        self.cfg = os.path.join(self.work, "cfg")
        shutil.copytree(os.path.join(self.build, "cfg"), self.cfg)
        self.service = None
        self.port = 0
        self.driver = None

    def policy_command(self, *arguments):
        """Runs tollwick-policy on the copy; returns its exit status and output."""
        done = subprocess.run([os.path.join(self.build, "tools", "tollwick-policy"), "--config", self.cfg]
                              + list(arguments), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        return done.returncode, done.stdout.strip()

    def start_service(self, *options):
        """Starts zunservice with the given options, on the port of the previous start when there was one."""
        self.service = subprocess.Popen([os.path.join(self.build, "host", "zunservice"), "-C", self.work,
                                         "--threads", "2", "--listen", "127.0.0.1:%d" % self.port]
                                        + list(options),
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        first = []
        reader = threading.Thread(target=lambda: first.append(self.service.stdout.readline()))
        reader.start()
        reader.join(20)
        line = first[0].strip() if first else ""
        if not line.startswith("listening on 127.0.0.1:"):
            self.service.kill()
            raise SystemExit("zunservice did not say where it listens; it printed %r and %r"
                             % (line, self.service.stderr.read()))
        self.port = int(line.rsplit(":", 1)[1])

    def stop_service(self):
        """Stops the service with SIGTERM; returns None, or what went wrong."""
        self.service.send_signal(signal.SIGTERM)
        try:
            status = self.service.wait(20)
        except subprocess.TimeoutExpired:
            self.service.kill()
            status = "no exit within 20 s"
        errors = self.service.stderr.read()
        self.service = None
        return None if status == 0 else "zunservice ended with %s after SIGTERM: %s" % (status, errors)

    def start_browser(self, pac=False):
        """Starts Chromium with the service as its proxy, or with its /proxy.pac as the automatic
        configuration when `pac`; returns the Pages that drive it."""
        proxy = (["--proxy-pac-url=http://127.0.0.1:%d/proxy.pac" % self.port] if pac else
                 ["--proxy-server=127.0.0.1:%d" % self.port, "--proxy-bypass-list=<-loopback>"])
        options = Options()
        for flag in proxy + ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--no-first-run", "--disable-background-networking", "--disable-component-update",
                     "--disable-sync",
                     "--disable-features=NetworkTimeServiceQuerying,OptimizationHints,MediaRouter,"
                     "AutofillServerCommunication,PasswordLeakDetection",
                     "--window-size=1000,800"]:
            options.add_argument(flag)
        options.binary_location = "/usr/bin/chromium"
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        self.driver.set_page_load_timeout(PAGE_SECONDS)
        return Pages(self.driver)

    def screenshot(self, name):
        self.driver.save_screenshot(os.path.join(self.output, name + ".png"))

    def keep_failure(self):
        """Saves what the browser shows, for a failed step."""
        if self.driver is not None:
            self.screenshot("failure")
            with open(os.path.join(self.output, "failure.html"), "w") as page:
                page.write(self.driver.page_source)

    def close(self):
        """Ends the browser and the service and removes the copy; returns None, or the service's failure."""
        if self.driver is not None:
            self.driver.quit()
        failure = self.stop_service() if self.service is not None else None
        shutil.rmtree(self.work, ignore_errors=True)
        return failure

    def end(self, step=None, failure=None):
        """Closes everything; after a failure keeps what the browser saw and says which step failed. Returns
        the exit status of the test."""
        if failure is not None:
            self.keep_failure()
            print("browser: could not %s: %s" % (step, failure), file=sys.stderr)
            print("browser: what the browser saw is in", self.output, file=sys.stderr)
        problem = self.close()
        if problem:
            print("browser:", problem, file=sys.stderr)
        return 1 if failure is not None or problem else 0
