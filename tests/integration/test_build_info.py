"""kvsfx build and info, and the start-up of the stubs they feed: natively
(POSIX stub) and under Wine (Windows stub)."""

import os
import random
import struct
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kvtest  # noqa: E402
from kvtest import TempDirTest, block_bytes, builtin_lang, read, settings_bytes, sfx_bytes, write  # noqa: E402

PAYLOAD = {"hello.txt": b"hello from the archive\n", "sub/data.bin": bytes(range(256)) * 40}


def lang_without(number, lang=None):
    """The German text with the line of one string removed."""
    lang = lang or builtin_lang("de")
    lines = lang.split(b"\r\n")
    return b"\r\n".join(l for l in lines if not l.startswith(b"%d=" % number))


def program_path(native):
    """A POSIX path as the stub's settings spell it (backslashes)."""
    return native.replace("/", "\\")


class ToolCommandLine(TempDirTest):
    def setUp(self):
        super().setUp()
        kvtest.need(os.path.exists(kvtest.TOOL), "kvsfx not built")
        self.stub = write(self.path("stub.bin"), b"MZ fake stub " * 100)
        self.archive = kvtest.make_zip(self.dir, PAYLOAD)

    def build(self, *args):
        return kvtest.run_tool("build", "--archive", self.archive, "--stub", self.stub, *args)

    def test_help_for_tool_and_verbs(self):
        for args, needle in ((["--help"], b"build"), (["help"], b"extract"), (["--version"], b"kvsfx 1.")):
            r = kvtest.run_tool(*args)
            self.assertEqual(0, r.returncode, args)
            self.assertIn(needle, r.stdout, args)
        for verb in ("build", "info", "extract", "test", "list"):
            r = kvtest.run_tool("help", verb)
            self.assertEqual(0, r.returncode, verb)
            self.assertIn(b"exit status:", r.stdout, verb)
            self.assertEqual(r.stdout, kvtest.run_tool(verb, "--help").stdout, verb)
        for args in ([], ["frobnicate"], ["help", "frobnicate"]):
            r = kvtest.run_tool(*args)
            self.assertEqual(2, r.returncode, args)
            self.assertEqual(b"", r.stdout, args)

    def test_output_is_stub_block_archive(self):
        out = self.path("out.bin")
        r = self.build("-o", out, "--lang", "en", "--mode", "2", "--caption", "Cap", "--message", "Line 1\r\nLine 2",
                       "--message-type", "1", "--info", "About", "--target", "C:\\Target", "--run", "setup.exe|/S", "--no-check-run",
                       "--overwrite-option", "--unattended", "--mode2-command", "x|y")
        self.assertEqual(0, r.returncode, r.stderr)
        settings = settings_bytes({
            "mode": 2, "premessageCaption": b"Cap", "premessageText": b"Line 1\r\nLine 2", "premessageType": 1,
            "infoText": b"About", "targetFolder": b"C:\\Target", "runCommand": b"setup.exe|/S",
            "overwriteOption": 1, "unattended": 1, "mode2Command": b"x|y"})
        want = sfx_bytes(read(self.stub), block_bytes(builtin_lang("en"), settings), read(self.archive))
        self.assertEqual(want, read(out))
        self.assertEqual(["archive.zip", "out.bin", "stub.bin", "zipsrc"], sorted(os.listdir(self.dir)))

    def test_settings_file_with_command_line_over_it(self):
        # Keys named as the settings or as the options that set them.
        ini = write(self.path("s.ini"), b"[settings]\r\n; a comment\r\nmode = 0\r\npremessageCaption=From file\r\n"
                                        b"message=\"  two\\nlines \"\r\ntargetFolder=C:\\Out\r\nunattended=1\r\n")
        out = self.path("out.bin")
        r = self.build("-o", out, "--settings", ini, "--caption", "From command line")
        self.assertEqual(0, r.returncode, r.stderr)
        settings = settings_bytes({"premessageCaption": b"From command line", "premessageText": b"  two\r\nlines ",
                                   "targetFolder": b"C:\\Out", "unattended": 1})
        self.assertEqual(sfx_bytes(read(self.stub), block_bytes(builtin_lang("de"), settings), read(self.archive)),
                         read(out))

    def test_refusals_leave_nothing_behind(self):
        no_eocd = write(self.path("notzip.zip"), b"PK\x03\x04 but no directory at all" * 10)
        no73 = write(self.path("no73.ini"), lang_without(73))
        three = write(self.path("three.ini"), builtin_lang("de").replace(b"34=Datei: %s", b"34=Datei: x"))
        bad_settings = write(self.path("bad.ini"), b"[settings]\r\nmodus=1\r\n")
        not_number = write(self.path("nan.ini"), b"[settings]\r\nmode=two\r\n")
        both = write(self.path("both.ini"), b"[settings]\r\nrun=a\r\nrunCommand=b\r\n")
        window_end = kvtest.SCAN_OFFSET + kvtest.SCAN_WINDOW - 19
        big_stub = write(self.path("big.bin"), b"\0" * (window_end + 1))
        own_header = write(self.path("own.bin"), b"\0" * 60000 + block_bytes(b"x" * 5))
        cases = [
            ("no end record", ["--archive", no_eocd], 1, b"end-of-central-directory"),
            ("language without 73", ["--lang", no73], 1, b"string 73"),
            ("string 34 count", ["--lang", three], 1, b"string 34"),
            ("missing language file", ["--lang", self.path("nothing.ini")], 1, b"cannot open"),
            ("caption of 256", ["--caption", "c" * 256], 1, b"premessageCaption"),
            ("message of 4096", ["--message", "m" * 4096], 1, b"premessageText"),
            ("run command of 256", ["--run", "r" * 256], 1, b"runCommand"),
            ("unknown option", ["--colour", "red"], 2, b"unknown option"),
            ("missing value", ["--mode"], 2, b"needs a value"),
            ("bad number", ["--mode", "-1"], 2, b"not a number"),
            ("unknown setting", ["--settings", bad_settings], 1, b"modus"),
            ("setting not a number", ["--settings", not_number], 1, b"not a number"),
            ("setting and its option name", ["--settings", both], 1, b"both runCommand and run"),
            ("stub past the window", ["--stub", big_stub], 1, b"too large"),
            ("stub with a header of its own", ["--stub", own_header], 1, b"header of its own"),
            ("stub and target os", ["--target-os", "posix"], 2, b"exclude"),
        ]
        before = sorted(os.listdir(self.dir))
        for what, args, code, needle in cases:
            out = self.path("refused.bin")
            r = self.build("-o", out, *args)
            self.assertEqual(code, r.returncode, what)
            self.assertIn(needle, r.stderr, what)
            self.assertEqual(1, r.stderr.count(b"\n"), what)
            self.assertEqual(before, sorted(os.listdir(self.dir)), what)

    def test_limits_themselves_are_accepted(self):
        window_end = kvtest.SCAN_OFFSET + kvtest.SCAN_WINDOW - 19
        stub = write(self.path("edge.bin"), b"\0" * window_end)
        out = self.path("edge.sfx")
        r = kvtest.run_tool("build", "--archive", self.archive, "--stub", stub, "-o", out, "--caption", "c" * 255,
                            "--message", "m" * 4095)
        self.assertEqual(0, r.returncode, r.stderr)
        info = kvtest.run_tool("info", out)
        self.assertEqual(0, info.returncode, info.stdout + info.stderr)
        self.assertIn(b"block at offset    %d" % window_end, info.stdout)

    def test_info_shows_block_and_settings(self):
        out = self.path("x.sfx")
        r = self.build("-o", out, "--lang", "en", "--run", "setup.exe|/quiet", "--no-check-run", "--target", "C:\\Program Files\\X",
                       "--message", "Hello")
        self.assertEqual(0, r.returncode, r.stderr)
        info = kvtest.run_tool("info", out)
        self.assertEqual(0, info.returncode, info.stderr)
        for needle in (b"revision           5", b'language           "English"', b'runCommand         "setup.exe|/quiet"',
                       b'premessageText     "Hello"', b'targetFolder       "C:\\\\Program Files\\\\X"',
                       b'runParameters      "/quiet"', b"premessagePending  1",
                       b"block at offset    50000", b"archive at offset  %d" % (len(read(out)) - len(read(self.archive)))):
            self.assertIn(needle, info.stdout)

    def test_info_reads_settings_cut_short(self):
        # A stored length past the end of the file reads what is there; every
        # field behind it stays empty.
        cut = struct.pack("<III", 1, 0, 0) + struct.pack("<I", 0xFFFFFFFF) + b"Cap"
        path = write(self.path("cut.sfx"), sfx_bytes(read(self.stub), block_bytes(builtin_lang("de"), cut)))
        r = kvtest.run_tool("info", path)
        self.assertEqual(0, r.returncode, r.stdout + r.stderr)
        self.assertIn(b'premessageCaption  "Cap"', r.stdout)
        self.assertIn(b"mode               1", r.stdout)
        self.assertIn(b'premessageText     ""', r.stdout)

    def test_profile_reader_forms_are_accepted(self):
        # What the Windows profile reader takes: blanks and a tab inside the
        # brackets, a UTF-8 byte order mark in front.
        text = b"\xef\xbb\xbf" + builtin_lang("en").replace(b"[data]", b"[ data\t]", 1)
        lang = write(self.path("forms.ini"), text)
        out = self.path("forms.sfx")
        r = self.build("-o", out, "--lang", lang)
        self.assertEqual(0, r.returncode, r.stderr)
        info = kvtest.run_tool("info", out)
        self.assertEqual(0, info.returncode, info.stdout + info.stderr)

    def test_info_reports_the_start_up_failure(self):
        no73 = write(self.path("no73.sfx"), sfx_bytes(read(self.stub), block_bytes(lang_without(73), settings_bytes())))
        for path, code, needle in ((self.stub, -1, b"Could not locate meta data."),
                                   (no73, -2, b"Could not locate meta data for language settings.")):
            r = kvtest.run_tool("info", path)
            self.assertEqual(1, r.returncode)
            self.assertIn(b"code %d" % code, r.stdout)
            self.assertIn(needle, r.stdout)


