"""The policy files a school imports on its exam PCs (docs/policies/*.reg):
registry files that regedit reads as they are written, one policy set for
Edge and for Chrome, and the Windows settings beside them."""
import os
import re
import unittest

POLICIES = os.path.join(os.path.dirname(__file__), "..", "..", "docs", "policies")
HEADER = "Windows Registry Editor Version 5.00"

# A value as regedit stores it: ("dword", number) or ("sz", text).
Value = tuple[str, int | str]
Keys = dict[str, dict[str, Value]]

KEY_LINE = re.compile(r"\[(-?)((?:HKEY_LOCAL_MACHINE|HKEY_CURRENT_USER)(?:\\[^\\\[\]]+)+)\]")
DWORD = re.compile(r"dword:([0-9a-fA-F]{8})")


class RegError(ValueError):
    pass


def quoted(text: str, where: str) -> tuple[str, str]:
    """The string opening `text` ("..." with \\\\ and \\" escapes) and what follows it."""
    if not text.startswith('"'):
        raise RegError(f"{where}: a quoted string was expected")
    out: list[str] = []
    i = 1
    while i < len(text):
        c = text[i]
        if c == '"':
            return "".join(out), text[i + 1:]
        if c == "\\":
            if i + 1 == len(text) or text[i + 1] not in '\\"':
                raise RegError(f"{where}: a backslash must be doubled or escape a quote")
            c = text[i + 1]
            i += 1
        out.append(c)
        i += 1
    raise RegError(f"{where}: the string is not closed")


def parse_reg(data: bytes) -> tuple[Keys, set[str]]:
    """The keys with their values, and the keys the file deletes, of a
    "Windows Registry Editor Version 5.00" file kept in plain ASCII with CRLF
    line ends. Key and value names are compared without case, as the
    registry does. Raises RegError on anything regedit would misread or that
    would leave the registry other than the file reads."""
    try:
        text = data.decode("ascii")  # also refuses a BOM and UTF-16
    except UnicodeDecodeError as error:
        raise RegError(f"not plain ASCII at byte {error.start}") from None
    if not text.endswith("\r\n"):
        raise RegError("the last line does not end in CRLF")
    lines = text[:-2].split("\r\n")
    for number, line in enumerate(lines, 1):
        if "\r" in line or "\n" in line:
            raise RegError(f"line {number}: a line end other than CRLF")
    if lines[0] != HEADER or len(lines) < 2 or lines[1] != "":
        raise RegError(f"the file must open with {HEADER!r} and a blank line")

    keys: Keys = {}
    deleted: set[str] = set()
    current: dict[str, Value] | None = None
    for number, line in enumerate(lines[2:], 3):
        where = f"line {number}"
        if line == "" or line.startswith(";"):
            continue
        key = KEY_LINE.fullmatch(line)
        if key:
            path = key.group(2).casefold()
            if key.group(1):
                written = [k for k in keys if k == path or k.startswith(path + "\\")]
                if written:
                    raise RegError(f"{where}: deletes {written[0]}, which the file wrote above")
                deleted.add(path)
                current = None
                continue
            if path in keys:
                raise RegError(f"{where}: {path} is opened a second time")
            current = keys[path] = {}
            continue
        if line.startswith("["):
            raise RegError(f"{where}: not a key of HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER: {line}")
        name, rest = quoted(line, where)
        if not rest.startswith("="):
            raise RegError(f"{where}: '=' must follow the value's name")
        rest = rest[1:]
        if current is None:
            raise RegError(f"{where}: a value outside any key")
        if name == "" or name.casefold() in current:
            raise RegError(f"{where}: the value name {name!r} is empty or repeated")
        dword = DWORD.fullmatch(rest)
        if dword:
            current[name.casefold()] = ("dword", int(dword.group(1), 16))
            continue
        string, after = quoted(rest, where)
        if after:
            raise RegError(f"{where}: {after!r} after the string")
        current[name.casefold()] = ("sz", string)
    return keys, deleted


