"""Encrypted archives made by 7-Zip (ZipCrypto, AES-128/192/256; stored and
Deflate) and by Info-ZIP zip -P (also written to standard output, with data
descriptors) through kvsfx extract and test; wrong passwords, a damaged AES
entry, an unknown method behind either cipher, an over-long password, and one
prompt for two entries."""

import os
import pty
import select
import shutil
import subprocess
import sys
import termios
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import kvtest  # noqa: E402

SEVENZIP = shutil.which("7zz") or shutil.which("7z")
PASSWORD = "Secret-Passw0rd"
FILES = {
    "text.txt": b"The quick brown fox jumps over the lazy dog.\n" * 2000,
    "dir/binary.bin": bytes((i * 7919 + (i >> 5)) & 0xFF for i in range(70000)),
    "empty.txt": b"",
}


class EncryptedArchives(kvtest.TempDirTest):
    def setUp(self):
        super().setUp()
        kvtest.need(os.path.exists(kvtest.TOOL), "kvsfx is not built")
        self.src = self.path("src")
        for name, data in FILES.items():
            os.makedirs(os.path.dirname(os.path.join(self.src, name)), exist_ok=True)
            kvtest.write(os.path.join(self.src, name), data)

    def seven(self, name, *switches):
        kvtest.need(SEVENZIP, "7-Zip is not installed")
        out = self.path(name)
        subprocess.run([SEVENZIP, "a", "-tzip", "-p" + PASSWORD, *switches, out, "."], cwd=self.src,
                       check=True, stdout=subprocess.DEVNULL)
        return out

    def info_zip(self, name, to_stdout=False):
        kvtest.need(kvtest.ZIP, "Info-ZIP zip is not installed")
        out = self.path(name)
        if to_stdout:  # streamed: sizes and CRC go into data descriptors
            with open(out, "wb") as f:
                subprocess.run([kvtest.ZIP, "-q", "-r", "-P", PASSWORD, "-", "."], cwd=self.src, check=True, stdout=f)
        else:
            subprocess.run([kvtest.ZIP, "-q", "-r", "-P", PASSWORD, out, "."], cwd=self.src, check=True)
        return out

    def assert_tree(self, out):
        for name, data in FILES.items():
            self.assertEqual(data, kvtest.read(os.path.join(out, name)), name)

    def archives(self):
        return {
            "7z ZipCrypto deflate": self.seven("zc.zip", "-mem=ZipCrypto", "-mx5"),
            "7z ZipCrypto stored": self.seven("zc0.zip", "-mem=ZipCrypto", "-mx0"),
            "7z AES-128 deflate": self.seven("a128.zip", "-mem=AES128", "-mx5"),
            "7z AES-192 stored": self.seven("a192.zip", "-mem=AES192", "-mx0"),
            "7z AES-256 deflate": self.seven("a256.zip", "-mem=AES256", "-mx5"),
            "7z AES-256 stored": self.seven("a256s.zip", "-mem=AES256", "-mx0"),
            "zip -P": self.info_zip("izp.zip"),
            "zip -P to stdout": self.info_zip("izps.zip", to_stdout=True),
        }

    def test_right_password_extracts_byte_identical_and_tests_clean(self):
        # The password from each of its three sources in turn.
        file = kvtest.write(self.path("pw.txt"), PASSWORD.encode() + b"\r\nsecond line\n")
        bom = kvtest.write(self.path("pw-bom.txt"), b"\xef\xbb\xbf" + PASSWORD.encode() + b"\n")  # as editors save it
        sources = [(["--password", PASSWORD], None), (["--password-file", file], None),
                   ([], dict(os.environ, KVSFX_PASSWORD=PASSWORD)), (["--password-file", bom], None)]
        for n, (label, archive) in enumerate(self.archives().items()):
            args, env = sources[n % len(sources)]
            with self.subTest(label):
                out = self.path("out-" + os.path.basename(archive))
                r = kvtest.run_tool("extract", archive, "-d", out, *args, "--quiet", stdin=subprocess.DEVNULL, env=env)
                self.assertEqual(0, r.returncode, r.stderr)
                self.assert_tree(out)
                r = kvtest.run_tool("test", archive, *args, "--quiet", stdin=subprocess.DEVNULL, env=env)
                self.assertEqual(0, r.returncode, r.stderr)

    def test_wrong_or_missing_password_ends_as_such_and_leaves_nothing(self):
        # A password given is never replaced by a question, and nobody
        # cancelled: "wrong password", terminal or not.
        aes, zc = self.seven("a.zip", "-mem=AES256"), self.seven("z.zip", "-mem=ZipCrypto")
        zc_wrong = kvtest.wrong_password(zc)
        wrong = kvtest.write(self.path("wrong.txt"), zc_wrong.encode() + b"\n")
        empty = kvtest.write(self.path("empty.txt"), b"\n")
        cases = [("AES-256, --password", aes, ["--password", "wrong"], None, 8, b"error 28062: wrong password for"),
                 ("ZipCrypto, --password-file", zc, ["--password-file", wrong], None, 8, b"error 28062: wrong"),
                 ("ZipCrypto, --password", zc, ["--password", zc_wrong], None, 8, b"error 28062: wrong"),
                 # Streamed: the header holds the time's high byte, not the CRC's.
                 ("zip -P to stdout, --password", self.info_zip("izps.zip", to_stdout=True), ["--password", "wrong"],
                  None, 8, b"error 28062: wrong"),
                 ("AES-256, KVSFX_PASSWORD", aes, [], "wrong", 8, b"error 28062: wrong password for"),
                 ("AES-256, none given", aes, [], None, 8, b"no password was given"),
                 ("password file missing", aes, ["--password-file", self.path("none.txt")], None, 2, b"none.txt"),
                 ("password file empty", aes, ["--password-file", empty], None, 2, b"is empty"),
                 ("--password and --password-file", aes, ["--password", "x", "--password-file", wrong], None, 2,
                  b"exclude")]
        for label, archive, password, env_password, exit_code, needle in cases:
            env = dict(os.environ, KVSFX_PASSWORD=env_password or "")
            for command in ("extract", "test"):
                with self.subTest(label, command=command):
                    out = self.path("out-" + label.replace(" ", "_"))
                    args = [command, archive] + (["-d", out] if command == "extract" else []) + password
                    r = kvtest.run_tool(*args, stdin=subprocess.DEVNULL, env=env)
                    self.assertEqual(exit_code, r.returncode, r.stderr)
                    self.assertIn(needle, r.stderr)
                    self.assertEqual(1, r.stderr.count(b"\n"), r.stderr)
                    left = [f for _, _, fs in os.walk(out) for f in fs] if os.path.isdir(out) else []
                    self.assertEqual([], left)
        # With a terminal too, and test --json never asks either.
        for args in (["extract", aes, "-d", self.path("out-pty"), "--password", "wrong"], ["test", aes, "--json"]):
            status, transcript, _ = kvtest.on_terminal(args)
            self.assertEqual(8, status, transcript)
            self.assertEqual(transcript.count(b"wrong password for"), transcript.count(b"password for"), transcript)
            self.assertIn(b"error 28062", transcript)

    def test_flipped_byte_fails_and_removes_the_file(self):
        # AES: the authentication code fails (as it does for a wrong password);
        # zip -P (streamed, one-byte header check): with the right password
        # the damage is bad data or a CRC error, never a wrong password.
        cases = [("AES-256", lambda: self.seven("a.zip", "-mem=AES256", "-mx0"), "text.txt", 8, b"error 28062"),
                 ("zip -P", lambda: self.info_zip("izp.zip"), "dir/binary.bin", 4, b"error 280")]
        for case, make, name, code, error in cases:
            with self.subTest(case):
                archive = make()
                data = bytearray(kvtest.read(archive))
                # 1000 bytes past the first name (its local header) lie inside
                # its data, whatever extra fields precede it.
                data[data.index(name.encode()) + 1000] ^= 0x40
                kvtest.write(archive, bytes(data))
                out = self.path("out-" + case)
                r = kvtest.run_tool("extract", archive, "-d", out, "--password", PASSWORD, "--quiet",
                                    stdin=subprocess.DEVNULL)
                self.assertEqual(code, r.returncode, r.stderr)
                self.assertIn(error, r.stderr)
                self.assertNotIn(b"28062" if code == 4 else b"28080", r.stderr)
                self.assertFalse(os.path.exists(os.path.join(out, name)))

    def test_unknown_method_fails_whatever_the_encryption_and_leaves_nothing(self):
        # PPMd is no method of the engine: nothing is decoded. An AES entry
        # has no CRC to judge by, so it is refused as unsupported.
        cases = [("AES-256", "-mem=AES256", b"error 28048"), ("ZipCrypto", "-mem=ZipCrypto", b"error 28063")]
        for label, switch, error in cases:
            with self.subTest(label):
                archive = self.seven("ppmd-%s.zip" % label, switch, "-mm=PPMd")
                for command in ("extract", "test"):
                    out = self.path("out-ppmd-%s-%s" % (label, command))
                    args = [command, archive, "--password", PASSWORD, "--quiet"]
                    if command == "extract":
                        args[2:2] = ["-d", out]
                    r = kvtest.run_tool(*args, stdin=subprocess.DEVNULL)
                    self.assertNotEqual(0, r.returncode, command)
                    self.assertIn(error, r.stderr, command)
                    left = [f for _, _, fs in os.walk(out) for f in fs] if os.path.isdir(out) else []
                    self.assertEqual([], left)

    def test_password_of_129_bytes_is_refused_as_unsupported(self):
        archive = self.seven("a.zip", "-mem=AES128")
        r = kvtest.run_tool("extract", archive, "-d", self.path("out"), "--password", "x" * 129, "--quiet",
                            stdin=subprocess.DEVNULL)
        self.assertEqual(4, r.returncode, r.stderr)
        self.assertIn(b"error 28048", r.stderr)

    def test_terminal_asks_again_after_a_wrong_password_and_once_for_all_entries(self):
        archive = self.seven("a.zip", "-mem=AES256")
        out = self.path("out")
        pid, fd = pty.fork()
        if pid == 0:
            os.execv(kvtest.TOOL, [kvtest.TOOL, "extract", archive, "-d", out, "--quiet"])
        answers = [b"wrong\n", (PASSWORD + "\n").encode()]
        transcript, prompts, deadline = b"", 0, time.time() + 60
        try:
            while time.time() < deadline:
                # Answer a prompt only once echo is off: the prompt discards
                # what was typed before it took the terminal over.
                echo_off = not (termios.tcgetattr(fd)[3] & termios.ECHO)
                if transcript.count(b"password for") > prompts and prompts < len(answers) and echo_off:
                    os.write(fd, answers[prompts])
                    prompts += 1
                ready, _, _ = select.select([fd], [], [], 0.1)
                if not ready:
                    continue
                try:
                    chunk = os.read(fd, 4096)
                except OSError:
                    break
                if not chunk:
                    break
                transcript += chunk
        finally:
            if time.time() >= deadline:
                os.kill(pid, 9)
        _, status = os.waitpid(pid, 0)
        self.assertEqual(0, os.waitstatus_to_exitcode(status), transcript)
        self.assertEqual(2, prompts, transcript)
        self.assert_tree(out)


if __name__ == "__main__":
    unittest.main()
