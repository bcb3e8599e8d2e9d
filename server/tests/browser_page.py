"""The proctor's page in headless Chromium (Debian's chromium and
chromium-driver through python3-selenium):

    /usr/bin/python3 -m unittest discover -s server/tests -p 'browser_*.py'
"""
from __future__ import annotations

import secrets
import shutil
import sys
import tempfile
import time
import unittest
from pathlib import Path

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

sys.path.insert(0, str(Path(__file__).resolve().parent))
from support import RunningServer, event_body  # noqa: E402

DRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"


class PageCase(unittest.TestCase):
    EXAMS = ""  # the support's one exam

    def setUp(self):
        self.server = RunningServer(self.EXAMS, server='database = "exam.db"\nmissing_after_seconds = 3\n').start()
        self.addCleanup(self.server.remove)
        self.profile = tempfile.mkdtemp(prefix="orvel-chromium.")
        self.addCleanup(shutil.rmtree, self.profile, True)
        opts = webdriver.ChromeOptions()
        opts.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
        for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     f"--user-data-dir={self.profile}", "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--window-size=1280,900"):
            opts.add_argument(flag)
        opts.accept_insecure_certs = True  # the test CA is not in Chromium's store
        self.browser = webdriver.Chrome(service=Service(DRIVER), options=opts)
        self.addCleanup(self.browser.quit)
        self.base = f"https://localhost:{self.server.port}"

    # Read in one script: the page replaces its rows as reports come in.
    def row(self, name: str) -> list[str] | None:
        return self.browser.execute_script(
            "const r = [...document.querySelectorAll('tr.siswa')].find(r => r.dataset.nama === arguments[0]);"
            "return r ? [r.dataset.state, ...[...r.cells].map(c => c.textContent)] : null;", name)

    def row_state(self, name: str) -> str | None:
        row = self.row(name)
        return row[0] if row else None

    def log_in(self) -> None:
        b = self.browser
        b.get(self.base + "/pengawas")
        b.find_element(By.ID, "password").send_keys(self.server.password)
        b.find_element(By.CSS_SELECTOR, "form.masuk button").click()
        WebDriverWait(b, 10).until(lambda d: d.find_elements(By.ID, "daftar"))

    def banner_shown(self) -> bool:
        return "tampil" in (self.browser.find_element(By.ID, "putus").get_attribute("class") or "")



