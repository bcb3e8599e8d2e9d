"""The browsers' allow-list printed for the configured exams (check --policies)."""
from __future__ import annotations

import contextlib
import io
import os
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))

from orvel_exam_server import cli  # noqa: E402
from orvel_exam_server.config import Exam  # noqa: E402
from orvel_exam_server.policies import allowlist, form_entries  # noqa: E402

FORM = "https://docs.google.com/forms/d/e/1FAIpQLSd_abc-XYZ/viewform"


class FormEntries(unittest.TestCase):
    def test_the_forms_own_pages_and_nothing_beside_them(self):
        table = [
            (FORM, ["https://docs.google.com/forms/d/e/1FAIpQLSd_abc-XYZ/"]),
            (FORM + "?usp=pp_url&entry.1=%7B%7D#top", ["https://docs.google.com/forms/d/e/1FAIpQLSd_abc-XYZ/"]),
            ("https://docs.google.com/forms/d/e/1FAIpQLSd_abc-XYZ/formResponse",
             ["https://docs.google.com/forms/d/e/1FAIpQLSd_abc-XYZ/"]),
            ("HTTPS://Docs.Google.com/forms/d/e/ID9/viewform?entry.5={studentName}",
             ["https://docs.google.com/forms/d/e/ID9/"]),
            # The older kind shares its folder with the editor (/edit): the address and its Submit only.
            ("https://docs.google.com/forms/d/1BxiMVs0XRA5/viewform",
             ["https://docs.google.com/forms/d/1BxiMVs0XRA5/viewform",
              "https://docs.google.com/forms/d/1BxiMVs0XRA5/formResponse"]),
            # Not a form's own address: as it is, without its query.
            ("https://docs.google.com/forms/d/e/", ["https://docs.google.com/forms/d/e/"]),
            ("https://f.example/ujian?nama={studentName}&x=1", ["https://f.example/ujian"]),
            ("https://f.example:8443/kelas/{studentName}/isi", ["https://f.example:8443/kelas/"]),
            ("http://localhost", ["http://localhost/"]),
        ]
        for url, entries in table:
            with self.subTest(url=url):
                self.assertEqual(form_entries(url), entries)

    def test_each_exams_form_once_and_the_sign_in_its_host_needs(self):
        exams = [Exam("5A", "T1", FORM), Exam("5B", "T2", FORM + "?x=1"), Exam("6A", "T3", "https://f.example/6a"),
                 Exam("6B", "T4", "https://docs.google.com/forms/d/e/OTHER/viewform")]
        self.assertEqual(allowlist(exams), [
            ("class 5A, token T1", ["https://docs.google.com/forms/d/e/1FAIpQLSd_abc-XYZ/"]),
            ("class 6A, token T3", ["https://f.example/6a"]),
            ("class 6B, token T4", ["https://docs.google.com/forms/d/e/OTHER/"]),
            ("the sign-in the forms above may ask for", ["https://accounts.google.com"]),
        ])
        self.assertEqual(allowlist([Exam("6A", "T3", "https://f.example/6a")]),
                         [("class 6A, token T3", ["https://f.example/6a"])], "no Google form: no Google sign-in")


class CheckPolicies(unittest.TestCase):
    def test_prints_the_registry_blocks_for_both_browsers(self):
        with tempfile.TemporaryDirectory() as folder:
            config = Path(folder, "server.toml")
            config.write_text('[server]\nhost = "cbt.x.sch.id"\nproctor_password = "env:ORVEL_TEST_PW"\n'
                              f'[[exam]]\nclass = "5A"\ntoken = "T1"\nform_url = "{FORM}?entry.1={{studentName}}"\n',
                              encoding="utf-8")
            out = io.StringIO()
            os.environ["ORVEL_TEST_PW"] = "sandi-rahasia-panjang"
            try:
                with contextlib.redirect_stdout(out):
                    code = cli.main(["check", "--policies", "--config", str(config)])
            finally:
                del os.environ["ORVEL_TEST_PW"]
        self.assertEqual(code, 0)
        text = out.getvalue()
        for browser, key, page in (("Edge", r"Microsoft\Edge", "edge://policy"), ("Chrome", r"Google\Chrome", "chrome://policy")):
            block = (f"; {browser}\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\{key}\\URLAllowlist]\n"
                     f"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\{key}\\URLAllowlist]\n"
                     "; class 5A, token T1\n"
                     '"1"="https://docs.google.com/forms/d/e/1FAIpQLSd_abc-XYZ/"\n'
                     "; the sign-in the forms above may ask for\n"
                     '"2"="https://accounts.google.com"\n'
                     "; so that IT can check the policies\n"
                     f'"3"="{page}"\n')
            self.assertIn(block, text)
        self.assertNotIn('"https://docs.google.com/forms/d/e/"', text, "not every published form")


if __name__ == "__main__":
    unittest.main()