def bad_inputs(stub, archive, target):
    """Files the stub must survive: (what, bytes, expected exit status). The
    ones that start extract unattended into target."""
    lang = builtin_lang("de")
    settings = settings_bytes()
    rng = random.Random(20261208)
    garbage = bytes(rng.getrandbits(8) for _ in range(200000))
    big_lang = lang + b" " * (65535 - len(lang))
    return [
        ("language text lacks string 73", sfx_bytes(stub, block_bytes(lang_without(73), settings)),
         kvtest.EXIT_BAD_LANGUAGE),
        ("string 34 with three %s", sfx_bytes(stub, block_bytes(lang.replace(b"34=Datei: %s", b"34=x"), settings)),
         kvtest.EXIT_BAD_LANGUAGE),
        ("stub padded far past the window", sfx_bytes(stub + b"\0" * (2 * kvtest.SCAN_WINDOW), block_bytes(lang, settings)),
         kvtest.EXIT_NOT_FOUND),
        ("only revision 4", sfx_bytes(stub, block_bytes(lang, settings, revision=4)), kvtest.EXIT_NOT_FOUND),
        ("block cut after its header", sfx_bytes(stub, block_bytes(lang)[:18]), kvtest.EXIT_NOT_FOUND),
        ("block cut inside the language text", sfx_bytes(stub, block_bytes(lang)[:1000]), kvtest.EXIT_BAD_LANGUAGE),
        ("language length past the end", sfx_bytes(stub, block_bytes(lang[:500], lang_length=65535)),
         kvtest.EXIT_BAD_LANGUAGE),
        ("garbage behind the stub", sfx_bytes(stub, garbage), kvtest.EXIT_NOT_FOUND),
        ("garbage as language text", sfx_bytes(stub, block_bytes(garbage[:65535])), kvtest.EXIT_BAD_LANGUAGE),
        ("language text as the profile reader takes it",
         sfx_bytes(stub, block_bytes(b"\xef\xbb\xbf" + lang.replace(b"[data]", b"[ data\t]", 1),
                                     settings_bytes({"unattended": 1, "targetFolder": target})), archive), 0),
        ("language text of 65535 bytes",
         sfx_bytes(stub, block_bytes(big_lang, settings_bytes({"unattended": 1, "targetFolder": target})), archive), 0),
    ]


