#!/usr/bin/env python3
"""lumo-host's file-system commands end to end: lumo-host.exe under Wine
against the Drive emulator, checked against the emulator's own records.

    lumo_host_commands.py --wine LOADER --host EXE --plugin MODULE --state DIR
"""
import argparse
import hashlib
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest
import urllib.parse
import urllib.request

ARGS = None
ERROR_LINE = re.compile(r"^error 0x([0-9A-F]{8}): \S")

ALICE_ROOT = "0AEmuAliceRootUk9PVA"
BOB_ROOT = "0AEmuBobRootUk9PVA"
PROJECTS = "1aliceProjects___________________"
PAGING = "1alicePaging_____________________"
MANUAL = "1aliceLargeManual________________"
WELCOME = "1aliceWelcome____________________"
MEETING_DOC = "1aliceMeetingDoc_________________"


def control(method, path, body=None):
    with open(os.path.join(ARGS.state, "http.addr")) as f:
        address = f.read().strip()
    data = json.dumps(body).encode() if body is not None else None
    request = urllib.request.Request("http://%s%s" % (address, path), data=data, method=method)
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    with opener.open(request, timeout=30) as answer:
        return json.loads(answer.read() or b"{}")


def files():
    return control("GET", "/_emu/files")["files"]


def content_sha(file_id):
    return control("GET", "/_emu/files/%s/content-sha256" % file_id)


def windows_path(path):
    return "Z:" + path


def link(file_id):
    return "https://drive.google.com/open?id=" + file_id


class Run:
    def __init__(self, completed):
        self.code = completed.returncode
        self.out = completed.stdout.decode("utf-8").replace("\r\n", "\n")
        self.err = completed.stderr.decode("utf-8", "replace").replace("\r\n", "\n")

    def lines(self):
        return [line for line in self.out.split("\n") if line]