class ProctorPage(PageCase):
    def test_login_live_row_and_the_banner_while_the_server_is_away(self):
        b = self.browser
        b.get(self.base + "/pengawas")
        b.find_element(By.ID, "password").send_keys("salah")
        b.find_element(By.CSS_SELECTOR, "form.masuk button").click()
        WebDriverWait(b, 10).until(lambda d: d.find_elements(By.ID, "pesan"))
        self.assertEqual(b.find_element(By.ID, "pesan").text, "Kata sandi salah.")
        b.find_element(By.ID, "password").send_keys(self.server.password)
        b.find_element(By.CSS_SELECTOR, "form.masuk button").click()
        WebDriverWait(b, 10).until(lambda d: d.find_elements(By.ID, "daftar"))
        # The page listens once the stream is open; then a START shows within 2 s.
        WebDriverWait(b, 10).until(lambda d: d.execute_script(
            "return document.getElementById('wa').textContent !== '...'"))
        name = "Dewi Ayu " + secrets.token_hex(2)
        session = self.server.verify(name)
        self.assertEqual(self.server.report(session, name, "START", "mulai")[0], 200)
        sent = time.monotonic()
        WebDriverWait(b, 2, poll_frequency=0.05).until(lambda d: self.row_state(name) == "Mengerjakan")
        shown = time.monotonic() - sent
        self.assertLess(shown, 2.0)
        self.assertRegex(self.row(name)[4], r"^terdengar \d detik lalu$")
        # A forged FINISH without the session: listed apart, the row stays.
        self.assertEqual(self.server.post_json("/api/exam/event", event_body(name, "FINISH", "palsu"),
                                               secrets.token_hex(16))[0], 200)
        WebDriverWait(b, 5).until(lambda d: d.find_element(By.ID, "tanpa-sesi").is_displayed())
        self.assertIn("FINISH - palsu", b.find_element(By.ID, "tanpa-sesi-daftar").text)
        # Silent for more than 3 s: "Hilang", pushed by the server, counted above; a heartbeat brings it back.
        WebDriverWait(b, 10, poll_frequency=0.05).until(lambda d: self.row_state(name) == "Hilang")
        self.assertEqual(b.find_element(By.ID, "hilang").text, "1")
        self.assertEqual(self.server.heartbeat(session)[0], 200)
        WebDriverWait(b, 5, poll_frequency=0.05).until(lambda d: self.row_state(name) == "Mengerjakan")
        # Between reports the page asks for the last contacts: an old figure is replaced in its row.
        state, heard = b.execute_async_script(
            "const done = arguments[arguments.length - 1], find = () => [...document.querySelectorAll('tr.siswa')]"
            "  .find(r => r.dataset.nama === arguments[0]);"
            "find().dataset.heard = 999; tulisTerdengar(find());"
            "muatTerdengar().then(() => done([find().dataset.state, find().cells[3].textContent]));", name)
        self.assertEqual(state, "Mengerjakan")
        self.assertRegex(heard, r"^terdengar [0-3] detik lalu$")
        self.assertEqual(self.server.report(session, name, "VIOLATION", "(Pelanggaran ke-1)")[0], 200)
        WebDriverWait(b, 5).until(lambda d: (self.row(name) or [""] * 6)[5] == "1")
        self.assertFalse(self.banner_shown())
        # The server stops: the banner. It comes back on the same database: gone, still logged in.
        self.assertEqual(self.server.stop(), 0)
        WebDriverWait(b, 10, poll_frequency=0.1).until(lambda d: self.banner_shown())
        self.server.start()
        WebDriverWait(b, 15, poll_frequency=0.1).until(lambda d: not self.banner_shown())
        self.assertEqual(self.server.report(session, name, "FINISH", "selesai")[0], 200)
        WebDriverWait(b, 5, poll_frequency=0.05).until(lambda d: self.row_state(name) == "Selesai")
        self.assertEqual(self.row(name)[4], "-")
        # A click opens the student's timeline.
        b.execute_script("[...document.querySelectorAll('tr.siswa')].find(r => r.dataset.nama === arguments[0]).click()", name)
        items = WebDriverWait(b, 5).until(lambda d: d.execute_script(
            "return [...document.querySelectorAll('tr.detail li')].map(li => li.textContent)"))
        self.assertEqual([i.split("  ", 1)[1] for i in items], ["Token diverifikasi", "START: mulai", "VIOLATION: (Pelanggaran ke-1)", "FINISH: selesai"])


class Schools(PageCase):
    EXAMS = "".join(f'[[exam]]\nclass = "5A"\ntoken = "{t}"\nform_url = "https://f.example/{t}"\nschool = "{n}"\n'
                    for t, n in (("SDN1", "SD Negeri 1"), ("SDN2", "SD Negeri 2")))

    def test_the_page_shows_one_school_at_a_time(self):
        b = self.browser
        self.server.verify("Ani", "5A", "SDN1")
        self.server.verify("Ani", "5A", "SDN2")
        self.server.verify("Bayu", "5A", "SDN2")
        self.log_in()
        rows = lambda: b.execute_script("return [...document.querySelectorAll('tr.siswa')].map(r => r.cells[1].textContent)")
        WebDriverWait(b, 10).until(lambda d: len(rows()) == 3)
        self.assertEqual(sorted(rows()), ["5A \u00b7 SD Negeri 1", "5A \u00b7 SD Negeri 2", "5A \u00b7 SD Negeri 2"],
                         "the same class of two schools: two classes")
        pick = b.find_element(By.ID, "sekolah")
        self.assertTrue(pick.is_displayed())
        b.execute_script("const p = document.getElementById('sekolah'); p.value = 'SD Negeri 2';"
                         "p.dispatchEvent(new Event('change'));")
        WebDriverWait(b, 5).until(lambda d: len(rows()) == 2)
        self.assertEqual(set(rows()), {"5A \u00b7 SD Negeri 2"})
        self.assertEqual(b.find_element(By.ID, "jumlah").text, "2", "the counts are the school's")


if __name__ == "__main__":
    unittest.main()