def read(name: str) -> tuple[Keys, set[str]]:
    with open(os.path.join(POLICIES, name), "rb") as f:
        return parse_reg(f.read())


# The policies with their values from the browsers' policy lists: developer
# tools 2 = not allowed anywhere; private windows 1 = not available; browser
# sign-in 0 = disabled; the rest booleans, 0 = off.
CHROME_POLICIES: dict[str, Value] = {
    "DeveloperToolsAvailability": ("dword", 2),
    "PrintingEnabled": ("dword", 0),
    "AllowFileSelectionDialogs": ("dword", 0),
    "IncognitoModeAvailability": ("dword", 1),
    "BrowserGuestModeEnabled": ("dword", 0),
    "TranslateEnabled": ("dword", 0),
    "SpellcheckEnabled": ("dword", 0),
    "BrowserSignin": ("dword", 0),
    "RemoteDebuggingAllowed": ("dword", 0),
}
EDGE_NAMES = {"IncognitoModeAvailability": "InPrivateModeAvailability"}
# Edge's own: the mini menu over selected text, the sidebar.
EDGE_ONLY: dict[str, Value] = {
    "QuickSearchShowMiniMenu": ("dword", 0),
    "HubsSidebarEnabled": ("dword", 0),
}
BROWSERS = {
    "edge-exam.reg": (r"HKEY_LOCAL_MACHINE\SOFTWARE\Policies\Microsoft\Edge", "edge", EDGE_NAMES, EDGE_ONLY),
    "chrome-exam.reg": (r"HKEY_LOCAL_MACHINE\SOFTWARE\Policies\Google\Chrome", "chrome", {}, {}),
}
# What answering a form needs: its answer pages (published forms are under
# /forms/d/e/; the editor and the Forms home are not), the sign-in, and the
# browser's policy page for the IT person's check.
ALLOWED = ("https://docs.google.com/forms/d/e/", "https://accounts.google.com")
WINDOWS = {
    r"HKEY_LOCAL_MACHINE\SOFTWARE\Policies\Microsoft\Windows\System": {
        "AllowClipboardHistory": ("dword", 0),
        "AllowCrossDeviceClipboard": ("dword", 0),
    },
    r"HKEY_CURRENT_USER\Software\Policies\Microsoft\Windows\CurrentVersion\PushNotifications": {
        "NoToastApplicationNotification": ("dword", 1),
    },
}
# An entry of the address lists: [scheme://]host[/path], host letters, digits, '.', '-'.
ADDRESS = re.compile(r"(?:(?:https?|edge|chrome)://)?[a-z0-9-]+(?:\.[a-z0-9-]+)*(?:/[^\s*]*)?")