class PosixStub(TempDirTest):
    def setUp(self):
        super().setUp()
        kvtest.need(os.path.exists(kvtest.POSIX_STUB) and os.path.exists(kvtest.TOOL), "POSIX stub or kvsfx not built")
        # Sanitizer builds make a stub larger than the scan window allows.
        kvtest.need(os.path.getsize(kvtest.POSIX_STUB) < kvtest.SCAN_WINDOW, "POSIX stub too large (sanitizer build?)")
        self.tmp = self.path("tmp")
        os.mkdir(self.tmp)

    def run_stub(self, exe, tmpdir=None):
        env = dict(os.environ, TMPDIR=tmpdir or self.tmp)
        return kvtest.run([exe], env=env, stdin=kvtest.subprocess.DEVNULL, timeout=60)

    def test_built_self_extractor_starts_and_extracts(self):
        archive = kvtest.make_zip(self.dir, PAYLOAD)
        target = self.path("out")
        exe = self.path("x.run")
        r = kvtest.run_tool("build", "--archive", archive, "-o", exe, "--target-os", "posix", "--unattended",
                            "--target", program_path(target))
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertTrue(os.access(exe, os.X_OK))
        r = self.run_stub(exe)
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertEqual(PAYLOAD["hello.txt"], read(os.path.join(target, "hello.txt")))
        self.assertEqual([], os.listdir(self.tmp))

    def test_bare_stub_cannot_find_its_block(self):
        r = self.run_stub(kvtest.POSIX_STUB)
        self.assertEqual(kvtest.EXIT_NOT_FOUND, r.returncode)
        self.assertIn(b"Could not locate meta data.", r.stderr)
        self.assertIn("Kann Metadaten nicht finden.".encode(), r.stderr)

    def test_unusable_temp_folder(self):
        exe = write(self.path("x.run"), sfx_bytes(read(kvtest.POSIX_STUB), block_bytes(builtin_lang("de"), settings_bytes())),
                    executable=True)
        r = self.run_stub(exe, tmpdir="/proc/no/such/folder")
        self.assertEqual(kvtest.EXIT_NO_TEMP, r.returncode)
        self.assertIn(b"Could not access temp directory.", r.stderr)

    def test_bad_inputs_end_cleanly(self):
        stub = read(kvtest.POSIX_STUB)
        archive = read(kvtest.make_zip(self.dir, PAYLOAD))
        for i, (what, data, code) in enumerate(bad_inputs(stub, archive, program_path(self.path("out")))):
            exe = write(self.path("bad%d.run" % i), data, executable=True)
            r = self.run_stub(exe)
            self.assertEqual(code, r.returncode, "%s: %r" % (what, r.stderr[-300:]))
            self.assertEqual([], os.listdir(self.tmp), what)


