#!/usr/bin/python3
"""An administrator keeps a family's policy in a real browser, page by page.

    admin_walk.py BUILD_DIR

Through the service as Chromium's proxy: changes the password and logs in again with it; creates a group,
renames it, adds two computers and moves one to another group; drags Sunday morning out of its time table;
sets a traffic limit; blocks a category and a site and tests an address; adds a word in addresses, a
content type and a word in pages; switches HTTPS filtration. After each step it reads the page and the
policy file. It then restarts the service and finds everything again, asks the policy command what the
proxy would answer, puts this machine into the group and opens a page of a small site of its own and the
blocked site through the proxy, reads both on the Activity page (at 1280 and 390 pixels wide), trusts the
refused site from there, pauses the group and finds this machine refused until it is resumed from the home
page, gives it extra time, sets the group's safe search, reads the group's page 390 pixels wide, and deletes
the group. Screenshots go to BUILD_DIR/browser-output/admin_walk.
"""
import datetime
import sys
import time
import xml.etree.ElementTree as ElementTree

from selenium.common.exceptions import WebDriverException
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

from site_driver import Origin, Shows, Site

FIRST_PASSWORD = "correct horse"
PASSWORD = "kitchen-table-7"


class Walk:
    def __init__(self, site, pages):
        self.site = site
        self.pages = pages
        self.driver = site.driver
        self.shots = 0

    # What the administrator sees.
    def page(self, heading, shot):
        """Waits for the page whose heading starts with `heading` and keeps a screenshot of it."""
        self.pages.arrive(Shows(heading))
        self.shots += 1
        self.site.screenshot("%02d-%s" % (self.shots, shot))
        return self.driver.find_element(By.TAG_NAME, "main").text

    def open(self, url, shown, tag="h1"):
        """Opens an address outside the site and waits for `shown` in its first element `tag`."""
        self.pages.open(url, Shows(shown, tag))

    def messages(self):
        return self.driver.find_element(By.CSS_SELECTOR, "main .messages").text

    def errors(self):
        return self.driver.find_element(By.CSS_SELECTOR, "main .errors").text

    def no_errors(self):
        assert self.errors() == "", "the page shows the error %r" % self.errors()

    # What the administrator does.
    def follow(self, locator, confirm=False):
        """Clicks the element at `locator`, which leads to another page."""
        self.pages.follow(locator, confirm)

    def press(self, text, within="main", confirm=False):
        """Presses the button whose text is `text`; `confirm` answers its question."""
        self.follow((By.XPATH, "//%s//button[normalize-space()='%s']" % (within, text)), confirm)

    def press_in_row(self, row_text, button):
        self.follow((By.XPATH, "//tr[td[normalize-space()='%s']]//button[normalize-space()='%s']" % (row_text, button)))

    def menu(self, text):
        """A button of the main menu, of the group menu or of the group's settings menu."""
        self.follow((By.XPATH, "//nav//button[normalize-space()='%s']" % text))

    def type_into(self, name, text):
        field = self.driver.find_element(By.NAME, name)
        field.clear()
        field.send_keys(text)

    def tick(self, name, on=True):
        box = self.driver.find_element(By.NAME, name)
        if box.is_selected() != on:
            box.click()

    def switch(self, what):
        self.follow((By.CSS_SELECTOR, "button[data-toggle='%s']" % what))

    def show_whole_page(self, width, shot):
        """Sets the window `width` pixels wide and as tall as the page, and keeps a screenshot of it all."""
        self.driver.set_window_size(width, 844)
        height = self.driver.execute_script("return document.documentElement.scrollHeight")
        self.driver.set_window_size(width, max(844, height))
        self.shots += 1
        self.site.screenshot("%02d-%s" % (self.shots, shot))

    def open_activity_until(self, shown):
        """Opens the Activity page again and again until `shown(page text)` holds: the history is written
        once a second."""
        def again(driver):
            self.menu("Activity")
            self.pages.arrive(Shows("Activity"))
            return shown(driver.find_element(By.TAG_NAME, "main").text)
        WebDriverWait(self.driver, 15, poll_frequency=0.5, ignored_exceptions=[WebDriverException]).until(again)

    def save(self):
        self.follow((By.CSS_SELECTOR, "main form button[type=submit]"))

    # What the policy file says.
    def policy(self):
        return ElementTree.parse(self.site.cfg + "/zun_data.xml").getroot()

    def group(self, name):
        for group in self.policy().iter("clientgroup"):
            if group.findtext("name") == name:
                return group
        return None

    def client(self, ip):
        for client in self.policy().iter("client"):
            if client.findtext("ip") == ip:
                return client
        return None

    def set_password(self, old, password, question, answer):
        """Fills the password form and saves it."""
        if old is not None:
            self.type_into("OldPassword", old)
        self.type_into("Password", password)
        self.type_into("PasswordConfirm", password)
        Select(self.driver.find_element(By.NAME, "SecurityQuestionID")).select_by_value(question)
        self.type_into("SecurityAnswer", answer)
        self.save()

    def login(self, password):
        self.pages.go("http://admin.tollwick/")
        self.page("Sign in", "login")
        self.driver.find_element(By.ID, "login").send_keys("wexor")
        self.driver.find_element(By.ID, "password").send_keys(password)
        self.follow((By.ID, "sign-in"))
        self.page("Welcome to Tollwick", "home")


