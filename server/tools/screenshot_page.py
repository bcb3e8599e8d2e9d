"""Pictures of the proctor's page in headless Chromium, logged in:

    ORVEL_PROCTOR_PASSWORD=... /usr/bin/python3 server/tools/screenshot_page.py https://HOST OUT.png [FOLDER]

OUT.png: the roster with the first student's timeline open. With FOLDER,
also 12-exam-form.png (the exam form filled in), 13-class-list.png (a class
list pasted for the first student's class and taken) and
14-roster-belum-mulai.png (the roster with the listed students who have
not begun); the class list stays stored on that server.

(Debian's python3 with python3-selenium, chromium and chromium-driver.)
"""
from __future__ import annotations

import os
import shutil
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait


def open_first_row(driver: webdriver.Chrome) -> bool:
    """Clicks the first student's row, found and clicked in one step of the
    page's own script: the page puts its table in anew whenever a report
    comes in, and a row found by one call could be gone by the next. False
    (to be tried again) while there is no row yet."""
    return bool(driver.execute_script(
        "const row = document.querySelector('tr.siswa'); if (row) row.click(); return row !== null;"))


def section(driver: webdriver.Chrome, element_id: str, out: str) -> None:
    driver.execute_script("document.getElementById(arguments[0]).scrollIntoView()", element_id)
    driver.save_screenshot(out)


def exam_morning(b: webdriver.Chrome, folder: str) -> None:
    cls = b.execute_script("return document.querySelector('tr.siswa').cells[1].textContent")
    b.find_element(By.ID, "ex-classes").send_keys(f"{cls}, 5B")
    b.find_element(By.ID, "ex-buat").click()
    WebDriverWait(b, 10).until(lambda d: d.find_element(By.ID, "ex-token").get_attribute("value"))
    b.find_element(By.ID, "ex-formUrl").send_keys("https://docs.google.com/forms/d/e/contoh/viewform?entry.1={studentName}")
    b.find_element(By.ID, "ex-proctorPin").send_keys("2468")
    section(b, "form-ujian", os.path.join(folder, "12-exam-form.png"))
    b.find_element(By.ID, "dk-kelas").send_keys(cls)
    b.find_element(By.ID, "dk-nama").send_keys("Ani Lestari\nBayu Pratama\nCitra Dewi\nbayu  pratama\n")
    b.find_element(By.CSS_SELECTOR, "#form-daftar button").click()
    WebDriverWait(b, 10).until(lambda d: d.find_element(By.ID, "dk-hasil").text)
    section(b, "daftar-kelas", os.path.join(folder, "13-class-list.png"))
    WebDriverWait(b, 10).until(lambda d: d.find_element(By.ID, "belum").text == "3")
    b.execute_script("window.scrollTo(0, 0)")
    b.save_screenshot(os.path.join(folder, "14-roster-belum-mulai.png"))


def main(url: str, out: str, folder: str = "") -> int:
    with tempfile.TemporaryDirectory() as profile:
        opts = webdriver.ChromeOptions()
        opts.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
        for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--lang=id",
                     f"--user-data-dir={profile}", "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--window-size=1280,720"):
            opts.add_argument(flag)
        opts.accept_insecure_certs = True  # the demo's certificate is trusted only inside Wine
        b = webdriver.Chrome(service=Service(shutil.which("chromedriver") or "/usr/bin/chromedriver"), options=opts)
        try:
            b.get(url.rstrip("/") + "/pengawas")
            b.find_element(By.ID, "password").send_keys(os.environ.get("ORVEL_PROCTOR_PASSWORD", ""))
            b.find_element(By.CSS_SELECTOR, "form.masuk button").click()
            # Open the first student's timeline, as a proctor would: the page
            # replaces its table whole whenever a report comes in.
            WebDriverWait(b, 10).until(open_first_row)
            WebDriverWait(b, 10).until(lambda d: d.find_elements(By.CSS_SELECTOR, "tr.detail li"))
            b.save_screenshot(out)
            if folder:
                exam_morning(b, folder)
        finally:
            b.quit()
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
