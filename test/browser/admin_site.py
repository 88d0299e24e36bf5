#!/usr/bin/python3
"""The administration site in a real browser: Chromium, headless, with the service as its only proxy.

    admin_site.py BUILD_DIR

Copies the sample configuration of BUILD_DIR, sets an administrator password with the policy command,
starts zunservice on a free port of 127.0.0.1, and drives Chromium through it: http://admin.tollwick/
asks for the login, the login leads to the home page, and its help link to the help page. A screenshot of
each page goes to BUILD_DIR/browser-output; on a failure also the page source and the service's output.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading

from selenium import webdriver
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as seen
from selenium.webdriver.support.ui import WebDriverWait

PASSWORD = "correct horse"


def start_service(build, work):
    service = subprocess.Popen([os.path.join(build, "host", "zunservice"), "-C", work, "--threads", "2",
                                "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               text=True)
    first = []
    reader = threading.Thread(target=lambda: first.append(service.stdout.readline()))
    reader.start()
    reader.join(20)
    line = first[0].strip() if first else ""
    if not line.startswith("listening on 127.0.0.1:"):
        service.kill()
        raise SystemExit("zunservice did not say where it listens; it printed %r and %r"
                         % (line, service.stderr.read()))
    return service, int(line.rsplit(":", 1)[1])


def browser(port):
    options = Options()
    for flag in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--proxy-server=127.0.0.1:%d" % port, "--proxy-bypass-list=<-loopback>", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-features=NetworkTimeServiceQuerying,OptimizationHints,MediaRouter",
                 "--window-size=1000,800"]:
        options.add_argument(flag)
    options.binary_location = "/usr/bin/chromium"
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_page_load_timeout(20)
    return driver


def main():
    build = os.path.abspath(sys.argv[1])
    output = os.path.join(build, "browser-output")
    shutil.rmtree(output, ignore_errors=True)
    os.makedirs(output)
    work = tempfile.mkdtemp(prefix="tollwick-browser-")
    shutil.copytree(os.path.join(build, "cfg"), os.path.join(work, "cfg"))
    subprocess.run([os.path.join(build, "tools", "tollwick-policy"), "--config", os.path.join(work, "cfg"),
                    "password", PASSWORD], check=True, stdout=subprocess.DEVNULL)
    service, port = start_service(build, work)
    driver = None
    step = "start the browser"
    try:
        driver = browser(port)
        wait = WebDriverWait(driver, 10)
        heading = lambda text: seen.text_to_be_present_in_element((By.TAG_NAME, "h1"), text)

        step = "open http://admin.tollwick/ and see the login page"
        driver.get("http://admin.tollwick/")
        wait.until(heading("Sign in"))
        driver.save_screenshot(os.path.join(output, "login.png"))

        step = "log in and see the home page"
        driver.find_element(By.ID, "login").send_keys("wexor")
        driver.find_element(By.ID, "password").send_keys(PASSWORD)
        driver.find_element(By.ID, "sign-in").click()
        wait.until(heading("Welcome to Tollwick"))
        wait.until(lambda d: d.execute_script(
            "var i = document.querySelector('.brand img'); return i.complete && i.naturalWidth > 0;"))
        driver.save_screenshot(os.path.join(output, "home.png"))

        step = "follow the help link and see the help page"
        driver.find_element(By.ID, "home-help").click()
        wait.until(heading("Help"))
        driver.save_screenshot(os.path.join(output, "help.png"))
        print("browser: login, home and help pages seen; screenshots in", output)
    except (WebDriverException, AssertionError) as failure:
        if driver is not None:
            driver.save_screenshot(os.path.join(output, "failure.png"))
            with open(os.path.join(output, "failure.html"), "w") as page:
                page.write(driver.page_source)
        print("browser: could not %s: %s" % (step, failure), file=sys.stderr)
        print("browser: what the browser saw is in", output, file=sys.stderr)
        return 1
    finally:
        if driver is not None:
            driver.quit()
        service.send_signal(signal.SIGTERM)
        try:
            status = service.wait(20)
        except subprocess.TimeoutExpired:
            service.kill()
            status = "no exit within 20 s"
        errors = service.stderr.read()
        shutil.rmtree(work, ignore_errors=True)
    if status != 0:
        print("browser: zunservice ended with %s after SIGTERM: %s" % (status, errors), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
