#!/usr/bin/python3
"""The filtering proxy in a real browser: Chromium, headless, with the service as its only proxy.

    proxy_browse.py BUILD_DIR

Copies the sample configuration of BUILD_DIR with this machine (127.0.0.1) as the children's computer, their
time rules off, starts a small web site of its own on a free port of 127.0.0.1, and zunservice with a hosts
file that sends school.example and games.example there. Chromium then opens a page of school.example (it
renders), one of games.example, which the children's blocked sites list refuses (the blocking page with its
reason), and the administration site, in one session. Screenshots go to BUILD_DIR/browser-output/proxy_browse.
"""
import os
import sys

from selenium.common.exceptions import WebDriverException
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as seen
from selenium.webdriver.support.ui import WebDriverWait

from site_driver import Origin, Site


def children_on_this_machine(cfg):
    path = os.path.join(cfg, "zun_data.xml")
    with open(path) as f:
        policy = f.read()
    child = "<id>192.168.1.10</id><ip>192.168.1.10</ip>"
    assert child in policy, "the sample's children's computer is not where it was"
    policy = policy.replace(child, "<id>127.0.0.1</id><ip>127.0.0.1</ip>")
    for switch in ["istimetableenabled", "timelimitsenabled", "trafficlimitsenabled"]:
        policy = policy.replace("<%s>1</%s>" % (switch, switch), "<%s>0</%s>" % (switch, switch))
    with open(path, "w") as f:
        f.write(policy)


def main():
    site = Site(sys.argv[1], "proxy_browse")
    children_on_this_machine(site.cfg)
    origin = Origin(site.work, ["school.example", "games.example"])
    port = origin.port
    site.start_service(*origin.service_options())
    step = "start the browser"
    try:
        driver = site.start_browser()
        wait = WebDriverWait(driver, 10)
        heading = lambda text: seen.text_to_be_present_in_element((By.TAG_NAME, "h1"), text)

        step = "open an allowed page and see it rendered"
        driver.get("http://school.example:%d/lessons" % port)
        wait.until(heading("School lessons"))
        site.screenshot("allowed")

        step = "open a blocked site and see the blocking page with its reason"
        driver.get("http://games.example:%d/play" % port)
        wait.until(seen.text_to_be_present_in_element(
            (By.TAG_NAME, "body"), "Site is blocked by Customer Blocked Sites List"))
        site.screenshot("blocked")

        step = "reach the administration site in the same session"
        driver.get("http://admin.tollwick/")
        wait.until(heading("Welcome to Tollwick"))
        site.screenshot("administration")
        print("browser: allowed page, blocking page and administration seen; screenshots in", site.output)
    except (WebDriverException, AssertionError) as failure:
        origin.close()
        return site.end(step, failure)
    origin.close()
    return site.end()


if __name__ == "__main__":
    sys.exit(main())
