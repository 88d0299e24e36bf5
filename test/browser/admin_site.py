#!/usr/bin/python3
"""The administration site in a real browser: Chromium, headless, with the service as its only proxy.

    admin_site.py BUILD_DIR

Copies the sample configuration of BUILD_DIR, sets an administrator password with the policy command,
starts zunservice on a free port of 127.0.0.1, and drives Chromium through it: http://admin.tollwick/
asks for the login, the login leads to the home page, and its help link to the help page. A screenshot of
each page goes to BUILD_DIR/browser-output/admin_site; on a failure also the page source and the service's output.
"""
import sys

from selenium.common.exceptions import WebDriverException
from selenium.webdriver.common.by import By

from site_driver import Shows, Site

PASSWORD = "correct horse"


def main():
    site = Site(sys.argv[1], "admin_site")
    site.policy_command("password", PASSWORD)
    site.start_service()
    step = "start the browser"
    try:
        pages = site.start_browser()

        step = "open http://admin.tollwick/ and see the login page"
        pages.open("http://admin.tollwick/", Shows("Sign in"))
        site.screenshot("login")

        step = "log in and see the home page"
        pages.find((By.ID, "login")).send_keys("wexor")
        pages.find((By.ID, "password")).send_keys(PASSWORD)
        pages.follow((By.ID, "sign-in"))
        pages.arrive(Shows("Welcome to Tollwick"))
        pages.wait.until(lambda d: d.execute_script(
            "var i = document.querySelector('.brand img'); return i.complete && i.naturalWidth > 0;"))
        site.screenshot("home")

        step = "follow the help link and see the help page"
        pages.follow((By.ID, "home-help"))
        pages.arrive(Shows("Help"))
        site.screenshot("help")
        print("browser: login, home and help pages seen; screenshots in", site.output)
    except (WebDriverException, AssertionError) as failure:
        return site.end(step, failure)
    return site.end()


if __name__ == "__main__":
    sys.exit(main())
