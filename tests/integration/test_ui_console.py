"""The POSIX terminal front-end through a pseudo-terminal: the same flows as
the Windows dialogs, the progress line, Ctrl+C as cancel, and the rules
without a terminal: an interactive run is an error, an unattended run's
questions are a cancel."""
import os
import pty
import select
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
import zipfile

import kvtest

BIN = os.environ.get("KV_BIN", "")
TOOL = os.path.join(BIN, "kvsfx")
STUB = os.path.join(BIN, "kvsfx-stub")


class Session:
    """A program on its own pseudo-terminal (controlling terminal and
    foreground process group, so Ctrl+C reaches it as on a real terminal)."""

    def __init__(self, argv, cwd):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            try:
                os.chdir(cwd)
                os.execv(argv[0], argv)
            finally:
                os._exit(127)
        self.out = b""
        self.seen = 0
        self.status = None

    def _read(self, timeout):
        r, _, _ = select.select([self.fd], [], [], timeout)
        if not r:
            return False
        try:
            data = os.read(self.fd, 65536)
        except OSError:  # the other side closed
            data = b""
        if not data:
            return None
        self.out += data
        return True

    def expect(self, text, timeout=20):
        """Waits for text after what earlier expectations consumed."""
        needle = text.encode() if isinstance(text, str) else text
        deadline = time.time() + timeout
        while True:
            at = self.out.find(needle, self.seen)
            if at >= 0:
                self.seen = at + len(needle)
                return
            left = deadline - time.time()
            if left <= 0 or self._read(min(left, 0.2)) is None:
                raise AssertionError("%r not seen; output so far:\n%s" % (text, self.out.decode("latin-1")))

    def send(self, text):
        os.write(self.fd, text.encode() if isinstance(text, str) else text)

    def wait(self, timeout=60):
        deadline = time.time() + timeout
        while time.time() < deadline:
            self._read(0.1)
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                while self._read(0.05):
                    pass
                self.status = os.waitstatus_to_exitcode(status)
                os.close(self.fd)
                return self.status
        os.kill(self.pid, signal.SIGKILL)
        os.waitpid(self.pid, 0)
        os.close(self.fd)
        raise AssertionError("program did not end; output:\n%s" % self.out.decode("latin-1"))

    def text(self):
        return self.out.decode("latin-1")


