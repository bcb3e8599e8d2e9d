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
from selenium.webdriver.support.ui import Select, WebDriverWait

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

    def click_row(self, name: str) -> None:
        """Opens the student's timeline below the row."""
        self.browser.execute_script(
            "[...document.querySelectorAll('tr.siswa')].find(r => r.dataset.nama === arguments[0]).click()", name)

    def send_password(self, password: str) -> None:
        self.browser.find_element(By.ID, "password").send_keys(password)
        self.browser.find_element(By.CSS_SELECTOR, "form.masuk button").click()

    def log_in(self, ready=lambda d: d.find_elements(By.ID, "daftar")) -> None:
        """As the administrator; waits until ready(driver) is true."""
        self.browser.get(self.base + "/pengawas")
        self.send_password(self.server.password)
        WebDriverWait(self.browser, 10).until(ready)

    def banner_shown(self) -> bool:
        return "tampil" in (self.browser.find_element(By.ID, "putus").get_attribute("class") or "")



class ProctorPage(PageCase):
    def test_login_live_row_and_the_banner_while_the_server_is_away(self):
        b = self.browser
        b.get(self.base + "/pengawas")
        self.send_password("salah")
        WebDriverWait(b, 10).until(lambda d: d.find_elements(By.ID, "pesan"))
        self.assertEqual(b.find_element(By.ID, "pesan").text, "Kata sandi salah.")
        self.send_password(self.server.password)
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
        self.assertRegex(self.row(name)[5], r"^terdengar \d detik lalu$")
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
            "muatTerdengar().then(() => done([find().dataset.state, find().cells[4].textContent]));", name)
        self.assertEqual(state, "Mengerjakan")
        self.assertRegex(heard, r"^terdengar [0-3] detik lalu$")
        self.assertEqual(self.server.report(session, name, "VIOLATION", "(Pelanggaran ke-1)")[0], 200)
        WebDriverWait(b, 5).until(lambda d: (self.row(name) or [""] * 7)[6] == "1")
        self.assertFalse(self.banner_shown())
        # The server stops: the banner. It comes back on the same database: gone, still logged in.
        self.assertEqual(self.server.stop(), 0)
        WebDriverWait(b, 10, poll_frequency=0.1).until(lambda d: self.banner_shown())
        self.server.start()
        WebDriverWait(b, 15, poll_frequency=0.1).until(lambda d: not self.banner_shown())
        self.assertEqual(self.server.report(session, name, "FINISH", "selesai")[0], 200)
        WebDriverWait(b, 5, poll_frequency=0.05).until(lambda d: self.row_state(name) == "Selesai")
        self.assertEqual(self.row(name)[5], "-")
        # A click opens the student's timeline.
        self.click_row(name)
        items = WebDriverWait(b, 5).until(lambda d: d.execute_script(
            "return [...document.querySelectorAll('tr.detail li')].map(li => li.textContent)"))
        self.assertEqual([i.split("  ", 1)[1] for i in items], [
            "PC 127.0.0.1  Token diverifikasi", "PC 127.0.0.1  START: mulai",
            "PC 127.0.0.1  VIOLATION: (Pelanggaran ke-1)", "PC 127.0.0.1  FINISH: selesai"])

    def test_two_pcs_in_one_name_shown_and_one_closed_from_the_row(self):
        b = self.browser
        self.log_in()
        name = "Budi <b>" + secrets.token_hex(2)  # shown as text, never markup
        budi = self.server.verify(name)
        self.assertEqual(self.server.report(budi, name, "START", "mulai")[0], 200)
        body = '{"studentName": "%s", "className": "5A", "token": "ABC123"}' % name
        status, _, data = self.server.request("POST", "/api/exam/verify", body,
                                              {"Content-Type": "application/json"}, source="127.0.0.2")
        self.assertEqual(status, 200, data)
        WebDriverWait(b, 5).until(lambda d: "Dua sesi" in ((self.row(name) or [""] * 4)[3]))
        row = self.row(name)
        self.assertEqual((row[0], row[1], row[4]), ("Mengerjakan", name, "127.0.0.2"))
        self.assertIn("Dua sesi: 127.0.0.1 dan 127.0.0.2", row[3])
        self.assertFalse(b.find_elements(By.CSS_SELECTOR, "#daftar b"))
        self.click_row(name)
        WebDriverWait(b, 5).until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "tr.detail .sesi button")) == 2)
        item = b.find_elements(By.CSS_SELECTOR, "tr.detail li")[-1].text
        self.assertIn("PC 127.0.0.2 Token diverifikasi (Dua sesi: 127.0.0.2 dan 127.0.0.1)", item)
        b.find_elements(By.CSS_SELECTOR, "tr.detail .sesi button")[1].click()
        alert = WebDriverWait(b, 5).until(lambda d: d.switch_to.alert)
        self.assertIn("Tutup sesi di PC 127.0.0.2?", alert.text)
        alert.accept()
        WebDriverWait(b, 5).until(lambda d: "Dua sesi" not in ((self.row(name) or ["", "", "", "Dua sesi"])[3]))
        self.assertEqual(self.row(name)[0], "Mengerjakan")
        texts = WebDriverWait(b, 5).until(lambda d: [e.text for e in d.find_elements(By.CSS_SELECTOR, "tr.detail .sesi")])
        self.assertEqual(texts, ["Sesi di PC 127.0.0.1: MengerjakanTutup sesi", "Sesi di PC 127.0.0.2: sesi ditutup"])


    def test_a_class_list_pasted_shows_belum_mulai_and_a_wrong_one_is_named_beside_its_field(self):
        b = self.browser
        self.log_in(lambda d: d.find_elements(By.ID, "form-daftar"))
        b.find_element(By.ID, "dk-nama").send_keys("Budi\nSiti <i>x</i>\nsiti <i>X</i>\n")
        b.find_element(By.CSS_SELECTOR, "#form-daftar button").click()
        WebDriverWait(b, 5).until(lambda d: d.find_element(By.ID, "dk-kelas-salah").text == "Isi nama kelas.")
        b.find_element(By.ID, "dk-kelas").send_keys("5A")
        b.find_element(By.CSS_SELECTOR, "#form-daftar button").click()
        WebDriverWait(b, 5).until(lambda d: d.find_element(By.ID, "dk-hasil").text)
        self.assertEqual(b.find_element(By.ID, "dk-hasil").text,
                         "Kelas 5A: 2 nama diambil (0 baris kosong, 1 nama ganda dibuang).")
        self.assertEqual(b.find_element(By.ID, "dk-kelas-salah").text, "")
        WebDriverWait(b, 5).until(lambda d: d.find_element(By.ID, "belum").text == "2")
        self.assertEqual((self.row("Budi")[0], self.row("Siti <i>x</i>")[0]), ("Belum mulai", "Belum mulai"))
        self.assertFalse(b.find_elements(By.CSS_SELECTOR, "#daftar i"), "names are text, never markup")
        session = self.server.verify("budi")
        self.assertEqual(self.server.report(session, "budi", "START", "mulai")[0], 200)
        WebDriverWait(b, 5).until(lambda d: (self.row("Budi") or [""])[0] == "Mengerjakan")
        self.assertEqual(b.find_element(By.ID, "belum").text, "1")
        self.server.verify("Bodi")
        WebDriverWait(b, 5).until(lambda d: self.row("Bodi"))
        self.assertIn("Nama tidak ada di daftar", self.row("Bodi")[3])
        # An empty list: refused beside the names, what was typed kept.
        b.find_element(By.ID, "dk-nama").clear()
        b.find_element(By.ID, "dk-nama").send_keys(" \n")
        b.find_element(By.CSS_SELECTOR, "#form-daftar button").click()
        WebDriverWait(b, 5).until(lambda d: d.find_element(By.ID, "dk-nama-salah").text == "Daftar tidak berisi nama.")
        self.assertEqual(b.find_element(By.ID, "dk-kelas").get_attribute("value"), "5A")
        self.assertEqual(b.find_element(By.ID, "dk-ada").text, "Kelas 5A: 2 siswa")
        # The class filter is kept in the address: a bookmark opens it.
        b.get(self.base + "/pengawas?kelas=5B")
        WebDriverWait(b, 5).until(lambda d: d.find_element(By.ID, "kelas").get_attribute("value") == "5B")
        WebDriverWait(b, 5).until(lambda d: d.find_element(By.ID, "kosong").is_displayed())
        self.assertIsNone(self.row("Budi"), "another class's row")
        Select(b.find_element(By.ID, "kelas")).select_by_visible_text("Semua kelas")
        WebDriverWait(b, 5).until(lambda d: self.row("Budi"))
        self.assertEqual(b.current_url, self.base + "/pengawas")
        Select(b.find_element(By.ID, "kelas")).select_by_visible_text("5A")
        self.assertEqual(b.current_url, self.base + "/pengawas?kelas=5A")

    def test_the_administrator_makes_an_exam_whose_token_a_student_can_use_at_once(self):
        b = self.browser
        self.log_in(lambda d: d.find_elements(By.CSS_SELECTOR, "#ujian-daftar tr"))
        self.assertIn("Dari berkas server.toml", b.find_element(By.ID, "ujian-daftar").text)
        b.find_element(By.ID, "ex-classes").send_keys("7B")
        b.find_element(By.ID, "ex-buat").click()
        WebDriverWait(b, 5).until(lambda d: d.find_element(By.ID, "ex-token").get_attribute("value"))
        token = b.find_element(By.ID, "ex-token").get_attribute("value")
        typed = 'https://f.example/7b?n={studentName}"><img src=x>'
        b.find_element(By.ID, "ex-formUrl").send_keys(typed)
        b.find_element(By.ID, "ex-simpan").click()
        WebDriverWait(b, 5).until(lambda d: d.find_element(By.ID, "ex-formUrl-salah").text)
        self.assertIn("tanda kutip", b.find_element(By.ID, "ex-formUrl-salah").text)
        self.assertEqual(b.find_element(By.ID, "ex-formUrl").get_attribute("value"), typed, "what was typed is kept")
        b.find_element(By.ID, "ex-formUrl").clear()
        b.find_element(By.ID, "ex-formUrl").send_keys("https://f.example/7b?n={studentName}")
        b.find_element(By.ID, "ex-simpan").click()
        WebDriverWait(b, 5).until(lambda d: d.find_element(By.ID, "ex-hasil").text == "Ujian disimpan. Token: " + token)
        self.assertEqual(b.find_element(By.ID, "ex-formUrl-salah").text, "")
        # Read in one script: the page replaces the exams' table whenever it loads it.
        tokens = ("return [...document.querySelectorAll('td.token-besar')]"
                  ".map(td => [td.textContent, parseFloat(getComputedStyle(td).fontSize)])")
        big = WebDriverWait(b, 5).until(lambda d: [size for text, size in d.execute_script(tokens) if text == token])
        self.assertGreaterEqual(big[0], 48)
        session = self.server.verify("Budi", "7B", token)
        self.assertEqual(self.server.report(session, "Budi", "START", "mulai", "7B", token)[0], 200)
        WebDriverWait(b, 5).until(lambda d: (self.row("Budi") or [""])[0] == "Mengerjakan")
        # "Ganti token", confirmed: a new one shows; the running exam stays.
        b.execute_script("[...document.querySelectorAll('#ujian-daftar button')]"
                         ".find(e => e.textContent === 'Ganti token').click()")
        WebDriverWait(b, 5).until(lambda d: d.switch_to.alert).accept()
        WebDriverWait(b, 5).until(lambda d: d.execute_script(tokens)[0][0] != token)
        self.assertEqual(self.row("Budi")[0], "Mengerjakan")

    def test_the_administrator_sets_up_a_class_and_its_proctor_who_then_sees_only_that_class(self):
        b = self.browser
        self.log_in(lambda d: d.find_element(By.ID, "akun").is_displayed())
        # The exam, the class list and the proctor, each from its form.
        b.find_element(By.ID, "ex-classes").send_keys("7B")
        b.find_element(By.ID, "ex-token").send_keys("tujuhb")
        b.find_element(By.ID, "ex-formUrl").send_keys("https://f.example/7b?n={studentName}")
        b.execute_script("document.getElementById('ex-school').value = 'SD\\tTujuh'")  # pasted with a tab
        b.find_element(By.ID, "ex-simpan").click()
        WebDriverWait(b, 5).until(lambda d: d.find_element(By.ID, "ex-school-salah").text)
        self.assertEqual(b.find_element(By.ID, "ex-school-salah").text, "Nama sekolah tidak boleh berisi karakter kendali.")
        b.find_element(By.ID, "ex-school").clear()
        b.find_element(By.ID, "ex-school").send_keys(" SD  Tujuh")
        b.find_element(By.ID, "ex-simpan").click()
        WebDriverWait(b, 5).until(lambda d: d.find_element(By.ID, "ex-hasil").text == "Ujian disimpan. Token: TUJUHB")
        WebDriverWait(b, 5).until(lambda d: "Kelas 7B \u00b7 SD Tujuh - " in d.find_element(By.ID, "ujian-daftar").text)
        b.find_element(By.ID, "dk-kelas").send_keys("7b")
        b.find_element(By.ID, "dk-nama").send_keys("Ani\nBayu\n")
        b.find_element(By.CSS_SELECTOR, "#form-daftar button").click()
        WebDriverWait(b, 5).until(lambda d: d.find_element(By.ID, "dk-hasil").text.startswith("Kelas 7b: 2 nama"))
        b.find_element(By.ID, "ak-name").send_keys("Bu Rina")
        b.find_element(By.ID, "ak-password").send_keys("pendek")
        b.find_element(By.ID, "ak-classes").send_keys("7B")
        b.find_element(By.ID, "ak-simpan").click()
        WebDriverWait(b, 5).until(lambda d: d.find_element(By.ID, "ak-password-salah").text)
        self.assertEqual(b.find_element(By.ID, "ak-password-salah").text, "Kata sandi paling sedikit 10 huruf.")
        self.assertEqual(b.find_element(By.ID, "ak-name").get_attribute("value"), "Bu Rina", "what was typed is kept")
        b.find_element(By.ID, "ak-password").send_keys("-sekali-ya")
        b.find_element(By.ID, "ak-school").send_keys("sd tujuh")
        b.find_element(By.ID, "ak-simpan").click()
        WebDriverWait(b, 5).until(lambda d: "Bu Rina: kelas 7B di sd tujuh" in d.find_element(By.ID, "akun-daftar").text)
        self.server.verify("Budi")  # a 5A student
        WebDriverWait(b, 5).until(lambda d: self.row("Budi") and self.row("Ani"))
        b.find_element(By.CSS_SELECTOR, "header form button").click()
        # The proctor logs in with name and password: only 7B, no forms of the administrator.
        WebDriverWait(b, 10).until(lambda d: d.find_elements(By.ID, "name"))
        b.find_element(By.ID, "name").send_keys("bu rina")
        self.send_password("pendek-sekali-ya")
        WebDriverWait(b, 10).until(lambda d: d.find_element(By.ID, "saya").text == "Bu Rina (kelas 7B, sd tujuh)")
        WebDriverWait(b, 5).until(lambda d: self.row("Ani"))
        self.assertEqual((self.row("Ani")[0], self.row("Bayu")[0], self.row("Budi")), ("Belum mulai", "Belum mulai", None))
        for hidden in ("akun", "daftar-kelas", "form-ujian"):
            self.assertFalse(b.find_element(By.ID, hidden).is_displayed(), hidden)
        self.assertIn("TUJUHB", b.find_element(By.ID, "ujian-daftar").text, "the token to hand out")
        session = self.server.verify("Ani", "7B", "TUJUHB")
        self.assertEqual(self.server.report(session, "Ani", "START", "mulai", "7B", "TUJUHB")[0], 200)
        WebDriverWait(b, 5).until(lambda d: (self.row("Ani") or [""])[0] == "Mengerjakan")
        self.assertEqual([o.text for o in Select(b.find_element(By.ID, "kelas")).options], ["Semua kelas saya", "7B"])

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