def lumo_host(*args):
    with open(os.path.join(ARGS.state, "http.addr")) as f:
        address = f.read().strip()
    env = dict(os.environ, DRIVE_EMULATOR_HOST=address)
    completed = subprocess.run([ARGS.wine, ARGS.host, ARGS.plugin] + list(args), env=env,
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    return Run(completed)


class LumoHostTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        control("POST", "/_emu/reset")
        cls.work = tempfile.mkdtemp(prefix="lumo-host-")

    def local(self, name):
        return os.path.join(self.work, name)

    def assertFails(self, run, code=None):
        said = "exit %d, out %r, err %r" % (run.code, run.out, run.err)
        self.assertEqual(run.code, 1, said)
        match = ERROR_LINE.match(run.err)
        self.assertIsNotNone(match, said)
        if code is not None:
            self.assertEqual(int(match.group(1), 16), code, run.err)

    def assertOk(self, run):
        self.assertEqual(run.code, 0, run.err)

    def listing(self, *args):
        run = lumo_host(*args)
        self.assertOk(run)
        rows = [line.split("\t") for line in run.lines()]
        for row in rows:
            self.assertEqual(len(row), 5, row)
            self.assertIn(row[0], ("D", "F"))
            self.assertRegex(row[3], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
        return rows

    def test_ls_lists_what_the_emulator_holds(self):
        for root, args in ((ALICE_ROOT, ()),
                           (BOB_ROOT, ("--user", "bob.emulator@example.org"))):
            rows = self.listing(*args, "ls", "https://drive.google.com")
            expected = [f for f in files() if f["parent"] == root and not f["trashed"]]
            self.assertEqual(sorted(r[1] for r in rows), sorted(f["title"] for f in expected))
            for row in rows:
                summary = next(f for f in expected if f["title"] == row[1])
                self.assertEqual(row[4], link(summary["id"]))
                folder = summary["mimeType"] == "application/vnd.google-apps.folder"
                self.assertEqual(row[0], "D" if folder else "F", row)
                if not folder and not summary["mimeType"].startswith("application/vnd.google-apps"):
                    self.assertEqual(int(row[2]), summary["size"], row)
        paging = self.listing("ls", link(PAGING))
        self.assertEqual([r[1] for r in paging], ["Page %d.pdf" % n for n in range(1, 8)])

    def test_stat_resolves_every_text_form(self):
        cases = [
            (link(WELCOME), "Welcome.pdf", 0, WELCOME),
            ("https://drive.google.com/file/d/%s/view" % WELCOME, "Welcome.pdf", 0, WELCOME),
            ("gd://drive.google.com/googledriveid%s" % PROJECTS, "Projects", 0x100000, PROJECTS),
            ("C:/Users/x/GoogleDriveID%s" % PROJECTS, "Projects", 0x100000, PROJECTS),
        ]
        docs = "https://docs.google.com/open?id=%s&usp=sharing" % WELCOME
        cases = [(text, title, attributes, file_id, link(file_id))
                 for text, title, attributes, file_id in cases]
        # A link keeps its own web host.
        cases.append((docs, "Welcome.pdf", 0, WELCOME, docs.split("&")[0]))
        for text, title, attributes, file_id, name in cases:
            with self.subTest(text=text):
                run = lumo_host("stat", text)
                self.assertOk(run)
                values = dict(line.split(": ", 1) for line in run.lines())
                self.assertEqual(values["title"], title)
                self.assertEqual(values["attributes"], "0x%08X" % attributes)
                self.assertEqual(values["name"], name)
                summary = next(f for f in files() if f["id"] == file_id)
                if not attributes:
                    self.assertEqual(int(values["size"]), summary["size"])
                self.assertRegex(values["modified"], r"^2024-03-0\dT\d\d:00:00Z$")
        root = lumo_host("stat", "https://drive.google.com")
        self.assertOk(root)
        self.assertIn("attributes: 0x00100000", root.lines())
        self.assertIn("name: https://drive.google.com", root.lines())

    def test_get_gives_the_content_in_both_patterns(self):
        expected = content_sha(MANUAL)
        for pattern, chunk in (("seq", None), ("pdf", None), ("pdf", "100000")):
            with self.subTest(pattern=pattern, chunk=chunk):
                target = self.local("manual-%s-%s.pdf" % (pattern, chunk))
                args = ["get", link(MANUAL), windows_path(target), "--pattern", pattern]
                if chunk:
                    args += ["--chunk", chunk]
                run = lumo_host(*args)
                self.assertOk(run)
                with open(target, "rb") as f:
                    data = f.read()
                self.assertEqual(hashlib.sha256(data).hexdigest(), expected["sha256"])
                read = int(re.fullmatch(r"read (\d+) bytes", run.lines()[0]).group(1))
                moved = int(re.fullmatch(r"transferred (\d+) bytes", run.lines()[1]).group(1))
                if pattern == "seq":
                    self.assertEqual(read, expected["length"])
                else:
                    self.assertGreater(read, expected["length"])
                # Skips download nothing: what came over the network is what was read.
                self.assertGreaterEqual(moved, expected["length"])
                self.assertLessEqual(moved, read * 1.1)
        small = self.local("welcome.pdf")
        run = lumo_host("get", link(WELCOME), windows_path(small), "--chunk", "7", "--pattern",
                        "pdf")
        self.assertOk(run)
        with open(small, "rb") as f:
            self.assertEqual(hashlib.sha256(f.read()).hexdigest(), content_sha(WELCOME)["sha256"])

    def test_get_of_a_google_document_reads_its_pdf_export(self):
        target = self.local("meeting.pdf")
        run = lumo_host("get", link(MEETING_DOC), windows_path(target), "--pattern", "pdf")
        self.assertOk(run)
        with open(target, "rb") as f:
            data = f.read()
        self.assertTrue(data.startswith(b"%PDF"), data[:16])
        self.assertEqual(run.lines()[1], "transferred %d bytes" % len(data))

    def test_put_creates_refuses_and_overwrites(self):
        first, second = self.local("first.pdf"), self.local("second.pdf")
        with open(first, "wb") as f:
            f.write(b"%PDF-1.4 first " + bytes(range(256)) * 5000)
        with open(second, "wb") as f:
            f.write(b"%PDF-1.4 second")
        for text, parent in (("gd://drive.google.com/googledriveidroot/put new.pdf", ALICE_ROOT),
                             ("gd://drive.google.com/googledriveid%s/put new.pdf" % PROJECTS,
                              PROJECTS)):
            with self.subTest(text=text):
                run = lumo_host("put", windows_path(first), text)
                self.assertOk(run)
                created = [f for f in files() if f["title"] == "put new.pdf" and f["parent"] == parent]
                self.assertEqual(len(created), 1)
                self.assertEqual(run.lines(), [link(created[0]["id"])])
                with open(first, "rb") as f:
                    self.assertEqual(content_sha(created[0]["id"])["sha256"],
                                     hashlib.sha256(f.read()).hexdigest())

                refused = lumo_host("put", windows_path(second), text)
                self.assertFails(refused, 0x83FF0050)
                self.assertEqual(refused.out, "")
                with open(first, "rb") as f:
                    self.assertEqual(content_sha(created[0]["id"])["sha256"],
                                     hashlib.sha256(f.read()).hexdigest())

                replaced = lumo_host("put", windows_path(second), text, "--overwrite")
                self.assertOk(replaced)
                self.assertEqual(replaced.lines(), run.lines())
                self.assertEqual(content_sha(created[0]["id"])["length"], len(b"%PDF-1.4 second"))
        missing = lumo_host("put", windows_path(second),
                            "gd://drive.google.com/googledriveidroot/absent.pdf", "--overwrite")
        self.assertFails(missing, 0x83FF0002)
        self.assertFalse([f for f in files() if f["title"] == "absent.pdf"])

    def test_failures_exit_1_with_the_error_line(self):
        target = self.local("never.pdf")
        cases = [
            (("stat", "https://drive.google.com/open?id=ab.cd"), 0x82220001),
            (("stat", "https://drive.google.com/open"), 0x82220001),
            (("ls", "https://example.com/open?id=" + WELCOME), None),
            (("stat", link("1nothingHere_____________________")), None),
            (("get", link("1nothingHere_____________________"), windows_path(target)), None),
            (("get", link(MANUAL), windows_path(self.local("no/such/folder.pdf"))), None),
            (("put", windows_path(self.local("no-such-file")), link(WELCOME)), None),
            (("--consent", "deny", "ls", "https://drive.google.com"), None),
            (("--consent", "close", "ls", "https://drive.google.com"), None),
        ]
        for args, code in cases:
            with self.subTest(args=args):
                run = lumo_host(*args)
                self.assertFails(run, code)
                self.assertEqual(run.out, "")
        self.assertFalse(os.path.exists(target))

    def test_open_and_save_run_the_commands_through_the_dialog(self):
        budget = next(f for f in files() if f["title"] == "Budget 2024.pdf")
        opened = self.local("opened.pdf")
        run = lumo_host("open", windows_path(opened), "--pick", "Projects/2024/Budget 2024.pdf")
        self.assertOk(run)
        with open(opened, "rb") as f:
            data = f.read()
        self.assertEqual(hashlib.sha256(data).hexdigest(), content_sha(budget["id"])["sha256"])
        run = lumo_host("save", windows_path(opened), "--as", "Projects/Saved by the command.pdf")
        self.assertOk(run)
        saved = [f for f in files() if f["title"] == "Saved by the command.pdf"]
        self.assertEqual(len(saved), 1)
        self.assertEqual(saved[0]["parent"], PROJECTS)
        self.assertEqual(content_sha(saved[0]["id"])["sha256"], hashlib.sha256(data).hexdigest())
        # A path to nothing cancels the dialog: the cancellation's code.
        self.assertFails(lumo_host("open", windows_path(self.local("none.pdf")), "--pick",
                                   "Projects/Nothing.pdf"), 0x822204C7)

    def test_show_puts_the_listed_dialog_on_the_screen_and_cancels_it(self):
        before = len(files())
        for mode in ("open", "save"):
            with self.subTest(mode=mode):
                run = lumo_host("show", mode)
                self.assertOk(run)
                shown = [line.split() for line in run.lines() if line.startswith("shown ")]
                self.assertEqual(len(shown), 1, run.out)
                left, top, right, bottom = (int(n) for n in shown[0][1:])
                self.assertGreater(right - left, 600)
                self.assertGreater(bottom - top, 400)
        self.assertEqual(len(files()), before)

    def test_demo_walks_the_whole_road(self):
        run = lumo_host("demo")
        self.assertOk(run)
        self.assertIn("[&Google Drive...]", run.out)
        self.assertIn("Budget 2024 (copy).pdf", run.out)
        copies = [f for f in files() if f["title"] == "Budget 2024 (copy).pdf"]
        self.assertTrue(copies)
        budget = next(f for f in files() if f["title"] == "Budget 2024.pdf")
        self.assertEqual(content_sha(copies[-1]["id"])["sha256"],
                         content_sha(budget["id"])["sha256"])

    def test_sign_in_secrets_stay_out_of_the_output(self):
        before = len(control("GET", "/_emu/log")["requests"])
        run = lumo_host("ls", "https://drive.google.com")
        self.assertOk(run)
        secrets = {}
        for request in control("GET", "/_emu/log")["requests"][before:]:
            query = urllib.parse.urlsplit(request["path"]).query
            form = bytes.fromhex(request["body_hex"]).decode("utf-8", "replace")
            for text in (query, form):
                for name, values in urllib.parse.parse_qs(text).items():
                    if name in ("state", "code_challenge", "code", "code_verifier"):
                        secrets.setdefault(name, set()).update(values)
            bearer = request["headers"].get("authorization", "")
            if bearer.startswith("Bearer "):
                secrets.setdefault("token", set()).add(bearer[len("Bearer "):])
        # The sign-in ran in this process: its exchange and a Drive request, and
        # with the browser flow its consent's state and PKCE.
        self.assertLessEqual({"code", "token"}, set(secrets))
        if "state" in secrets:
            self.assertLessEqual({"code_challenge", "code_verifier"}, set(secrets))
        for name, values in secrets.items():
            for value in values:
                self.assertNotIn(value, run.out + run.err, name)

    def test_usage_errors_exit_2(self):
        cases = [
            ("frob",), ("ls",), ("ls", "a", "b"), ("get", "a"), ("put", "a"),
            ("get", "a", "b", "--chunk", "0"), ("get", "a", "b", "--chunk", "x"),
            ("get", "a", "b", "--chunk"), ("get", "a", "b", "--pattern", "random"),
            ("put", "a", "b", "--chunk", "5"), ("ls", "a", "--overwrite"),
            ("--consent", "maybe", "ls", "a"), ("--user",), ("--colour", "red", "info"),
            ("open", "a"), ("open", "a", "--as", "b"), ("save", "a"), ("demo", "a"),
            ("show",), ("show", "browse"), ("show", "open", "save"),
        ]
        for args in cases:
            with self.subTest(args=args):
                run = lumo_host(*args)
                self.assertEqual(run.code, 2, run.err)
                self.assertEqual(run.out, "")
        bare = subprocess.run([ARGS.wine, ARGS.host], stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=60)
        self.assertEqual(bare.returncode, 2)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for name in ("--wine", "--host", "--plugin", "--state"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