class WindowsStub(TempDirTest):
    def setUp(self):
        super().setUp()
        kvtest.need(kvtest.WINE, "wine is not installed")
        kvtest.need(os.path.exists(kvtest.WINDOWS_STUB) and os.path.exists(kvtest.TOOL), "Windows stub or kvsfx not built")
        self.temp_dirs = kvtest.wine_temp_dir()
        self.assertTrue(self.temp_dirs, "Wine's temporary folder not found")
        self.temp_before = kvtest.lang_temp_files(self.temp_dirs)

    def assertNoNewTempFiles(self, what):
        # Other tests run stubs in the same Wine prefix at the same time; their
        # language files are gone when they end, a file this run left stays.
        deadline = time.monotonic() + 20
        while kvtest.lang_temp_files(kvtest.wine_temp_dir()) - self.temp_before and time.monotonic() < deadline:
            time.sleep(0.2)
        self.assertEqual(set(), kvtest.lang_temp_files(kvtest.wine_temp_dir()) - self.temp_before, what)

    def test_stub_is_a_small_gui_pe32_plus(self):
        data = read(kvtest.WINDOWS_STUB)
        self.assertLessEqual(len(data), 150 * 1024)
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        self.assertEqual(b"PE\0\0", data[pe:pe + 4])
        self.assertEqual(0x8664, struct.unpack_from("<H", data, pe + 4)[0])  # x86-64
        optional = pe + 24
        self.assertEqual(0x20B, struct.unpack_from("<H", data, optional)[0])  # PE32+
        self.assertEqual(2, struct.unpack_from("<H", data, optional + 68)[0])  # GUI subsystem

    def test_built_self_extractor_starts_and_extracts(self):
        archive = kvtest.make_zip(self.dir, PAYLOAD)
        target = self.path("out")
        exe = self.path("x.exe")
        r = kvtest.run_tool("build", "--archive", archive, "-o", exe, "--stub", kvtest.WINDOWS_STUB, "--unattended",
                            "--target", "Z:" + program_path(target))
        self.assertEqual(0, r.returncode, r.stderr)
        r = kvtest.run_wine(exe)
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertEqual(PAYLOAD["hello.txt"], read(os.path.join(target, "hello.txt")))
        self.assertNoNewTempFiles("built")

    def test_bare_stub_cannot_find_its_block(self):
        self.assertEqual(kvtest.EXIT_NOT_FOUND, kvtest.run_wine(kvtest.WINDOWS_STUB).returncode)

    def test_main_dialog_that_cannot_open_is_no_success(self):
        # Without a display the main dialog can't be created: nothing was
        # extracted, so the run must not end with the exit code of success.
        archive = kvtest.make_zip(self.dir, PAYLOAD)
        target = self.path("out")
        exe = self.path("dialog.exe")
        r = kvtest.run_tool("build", "--archive", archive, "-o", exe, "--stub", kvtest.WINDOWS_STUB, "--lang", "en",
                            "--target", "Z:" + program_path(target))
        self.assertEqual(0, r.returncode, r.stderr)
        r = kvtest.run_wine(exe)
        self.assertEqual(8, r.returncode, r.stderr)
        self.assertFalse(os.path.exists(target))
        self.assertNoNewTempFiles("dialog")

    def test_bad_inputs_end_cleanly(self):
        stub = read(kvtest.WINDOWS_STUB)
        archive = read(kvtest.make_zip(self.dir, PAYLOAD))
        for i, (what, data, code) in enumerate(bad_inputs(stub, archive, "Z:" + program_path(self.path("out")))):
            exe = write(self.path("bad%d.exe" % i), data)
            r = kvtest.run_wine(exe)
            self.assertEqual(code, r.returncode, what)
            self.assertNoNewTempFiles(what)


if __name__ == "__main__":
    unittest.main()