def expect(condition, what):
    assert condition, what


def main():
    site = Site(sys.argv[1], "admin_walk")
    origin = Origin(site.work, ["school.example", "casino.example"])
    site.start_service(*origin.service_options())
    step = "start the browser"
    try:
        walk = Walk(site, site.start_browser())
        step = "set the first password from the banner of a filter that has none"
        walk.pages.go("http://admin.tollwick/")
        walk.page("Welcome to Tollwick", "first-run")
        walk.follow((By.ID, "set-password"))
        walk.page("Password", "first-password")
        walk.set_password(None, FIRST_PASSWORD, "1", "Rome")
        walk.page("Settings", "first-password-saved")
        walk.no_errors()
        expect(walk.policy().findtext("settings/password") != "", "the policy has the first password")

        step = "log in and change the password"
        walk.login(FIRST_PASSWORD)
        walk.menu("Password")
        walk.page("Password", "password")
        old = walk.policy().findtext("settings/password")
        walk.set_password(FIRST_PASSWORD, PASSWORD, "2", "Paris")
        walk.page("Settings", "password-saved")
        walk.no_errors()
        expect(walk.policy().findtext("settings/password") not in ("", old), "the policy has a new password")
        expect(walk.policy().findtext("settings/securityquestionid") == "2", "the policy has the question")

        step = "log in again with the new password"
        walk.login(PASSWORD)

        step = "create a group and rename it"
        walk.menu("Groups")
        walk.page("Groups", "groups")
        walk.follow((By.ID, "new-group"))
        walk.page("Group", "group-new")
        walk.type_into("Name", "Kids")
        walk.save()
        walk.page("Groups", "group-created")
        walk.no_errors()
        kids = walk.group("Kids")
        expect(kids is not None, "the policy has the group Kids")
        expect(kids.findtext("blockedcategoriesmask") == "1ffb" or int(kids.findtext("blockedcategoriesmask"), 16)
               != 0, "a new group blocks categories")
        group_id = kids.findtext("id")
        walk.press_in_row("Kids", "Open")
        walk.page("Group", "group-rename")
        walk.type_into("Name", "Children")
        walk.save()
        walk.page("Groups", "group-renamed")
        expect(walk.group("Kids") is None and walk.group("Children").findtext("id") == group_id,
               "the policy has the group renamed")

        step = "add two computers to the group and move one to another group"
        walk.press_in_row("Children", "Computers")
        expect("Children" in walk.page("Computers", "computers"), "the computers page names the group")
        for ip in ("192.168.1.50", "192.168.1.51"):
            walk.follow((By.ID, "new-client"))
            walk.page("Computer", "computer-new")
            walk.type_into("IP", ip)
            expect(Select(site.driver.find_element(By.ID, "client-group")).first_selected_option.text
                   == "Children", "a new computer starts in the group of the list")
            walk.save()
            expect(ip in walk.page("Computers", "computer-added"), "the list shows " + ip)
            walk.no_errors()
            expect(walk.client(ip).findtext("groupid") == group_id, "the policy has %s in the group" % ip)
        walk.press_in_row("192.168.1.51", "Edit")
        walk.page("Computer", "computer-edit")
        Select(site.driver.find_element(By.ID, "client-group")).select_by_visible_text("* guests *")
        walk.save()
        walk.page("Computers", "computer-moved")
        expect(walk.client("192.168.1.51").findtext("groupid") == "1", "the policy has the computer moved")

        step = "drag Sunday morning out of the time table"
        walk.menu("Children")
        expect("Children" in walk.page("General", "general"), "the group's page names it")
        expect(site.driver.find_element(By.CSS_SELECTOR, ".groups li.current").text == "Children",
               "the menu marks the group")
        walk.menu("Time table")
        walk.page("Time table", "timetable")
        cell = lambda slot: site.driver.find_element(By.CSS_SELECTOR, "#timetable-grid td[data-slot='%d']" % slot)
        ActionChains(site.driver).click_and_hold(cell(0)).move_to_element(cell(12)).move_to_element(
            cell(23)).release().perform()
        walk.tick("IsTimeTableEnabled")
        walk.save()
        expect("Sun:50%" in walk.page("General", "timetable-saved"), "the summary shows half of Sunday")
        table = walk.group("Children").findtext("timetable")
        expect(table == "0" * 24 + "1" * 312, "the policy has Sunday morning off, not %r" % table)

        step = "set a traffic limit"
        walk.menu("Traffic limits")
        walk.page("Traffic limits", "traffic")
        walk.tick("IsTrafficLimitsEnabled")
        monday = site.driver.find_element(By.ID, "TrafficLimit_1")
        monday.clear()
        monday.send_keys("200")
        walk.save()
        expect("Mon:200mb" in walk.page("General", "traffic-saved"), "the summary shows the limit")
        children = walk.group("Children")
        expect(children.findtext("trafficlimitsmon") == "200" and children.findtext("trafficlimitsenabled")
               == "1", "the policy has the traffic limit")

        step = "block a category"
        walk.menu("Categories")
        walk.page("Categories", "categories")
        site.driver.find_element(By.XPATH, "//label[normalize-space()='Web Chat']/input").click()
        walk.save()
        summary = walk.page("General", "categories-saved")
        expect(int(walk.group("Children").findtext("blockedcategoriesmask"), 16) & 4, "the policy blocks web chat")
        expect("Web Chat" not in summary.split("Allowed")[-1].split("\n")[0] or "Web E-Mail" in summary,
               "the summary moves web chat")

        step = "block a site and test an address"
        walk.menu("Sites")
        walk.page("Sites", "sites")
        walk.type_into("Uri", "casino.example")
        walk.press("Add")
        expect("casino.example/" in walk.page("Sites", "site-added"), "the list shows the site")
        walk.switch("BlockedSites")
        walk.page("Sites", "sites-switched")
        http = walk.group("Children").find("protocolssettings/httpprotocolsettings")
        expect(http.findtext("isblockedsitesenabled") == "1", "the policy uses the blocked sites")
        sites = [s.findtext("uri") for s in http.iter("customersite")]
        expect(sites == ["http://casino.example/"], "the policy has the site: %r" % sites)
        walk.type_into("Uri", "casino.example/poker")
        walk.press("Test")
        walk.page("Sites", "site-tested")
        expect("URL accessibility: Blocked" in walk.messages(), "the report says %r" % walk.messages())

        step = "add a word in addresses, a content type and a word in pages"
        walk.menu("Words in addresses")
        walk.page("Words in addresses", "words")
        walk.switch("BlockedUrlWords")
        walk.page("Words in addresses", "words-switched")
        walk.follow((By.ID, "new-word"))
        walk.page("Word in addresses", "word-new")
        walk.type_into("Word", "roulette")
        site.driver.find_element(By.XPATH, "//label[normalize-space()='Gambling']/input").click()
        walk.save()
        expect("roulette" in walk.page("Words in addresses", "word-added"), "the list shows the word")
        words = [w.findtext("word") for w in walk.group("Children").iter("blockedurlword")]
        expect("roulette" in words, "the policy has the word")

        walk.menu("Content types")
        walk.page("Content types", "types")
        walk.follow((By.ID, "new-content-type"))
        walk.page("Content type", "type-new")
        walk.type_into("ContentType", "video/mp4")
        walk.type_into("Description", "Films")
        Select(site.driver.find_element(By.NAME, "ContentTypeAction")).select_by_value("1")
        walk.save()
        expect("video/mp4" in walk.page("Content types", "type-added"), "the list shows the type")
        types = {t.findtext("type"): t.findtext("action") for t in walk.group("Children").iter("contenttype")}
        expect(types.get("video/mp4") == "1", "the policy prevents video/mp4: %r" % types)

        walk.menu("Words in pages")
        walk.page("Words in pages", "content-words")
        walk.follow((By.ID, "new-word"))
        walk.page("Word in pages", "content-word-new")
        walk.type_into("Word", "gore")
        walk.save()
        expect("gore" in walk.page("Words in pages", "content-word-added"), "the list shows the word")
        expect([w.findtext("word") for w in walk.group("Children").iter("inapcontentword")] == ["gore"],
               "the policy has the word in pages")

        step = "switch HTTPS filtration"
        walk.menu("Secure web (HTTPS)")
        walk.page("Secure web (HTTPS)", "https")
        https = lambda: walk.group("Children").findtext("protocolssettings/httpsprotocolsettings/filtrationenabled")
        before = https()
        walk.switch("Filtration")
        walk.page("Secure web (HTTPS)", "https-switched")
        expect(https() != before, "the policy has HTTPS filtration switched")
        kept = open(site.cfg + "/zun_data.xml").read()

        step = "restart the service and find everything again"
        site.driver.delete_all_cookies()
        failure = site.stop_service()
        expect(failure is None, failure)
        site.start_service(*origin.service_options())
        walk.login(PASSWORD)
        walk.menu("Groups")
        walk.page("Groups", "restart-groups")
        walk.press_in_row("Children", "Settings")
        walk.page("General", "restart-general")
        walk.menu("Sites")
        expect("casino.example/" in walk.page("Sites", "restart-sites"), "the site is still there")
        walk.menu("Computers")
        listed = walk.page("Computers", "restart-computers")
        expect("192.168.1.50" in listed and "192.168.1.51" in listed, "the computers are still there")
        expect(open(site.cfg + "/zun_data.xml").read() == kept, "the policy file is unchanged by the restart")

        step = "read the pages on a phone-sized screen"
        site.driver.set_window_size(390, 844)
        for menu, heading in (("Children", "General"), ("Time table", "Time table"), ("Sites", "Sites"),
                              ("Computers", "Computers")):
            walk.menu(menu)
            walk.page(heading, "phone-" + menu.lower().replace(" ", "-"))
            wide = site.driver.execute_script("return document.documentElement.scrollWidth - window.innerWidth")
            expect(wide <= 0, "the %s page is %d pixels wider than the phone" % (heading, wide))
        site.driver.set_window_size(1000, 800)

        step = "ask the policy command what the proxy would answer"
        now = datetime.datetime.now()
        sunday_morning = now.isoweekday() == 7 and now.hour < 12
        status, said = site.policy_command("check", "192.168.1.50", "http://casino.example/")
        expect(status == 1, "casino.example is refused to the group: %s" % said)
        expect(sunday_morning or "site" in said.lower() or "blocked" in said.lower(), said)
        status, said = site.policy_command("check", "192.168.1.50", "http://news.example/roulette-tips")
        expect(status == 1 and (sunday_morning or "roulette" in said or "word" in said.lower()), said)
        status, said = site.policy_command("report", group_id, "http://casino.example/")
        expect("Customer DB: tested URL is  defined as Blocked" in said, said)
        print("browser: the policy command says:", said.replace("<br>", " | "))

        step = "put this machine into the group and browse through the proxy"
        walk.menu("Computers")
        walk.page("Computers", "computers-before-browsing")
        walk.follow((By.ID, "new-client"))
        walk.page("Computer", "this-computer-new")
        walk.type_into("IP", "127.0.0.1")
        Select(site.driver.find_element(By.ID, "client-group")).select_by_visible_text("Children")
        walk.save()
        walk.page("Computers", "this-computer-added")
        walk.no_errors()
        if not sunday_morning:
            walk.open("http://school.example:%d/lessons" % origin.port, "School lessons")
        for refused in ("http://casino.example:%d/" % origin.port, "http://school.example:%d/roulette-tips" % origin.port):
            walk.open(refused, "This page is blocked")
            walk.shots += 1
            site.screenshot("%02d-refused" % walk.shots)
        walk.login(PASSWORD)

        step = "read the refusal on the Activity page, wide and on a phone"
        walk.open_activity_until(lambda text: "casino.example" in text and "/roulette-tips" in text)
        walk.no_errors()
        expect(sunday_morning or site.driver.find_elements(By.CSS_SELECTOR, ".activity-chart svg text"),
               "the week's chart has its labels")
        for width in (1280, 390):
            walk.show_whole_page(width, "activity-%d" % width)
            wide = site.driver.execute_script("return document.documentElement.scrollWidth")
            expect(wide <= width, "the Activity page is %d pixels wide on a %d pixel screen" % (wide, width))
        site.driver.set_window_size(1000, 800)

        step = "trust a refused site from the Activity page"
        walk.follow((By.XPATH, "//table[@id='activity-refusals']//tr[td[normalize-space()='/roulette-tips']]"
                      "//button[normalize-space()='Trust this site']"))
        walk.page("Activity", "activity-trusted")
        expect("school.example is now a trusted site of Children" in walk.messages(),
               "the page says %r" % walk.messages())
        http = walk.group("Children").find("protocolssettings/httpprotocolsettings")
        trusted = [s.findtext("uri") for s in http.iter("customersite") if s.findtext("isblocked") == "0"]
        expect(trusted == ["http://school.example/"], "the policy trusts the site: %r" % trusted)
        walk.menu("Home")
        summary = walk.page("Welcome to Tollwick", "home-summary")
        expect("Children" in site.driver.find_element(By.ID, "today-summary").text,
               "today's summary names the group: %r" % summary)

        step = "pause the group from its page and find this machine refused through the proxy"
        walk.menu("Groups")
        walk.page("Groups", "groups-before-pause")
        walk.press_in_row("Children", "Open")
        walk.page("Group", "group-controls")
        walk.press("Pause for 15 min")
        walk.page("Group", "group-paused")
        walk.no_errors()
        said = walk.messages()
        expect(said.startswith("The group is paused until "), "the page says %r" % said)
        until = said[len("The group is paused until "):-1]
        expect("Paused until " + until in site.driver.find_element(By.ID, "pause").text,
               "the pause block shows when the pause ends")
        paused = int(walk.group("Children").findtext("pauseduntil") or 0)
        expect(14 * 60 < paused - time.time() <= 15 * 60, "the policy has the group paused: %r" % paused)
        walk.menu("Groups")
        expect("Paused until " + until in walk.page("Groups", "groups-paused"), "the list of groups shows the pause")
        walk.open("http://school.example:%d/lessons?paused" % origin.port, "Internet access is paused until", "body")
        walk.shots += 1
        site.screenshot("%02d-refused-paused" % walk.shots)

        step = "resume the group from the home page and browse again"
        walk.login(PASSWORD)
        right_now = site.driver.find_element(By.ID, "right-now").text
        expect("Children is paused until " + until in right_now, "the home page lists the pause: %r" % right_now)
        walk.follow((By.XPATH, "//ul[@id='right-now']/li[contains(., 'Children')]//button[normalize-space()='Resume']"))
        walk.page("Welcome to Tollwick", "home-resumed")
        expect(walk.messages() == "The group is no longer paused.", "the page says %r" % walk.messages())
        expect(not site.driver.find_elements(By.ID, "right-now"), "the home page lists nothing right now")
        expect(walk.group("Children").findtext("pauseduntil") is None, "the policy has the pause ended")
        if not sunday_morning:
            walk.open("http://school.example:%d/lessons?resumed" % origin.port, "School lessons")
            walk.shots += 1
            site.screenshot("%02d-resumed" % walk.shots)
        walk.login(PASSWORD)

        step = "give this machine extra time"
        walk.menu("Computers")
        walk.page("Computers", "computers-before-extra")
        walk.press_in_row("127.0.0.1", "+30")
        walk.page("Computers", "computers-extra")
        walk.no_errors()
        expect(walk.messages().startswith("127.0.0.1 has 30 extra minutes today"), "the page says %r" % walk.messages())
        cell = site.driver.find_element(By.XPATH, "//tr[td[normalize-space()='127.0.0.1']]/td[@class='time-today']")
        expect("+30 today" in cell.text, "the row shows the extra time: %r" % cell.text)
        expect(walk.client("127.0.0.1").findtext("extraminutes") == "30", "the policy has the extra time")
        walk.menu("Home")
        walk.page("Welcome to Tollwick", "home-extra")
        expect("127.0.0.1 has extra time: +30 today" in site.driver.find_element(By.ID, "right-now").text,
               "the home page lists the extra time")

        step = "set the group's safe search and read its page on a phone"
        walk.menu("Groups")
        walk.page("Groups", "groups-before-safe-search")
        walk.press_in_row("Children", "Open")
        walk.page("Group", "group-before-safe-search")
        walk.follow((By.XPATH, "//form[input[@name='What' and @value='search']]//button[normalize-space()='Strict']"))
        walk.page("Group", "group-safe-search")
        expect(walk.messages() == "Safe search is now strict.", "the page says %r" % walk.messages())
        strict = site.driver.find_element(
            By.XPATH, "//form[input[@name='What' and @value='search']]//button[normalize-space()='Strict']")
        expect(strict.get_attribute("aria-pressed") == "true", "the page marks the level")
        https = walk.group("Children").find("protocolssettings/httpsprotocolsettings")
        expect(https.findtext("safesearch") == "2", "the policy has strict safe search")
        walk.press("Pause until tomorrow")
        walk.page("Group", "group-paused-until-tomorrow")
        expect(walk.messages() == "The group is paused until 00:00.", "the page says %r" % walk.messages())
        walk.show_whole_page(390, "group-390")
        wide = site.driver.execute_script("return document.documentElement.scrollWidth")
        expect(wide <= 390, "the group's page is %d pixels wide on a 390 pixel screen" % wide)
        site.driver.set_window_size(1000, 800)
        walk.press("Resume")
        walk.page("Group", "group-resumed")
        expect(walk.messages() == "The group is no longer paused.", "the page says %r" % walk.messages())

        step = "take this machine out of the group again"
        walk.menu("Computers")
        walk.page("Computers", "computers-after-browsing")
        site.driver.find_element(By.XPATH, "//tr[td[normalize-space()='127.0.0.1']]//input").click()
        walk.press("Delete checked", confirm=True)
        walk.page("Computers", "this-computer-deleted")
        expect(walk.client("127.0.0.1") is None, "the policy has lost this machine")

        step = "delete the group"
        walk.menu("Groups")
        walk.page("Groups", "groups-again")
        site.driver.find_element(By.XPATH, "//tr[td[normalize-space()='Children']]//input[@name='DeleteID']").click()
        walk.press("Delete checked", confirm=True)
        walk.page("Groups", "group-in-use")
        expect("some Client(s) reference it" in walk.errors(), "a group with computers stays: %r" % walk.errors())
        walk.menu("Computers")
        walk.page("Computers", "computers-all")
        site.driver.find_element(By.XPATH, "//tr[td[normalize-space()='192.168.1.50']]//input").click()
        walk.press("Delete checked", confirm=True)
        walk.page("Computers", "computer-deleted")
        expect(walk.client("192.168.1.50") is None, "the policy has lost the computer")
        walk.menu("Groups")
        walk.page("Groups", "groups-last")
        site.driver.find_element(By.XPATH, "//tr[td[normalize-space()='Children']]//input[@name='DeleteID']").click()
        walk.press("Delete checked", confirm=True)
        expect("Children" not in walk.page("Groups", "group-deleted"), "the list has lost the group")
        expect(walk.group("Children") is None, "the policy has lost the group")
        print("browser: the walk through %d pages passed; screenshots in %s" % (walk.shots, site.output))
    except (WebDriverException, AssertionError) as failure:
        origin.close()
        return site.end(step, failure)
    origin.close()
    return site.end()


if __name__ == "__main__":
    sys.exit(main())