class BrowserPolicies(unittest.TestCase):
    def test_edge_and_chrome_files_hold_the_same_policies_and_address_lists(self):
        allowlists: dict[str, list[str]] = {}
        for file, (root, scheme, renamed, own) in BROWSERS.items():
            with self.subTest(file=file):
                keys, deleted = read(file)
                blocklist, allowlist = (root + r"\URLBlocklist").casefold(), (root + r"\URLAllowlist").casefold()
                self.assertEqual(set(keys), {root.casefold(), blocklist, allowlist})
                expected = {renamed.get(n, n).casefold(): v for n, v in (CHROME_POLICIES | own).items()}
                self.assertEqual(keys[root.casefold()], expected)
                # Lists are REG_SZ values "1", "2", ... under their own key, each
                # key deleted before it is written so no older entry survives.
                self.assertEqual({blocklist, allowlist} - deleted, set())
                self.assertEqual(keys[blocklist], {"1": ("sz", "*")})
                entries = keys[allowlist]
                self.assertEqual(list(entries), [str(i) for i in range(1, len(entries) + 1)])
                self.assertTrue(all(kind == "sz" for kind, _ in entries.values()))
                addresses = [str(text) for _, text in entries.values()]
                for address in addresses:
                    self.assertIsNotNone(ADDRESS.fullmatch(address), f"not an address filter: {address!r}")
                self.assertEqual(sorted(addresses), sorted(ALLOWED + (f"{scheme}://policy",)))
                allowlists[scheme] = [a.replace("edge://", "chrome://") for a in addresses]
        self.assertEqual(allowlists["edge"], allowlists["chrome"])

    def test_the_windows_file_turns_off_notifications_and_the_clipboards_history_and_sharing(self):
        keys, deleted = read("windows-exam.reg")
        self.assertEqual(deleted, set())
        self.assertEqual(keys, {k.casefold(): {n.casefold(): v for n, v in values.items()} for k, values in WINDOWS.items()})

    def test_the_reader_refuses_what_regedit_would_misread(self):
        good = (HEADER + "\r\n\r\n; a note\r\n"
                "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\P\\L]\r\n"
                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\P]\r\n"
                "\"Flag\"=dword:0000000a\r\n"
                "\"Text\"=\"say \\\"hi\\\" C:\\\\x\"\r\n"
                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\P\\L]\r\n"
                "\"1\"=\"*\"\r\n")
        keys, deleted = parse_reg(good.encode("ascii"))
        self.assertEqual(keys, {"hkey_local_machine\\software\\p": {"flag": ("dword", 10), "text": ("sz", 'say "hi" C:\\x')},
                                "hkey_local_machine\\software\\p\\l": {"1": ("sz", "*")}})
        self.assertEqual(deleted, {"hkey_local_machine\\software\\p\\l"})
        broken = {
            "UTF-16 with a BOM": good.encode("utf-16"),
            "UTF-8 with a BOM": b"\xef\xbb\xbf" + good.encode("ascii"),
            "LF line ends": good.replace("\r\n", "\n").encode("ascii"),
            "a last line without its end": good[:-2].encode("ascii"),
            "the old header": good.replace(HEADER, "REGEDIT4").encode("ascii"),
            "no blank line after the header": good.replace("\r\n\r\n", "\r\n", 1).encode("ascii"),
            "a value before any key": good.replace("; a note", "\"Early\"=dword:00000001").encode("ascii"),
            "a value under a deleted key": good.replace("L]\r\n[HKEY", "L]\r\n\"x\"=\"y\"\r\n[HKEY", 1).encode("ascii"),
            "a name repeated in another case": good.replace("\"Text\"", "\"FLAG\"").encode("ascii"),
            "a key opened twice": (good + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\p]\r\n").encode("ascii"),
            "a key deleted after it was written": (good + "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\P]\r\n").encode("ascii"),
            "a lone backslash": good.replace("C:\\\\x", "C:\\x").encode("ascii"),
            "an unclosed string": good.replace("\"1\"=\"*\"", "\"1\"=\"*").encode("ascii"),
            "text after a string": good.replace("\"1\"=\"*\"", "\"1\"=\"*\" ").encode("ascii"),
            "a dword of seven digits": good.replace("0000000a", "000000a").encode("ascii"),
            "a key with a trailing backslash": good.replace("SOFTWARE\\P]", "SOFTWARE\\P\\]").encode("ascii"),
            "a key of another hive": good.replace("[HKEY_LOCAL_MACHINE\\SOFTWARE\\P]", "[HKEY_CLASSES_ROOT\\SOFTWARE\\P]").encode("ascii"),
            "an abbreviated hive": good.replace("[HKEY_LOCAL_MACHINE\\SOFTWARE\\P]", "[HKLM\\SOFTWARE\\P]").encode("ascii"),
            "a line that is nothing": good.replace("; a note", "a note").encode("ascii"),
        }
        for case, data in broken.items():
            with self.subTest(case=case), self.assertRaises(RegError):
                parse_reg(data)
        # A number written as a string is well-formed but of the wrong type,
        # which the content test's comparison then refuses.
        as_string = parse_reg(good.replace("dword:0000000a", '"10"').encode("ascii"))[0]
        self.assertEqual(as_string["hkey_local_machine\\software\\p"]["flag"], ("sz", "10"))


if __name__ == "__main__":
    unittest.main()
