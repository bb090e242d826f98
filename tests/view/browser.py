"""Debian's Chromium, headless, through Selenium and chromium-driver: for the
browser test, the benchmark and scripts/screenshot-view.sh."""
from selenium import webdriver
from selenium.webdriver.chrome.service import Service


def chromium(width=1280, height=900):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    # --no-sandbox: the tests run as root in CI.
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=%d,%d" % (width, height)):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
