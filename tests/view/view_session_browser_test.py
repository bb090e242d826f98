"""The viewer's session in Debian's Chromium, headless: the printed URL
opens the page and its token leaves the address bar; a reload (F5) keeps
the view in the fragment and its data; a browser without the session (a
bookmark) is shown how to get in; the session cookie cannot be read by the
page's scripts and is sent to this server only.

Environment: VELMORAN, VELMORAN_MKDATASET.
Run with Debian's /usr/bin/python3 (python3-selenium, chromium-driver).
"""
import unittest

from selenium.webdriver.common.by import By

from page_case import OneRunPage


class SessionTest(OneRunPage):
    RUN = "session"
    SEED = 27

    def test_a_reload_keeps_the_view_and_a_bookmark_says_how_to_get_in(self):
        d = self.driver
        scan = self.expected[41]
        d.get(self.server.url + "#scan=41")
        self.wait(lambda: d.execute_script("return window.velmoranReady === true"))
        self.wait(lambda: self.title().startswith("Scan %d " % scan["scan_id"]))
        address = "http://%s/#scan=41" % self.server.host
        self.assertEqual(d.current_url, address)

        d.refresh()
        self.wait(lambda: d.execute_script("return window.velmoranReady === true"))
        self.wait(lambda: self.title().startswith("Scan %d " % scan["scan_id"]))
        self.assertEqual(d.current_url, address)
        self.assertEqual(d.find_element(By.ID, "run-name").text, "session.d")
        self.assertEqual(d.execute_script("return document.cookie"), "")
        cookies = d.get_cookies()
        self.assertEqual(len(cookies), 1)
        self.assertEqual((cookies[0]["httpOnly"], cookies[0]["sameSite"], cookies[0]["path"]),
                         (True, "Strict", "/"))
        self.assertIn(str(self.server.port), cookies[0]["name"])
        self.assertNotIn(self.server.token, cookies[0]["value"])
        errors = [entry for entry in d.get_log("browser") if entry["level"] == "SEVERE"]
        self.assertEqual(errors, [])

        # Without the session: the bookmark's page tells how to get in.
        d.delete_all_cookies()
        d.get("about:blank")
        d.get(address)
        self.assertIn("printed", d.find_element(By.TAG_NAME, "body").text)
        self.assertIn("?token=", d.find_element(By.TAG_NAME, "body").text)


if __name__ == "__main__":
    unittest.main()
