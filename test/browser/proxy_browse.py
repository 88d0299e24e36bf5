#!/usr/bin/python3
"""The filtering proxy in a real browser: Chromium, headless, with the service as its only proxy.

    proxy_browse.py BUILD_DIR

Copies the sample configuration of BUILD_DIR with this machine (127.0.0.1) as the children's computer, their
time rules off, starts a small web site of its own on a free port of 127.0.0.1, and zunservice with a hosts
file that sends school.example, 127.lessons.example and games.example there. Chromium, configured by the
service's /proxy.pac, then opens a page of school.example (it renders), one of 127.lessons.example (a name
that only starts like a loopback address still goes through the proxy), one of games.example, which the
children's blocked sites list refuses (the blocking page with its reason), and the administration site, in
one session. Screenshots go to BUILD_DIR/browser-output/proxy_browse.
"""
import os
import sys

from selenium.common.exceptions import WebDriverException

from site_driver import Origin, Shows, Site


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
    origin = Origin(site.work, ["school.example", "127.lessons.example", "games.example"])
    port = origin.port
    site.start_service(*origin.service_options())
    step = "start the browser"
    try:
        pages = site.start_browser(pac=True)

        step = "open an allowed page and see it rendered"
        pages.open("http://school.example:%d/lessons" % port, Shows("School lessons"))
        site.screenshot("allowed")

        step = "open a site whose name starts with 127. through the proxy"
        pages.open("http://127.lessons.example:%d/lessons" % port, Shows("School lessons"))

        step = "open a blocked site and see the blocking page with its reason"
        pages.open("http://games.example:%d/play" % port, Shows("Site is blocked by Customer Blocked Sites List", "body"))
        site.screenshot("blocked")

        step = "reach the administration site in the same session"
        pages.open("http://admin.tollwick/", Shows("Welcome to Tollwick"))
        site.screenshot("administration")
        print("browser: allowed page, blocking page and administration seen; screenshots in", site.output)
    except (WebDriverException, AssertionError) as failure:
        origin.close()
        return site.end(step, failure)
    origin.close()
    return site.end()


if __name__ == "__main__":
    sys.exit(main())