@unittest.skipUnless(os.path.isfile(TOOL) and os.path.isfile(STUB), "kvsfx and kvsfx-stub not in KV_BIN")
class ConsoleTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="kv-console-")
        self.session = None

    def tearDown(self):
        if self.session and self.session.status is None:
            try:
                self.session.wait(5)
            except AssertionError:
                pass
        shutil.rmtree(self.dir, ignore_errors=True)

    def make_zip(self, files, method=zipfile.ZIP_DEFLATED):
        path = os.path.join(self.dir, "archive.zip")
        with zipfile.ZipFile(path, "w", method) as z:
            for name, data in files.items():
                z.writestr(name, data)
        return path

    def build(self, archive, *options):
        out = os.path.join(self.dir, "setup")
        r = subprocess.run([TOOL, "build", "--target-os", "posix", "--archive", archive, "-o", out, "--lang", "en"]
                           + list(options), capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        os.chmod(out, 0o755)
        return out

    def start(self, exe):
        self.session = Session([exe], self.dir)
        return self.session

    def target(self, *parts):
        return os.path.join(self.dir, "out", *parts)

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def start_extraction(self, s):
        s.expect("Target folder:")
        s.send("\n")
        s.expect("[E]xtract")
        s.send("\n")

    # --- main flow ---
    def test_extract_into_default_folder_shows_summary(self):
        s = self.start(self.build(self.make_zip({"a.txt": b"alpha", "sub/b.txt": b"beta"})))
        s.expect("Kivrel Self Extractor - setup")
        self.start_extraction(s)
        s.expect("setup: 2 file(s)/folder(s) extracted")
        self.assertEqual(s.wait(), 0)
        self.assertEqual(self.read(os.path.join(self.dir, "sub", "b.txt")), b"beta")

    def test_folder_typed_and_progress_redrawn_in_place(self):
        s = self.start(self.build(self.make_zip({"big.bin": os.urandom(3 << 20)}), "--target", "/unused"))
        s.expect("[/unused]")
        s.send(self.target("typed") + "\n")
        s.expect("[E]xtract")
        s.send("1\n")
        self.assertEqual(s.wait(), 0)
        self.assertEqual(len(self.read(self.target("typed", "big.bin"))), 3 << 20)
        out = s.text()
        self.assertIn("\r[", out)  # the line is redrawn, not repeated
        self.assertIn("big.bin (100 %)", out)

    def test_cancel_before_extraction(self):
        s = self.start(self.build(self.make_zip({"a.txt": b"alpha"}), "--target", self.target()))
        s.expect("Target folder:")
        s.send("\n")
        s.expect("Cancel")
        s.send("2\n")
        self.assertEqual(s.wait(), 0)
        self.assertFalse(os.path.exists(self.target()))

    def test_ctrl_c_during_long_extraction(self):
        big = os.urandom(1 << 20) * 200
        s = self.start(self.build(self.make_zip({"big.bin": big, "z.txt": b"z"}, zipfile.ZIP_STORED),
                                  "--target", self.target()))
        self.start_extraction(s)
        s.expect("big.bin (")  # the progress line is up
        s.send("\x03")
        s.expect("Cancelled by the user.")
        self.assertEqual(s.wait(), 9)
        self.assertFalse(os.path.exists(self.target("big.bin")), "partial file left behind")

    def test_folder_too_long_is_refused_then_a_271_character_one_fails_cleanly(self):
        s = self.start(self.build(self.make_zip({"a.txt": b"alpha"}), "--target", self.target()))
        s.expect("Target folder:")
        s.send("/" + "x" * 300 + "\n")
        s.expect("The target folder is not valid.")  # not cut into another folder
        s.expect("Target folder:")
        longest = self.target() + "/" + "y" * (271 - len(self.target()) - 1)
        self.assertEqual(len(longest), 271)
        s.send(longest + "\n")
        s.expect("[E]xtract")
        s.send("\n")
        # No room for a file name below it: named as too long, not as denied.
        s.expect("The path is too long (more than 255 characters): a.txt")
        self.assertEqual(s.wait(), 5)
        for root, _, files in os.walk(self.dir):
            self.assertNotIn("a.txt", files, root)

    def test_folder_that_cannot_be_created(self):
        blocker = os.path.join(self.dir, "file")
        with open(blocker, "wb") as f:
            f.write(b"x")
        s = self.start(self.build(self.make_zip({"a.txt": b"alpha"}), "--target", os.path.join(blocker, "sub")))
        self.start_extraction(s)
        s.expect("Access denied by the system.")
        self.assertEqual(s.wait(), 5)
        self.assertEqual(self.read(blocker), b"x")

    def test_ctrl_c_in_an_unattended_run(self):
        big = os.urandom(1 << 20) * 200
        s = self.start(self.build(self.make_zip({"big.bin": big}, zipfile.ZIP_STORED), "--target", self.target(),
                                  "--unattended"))
        s.expect("big.bin (")
        s.send("\x03")
        self.assertEqual(s.wait(), 9)  # stopped by the job, not killed by the signal
        self.assertFalse(os.path.exists(self.target("big.bin")), "partial file left behind")

    def test_premessage_answered_no(self):
        s = self.start(self.build(self.make_zip({"a.txt": b"alpha"}), "--target", self.target(),
                                  "--message", "Install the test files?", "--message-type", "1"))
        s.expect("Install the test files?")
        s.expect("[N]o")
        s.send("n\n")  # the hotkey letter
        self.assertEqual(s.wait(), 0)
        self.assertFalse(os.path.exists(self.target()))

    def test_end_of_input_is_a_cancel(self):
        s = self.start(self.build(self.make_zip({"a.txt": b"alpha"}), "--target", self.target()))
        s.expect("Target folder:")
        s.send("\x04")  # end of input at the terminal
        self.assertEqual(s.wait(), 0)
        self.assertFalse(os.path.exists(self.target()))

    # --- overwrite ---
    def overwrite_run(self, answers):
        os.makedirs(self.target())
        for name in ("1.txt", "2.txt", "3.txt"):
            with open(self.target(name), "wb") as f:
                f.write(b"old")
        s = self.start(self.build(self.make_zip({"1.txt": b"new1", "2.txt": b"new2", "3.txt": b"new3"}),
                                  "--target", self.target()))
        self.start_extraction(s)
        for answer in answers:
            s.expect("Confirm file replace")
            s.expect("3 bytes")  # the existing file's size line
            s.expect("4 bytes")  # the archive's
            s.send(answer + "\n")
        return s

    def contents(self):
        return [self.read(self.target(n)) for n in ("1.txt", "2.txt", "3.txt")]

    def test_overwrite_replace_keep_replace(self):
        s = self.overwrite_run(["1", "3", ""])  # Enter takes the default: replace
        self.assertEqual(s.wait(), 0)
        self.assertEqual(self.contents(), [b"new1", b"old", b"new3"])

    def test_overwrite_replace_all(self):
        s = self.overwrite_run(["3", "2"])
        self.assertEqual(s.wait(), 0)
        self.assertEqual(self.contents(), [b"old", b"new2", b"new3"])
        self.assertEqual(s.text().count("Confirm file replace"), 2)

    def test_overwrite_cancel(self):
        s = self.overwrite_run(["1", "4"])
        s.expect("Cancelled by the user.")
        self.assertEqual(s.wait(), 9)
        self.assertEqual(self.contents(), [b"new1", b"old", b"old"])

    # --- passwords ---
    def encrypted(self, method):
        if not shutil.which("7zz"):
            self.skipTest("7-Zip (7zz) not installed")
        src = os.path.join(self.dir, "src")
        os.makedirs(src)
        for name, data in (("s1.txt", b"first\n" * 40), ("s2.txt", b"second\n" * 40)):
            with open(os.path.join(src, name), "wb") as f:
                f.write(data)
        archive = os.path.join(self.dir, "enc.zip")
        subprocess.run(["7zz", "a", "-tzip", "-psecret", "-mem=" + method, archive, "s1.txt", "s2.txt"], cwd=src,
                       check=True, stdout=subprocess.DEVNULL)
        return archive

    def password_run(self, method):
        archive = self.encrypted(method)
        s = self.start(self.build(archive, "--target", self.target()))
        self.start_extraction(s)
        # A wrong password its random header happens to accept would fail
        # later, as a decoding error, with no second question.
        for word in (kvtest.wrong_password(archive), "secret"):
            s.expect("Password: ")
            s.send(word + "\n")
        self.assertEqual(s.wait(), 0)
        self.assertNotIn("secret", s.text())  # typed without echo
        self.assertNotIn("wrong", s.text())
        self.assertEqual(s.text().count("Password required"), 2)  # none for the second entry
        self.assertEqual(self.read(self.target("s2.txt")), b"second\n" * 40)

    def test_password_wrong_then_right_zipcrypto(self):
        self.password_run("ZipCrypto")

    def test_password_wrong_then_right_aes(self):
        self.password_run("AES256")

    # --- run-after ---
    def test_cleanup_removes_only_what_the_run_wrote(self):
        # A file kept at the question, and the folder holding it, stay; what
        # the run wrote or replaced goes, with the folders it made.
        temp = os.path.join(self.dir, "tmp")
        target = os.path.join(temp, "inst")
        os.makedirs(os.path.join(target, "old"))
        for name in ("old/kept.txt", "old/replaced.txt"):
            with open(os.path.join(target, name), "wb") as f:
                f.write(b"old")
        path = os.path.join(self.dir, "archive.zip")
        with zipfile.ZipFile(path, "w") as z:
            z.writestr(zipfile.ZipInfo("old/kept.txt"), b"new1")
            z.writestr(zipfile.ZipInfo("old/replaced.txt"), b"new2")
            z.writestr(zipfile.ZipInfo("new/made.txt"), b"new3")
            info = zipfile.ZipInfo("setup.sh")
            info.external_attr = 0o100755 << 16
            z.writestr(info, b"#!/bin/sh\nexit 0\n")
        exe = self.build(path, "--target", "%Temp%\\inst", "--run", "setup.sh", "--wait", "--cleanup")
        old = os.environ.get("TMPDIR")
        os.environ["TMPDIR"] = temp
        try:
            s = self.start(exe)
        finally:
            if old is None:
                del os.environ["TMPDIR"]
            else:
                os.environ["TMPDIR"] = old
        s.expect("Target folder:")
        s.send("\n")
        s.expect("after extraction.")
        s.send("\n")
        s.expect("[E]xtract")
        s.send("\n")
        for answer in ("3", "1"):  # keep, replace
            s.expect("Confirm file replace")
            s.send(answer + "\n")
        self.assertEqual(s.wait(), 0)
        self.assertEqual(["old"], os.listdir(target))
        self.assertEqual(["kept.txt"], os.listdir(os.path.join(target, "old")))
        self.assertEqual(b"old", self.read(os.path.join(target, "old", "kept.txt")))

    def test_run_after_started_in_its_own_folder(self):
        # The extracted files carry no execute permission, so the program is
        # one that is already in place beside what the archive brings.
        os.makedirs(self.target("tools"))
        script = self.target("tools", "rec.sh")
        with open(script, "w") as f:
            f.write("#!/bin/sh\n{ pwd; echo \"$0\"; echo \"$@\"; } > record.txt\n")
        os.chmod(script, 0o755)
        archive = self.make_zip({"tools/readme.txt": b"read me"})
        s = self.start(self.build(archive, "--target", self.target(), "--run", "tools\\rec.sh|one two",
                                  "--no-check-run"))
        s.expect("Target folder:")
        s.send("\n")
        s.expect("Run 'rec.sh' after extraction.")
        s.send("\n")  # yes
        s.expect("[E]xtract")
        s.send("\n")
        # The terminal stays open until the record is written: closing it
        # would hang up the started program with it.
        record = self.target("tools", "record.txt")
        deadline = time.time() + 10
        while not os.path.exists(record) and time.time() < deadline:
            time.sleep(0.1)
        time.sleep(0.2)
        self.assertEqual(s.wait(), 0)
        self.assertNotIn("extracted/tested", s.text())  # no summary with a run-after command
        lines = self.read(record).decode().splitlines()
        self.assertEqual(lines[0], os.path.realpath(self.target("tools")))  # its own folder
        self.assertEqual(lines[1], "rec.sh")  # by its name only
        self.assertEqual(lines[2], "one two")

    def test_run_after_that_cannot_start(self):
        s = self.start(self.build(self.make_zip({"a.txt": b"alpha"}), "--target", self.target(),
                                  "--run", "missing.sh", "--no-check-run"))
        s.expect("Target folder:")
        s.send("\n")
        s.expect("Run 'missing.sh' after extraction.")
        s.send("1\n")
        s.expect("[E]xtract")
        s.send("1\n")
        s.expect("The file 'missing.sh' could not be run.")
        self.assertEqual(s.wait(), 8)
        self.assertTrue(os.path.exists(self.target("a.txt")))

    # --- without a terminal ---
    def test_interactive_without_terminal_is_an_error(self):
        # Nothing extracted must not read as success: string 44 with the
        # system's reason (ENOTTY from a file, EBADF from a closed input).
        exe = self.build(self.make_zip({"a.txt": b"alpha"}), "--target", self.target())
        for stdin, reason in ((subprocess.DEVNULL, 25), (None, 9)):
            r = subprocess.run([exe], stdin=stdin, capture_output=True, cwd=self.dir, timeout=60,
                               preexec_fn=None if stdin is not None else lambda: os.close(0))
            self.assertEqual(r.returncode, 8)
            self.assertEqual(r.stderr.decode(), "Error (%d) in setup.\n" % reason)
            self.assertEqual(r.stdout, b"")
            self.assertFalse(os.path.exists(self.target()))

    def test_unattended_without_terminal_refuses_the_password(self):
        archive = self.encrypted("AES256")
        exe = self.build(archive, "--target", self.target(), "--unattended")
        r = subprocess.run([exe], stdin=subprocess.DEVNULL, capture_output=True, cwd=self.dir, timeout=60)
        self.assertEqual(r.returncode, 9)
        self.assertFalse(os.path.exists(self.target("s1.txt")))


if __name__ == "__main__":
    unittest.main()
