"""kvsfx build as a release pipeline uses it: from a folder, checked before
anything is written, texts in Windows-1252, the Windows stub's resources set,
signed, waiting for the installer, and split sets written beside the output."""

import os
import shutil
import stat
import struct
import subprocess
import sys
import threading
import time
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kvtest  # noqa: E402
from kvtest import TempDirTest, need, read, run, run_tool, write  # noqa: E402

EPOCH = "1700000000"
UTF8_NAME = "sub/d\u00e9j\u00e0 vu/gr\u00fc\u00dfe.txt"
TREE = {"a.txt": b"alpha\n", "sub/nums.txt": b"".join(b"%d\n" % i for i in range(20000)),
        UTF8_NAME: b"\xc3\xbc\n", "rand.bin": os.urandom(3000)}
SCRIPT = b"#!/bin/sh\n[ \"$*\" = \"one two\" ] || exit 3\nexit 7\n"


def tree(folder):
    """{relative path: bytes, or None for a folder}, and modes of executables."""
    out = {}
    for root, dirs, names in os.walk(folder):
        for d in dirs:
            out[os.path.relpath(os.path.join(root, d), folder)] = None
        for n in names:
            out[os.path.relpath(os.path.join(root, n), folder)] = read(os.path.join(root, n))
    return out


def pe_checksum(data):
    """The PE checksum and the offset of its field, computed independently."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    field = pe + 24 + 64
    words = data[:field] + b"\0\0\0\0" + data[field + 4:] + b"\0" * (len(data) % 2)
    total = 0
    for (word,) in struct.iter_unpack("<H", words):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF, field


class BuildFromFolder(TempDirTest):
    def setUp(self):
        super().setUp()
        need(os.path.exists(kvtest.TOOL), "kvsfx not built")
        self.src = self.path("src")
        for name, data in TREE.items():
            os.makedirs(os.path.dirname(self.path("src", name)), exist_ok=True)
            write(self.path("src", name), data)
        os.makedirs(self.path("src", "empty"))
        write(self.path("src", "setup.sh"), SCRIPT, executable=True)
        os.symlink("a.txt", self.path("src", "link"))
        self.want = tree(self.src)
        del self.want["link"]

    def build(self, out, *args, env=None):
        e = dict(os.environ, SOURCE_DATE_EPOCH=EPOCH)
        e.update(env or {})
        return run_tool("build", "--from", self.src, "-o", out, "--lang", "en", *args, env=e)

    def built(self, r):
        if r.returncode != 0 and b"too large" in r.stderr:
            self.skipTest("stub too large for a self-extractor (sanitizer build)")
        self.assertEqual(0, r.returncode, r.stderr)

    def test_tree_round_trips_through_the_tool_and_both_stubs(self):
        out = self.path("setup")
        r = self.build(out, "--target-os", "posix", "--unattended", "--target", self.path("posix-out"))
        self.built(r)
        self.assertIn(b"symbolic link '%s'" % self.path("src", "link").encode(), r.stderr)
        self.assertEqual(0, run_tool("extract", out, "-d", self.path("tool-out"), "--quiet").returncode)
        self.assertEqual(0, run([out], stdin=subprocess.DEVNULL).returncode)
        for folder in ("tool-out", "posix-out"):
            self.assertEqual(self.want, tree(self.path(folder)), folder)
            self.assertTrue(os.stat(self.path(folder, "setup.sh")).st_mode & stat.S_IXUSR, folder)
        # Reproducible: another build after the files' times changed is the
        # same, also when written into the folder itself (it leaves itself out).
        os.utime(self.path("src", "a.txt"), (1, 1))
        again = self.path("src", "again")
        self.built(self.build(again, "--target-os", "posix", "--unattended", "--target", self.path("posix-out")))
        self.assertEqual(read(out), read(again))
        os.remove(again)
        if kvtest.WINE and os.path.isfile(kvtest.WINDOWS_STUB):
            exe = self.path("setup.exe")
            self.built(self.build(exe, "--stub", kvtest.WINDOWS_STUB, "--unattended", "--target",
                                  "Z:" + self.path("wine-out").replace("/", "\\")))
            self.assertEqual(0, kvtest.run_wine(exe, timeout=180).returncode)
            self.assertEqual(self.want, tree(self.path("wine-out")))
        tool = os.path.join(kvtest.KV_WIN_BIN, "kvsfx.exe")
        if kvtest.WINE and os.path.isfile(tool):
            # The Windows tool builds from the same folder (through zlib); Wine
            # shows the symbolic link as the file it points to.
            exe = self.path("from-windows.exe")
            r = run([kvtest.WINE, tool, "build", "--from", "Z:" + self.src.replace("/", "\\"), "-o",
                     "Z:" + exe.replace("/", "\\"), "--lang", "en"], timeout=180, env=kvtest.wine_env())
            self.assertEqual(0, r.returncode, r.stderr)
            self.assertEqual(0, run_tool("extract", exe, "-d", self.path("windows-tool-out"), "--quiet").returncode)
            self.assertEqual(dict(self.want, link=TREE["a.txt"]), tree(self.path("windows-tool-out")))

    def test_utf8_texts_are_stored_in_windows_1252(self):
        out = self.path("setup")
        lang = write(self.path("en.ini"), kvtest.builtin_lang("en").replace(b"0=English", "0=Fran\u00e7ais".encode()))
        self.built(self.build(out, "--target-os", "posix", "--message", "Lizenz: m\u00fcssen \u20ac", "--lang", lang))
        data = read(out)
        self.assertIn(b"Lizenz: m\xfcssen \x80", data)
        self.assertIn(b"0=Fran\xe7ais", data)
        self.assertNotIn("m\u00fcssen".encode(), data)

    def test_refusals_leave_no_output(self):
        need(kvtest.ZIP, "Info-ZIP zip is not installed")
        bzip2 = self.path("bzip2.zip")
        subprocess.run([kvtest.ZIP, "-q", "-Z", "bzip2", bzip2, "sub/nums.txt"], cwd=self.src, check=True)
        not_icon = write(self.path("not.ico"), b"\0\0\1\0\1\0" + b"\0" * 40)
        long_name = "d" * 200 + "/" + "n" * 56
        cases = [
            ("bzip2 entry", ["--archive", bzip2], b"sub/nums.txt (bzip2)"),
            ("run program missing", ["--run", "nothere.exe|/S"], b"'nothere.exe' is not in the archive"),
            ("character outside the code page", ["--caption", "ok \u4e2d"], b"character 4 (U+4E2D, byte 3)"),
            ("cleanup outside %Temp%", ["--wait", "--cleanup", "--target", "C:\\x"], b"%Temp%"),
            ("icon that is not one", ["--icon", not_icon], b"icon file"),
            ("file version too long", ["--version-info", "FileVersion=1.2.3.65536"], b"FileVersion"),
            ("version value too long", ["--version-info", "CompanyName=" + "c" * 256], b"at most 255"),
            ("unknown version key", ["--version-info", "Colour=red"], b"unknown version key"),
            ("both --archive and --from", ["--level", "1", "--archive", bzip2], b"give only one of --archive and --from"),
            ("run program with a blank", ["--run", "setup.sh /quiet"], b"write 'setup.sh|/quiet'"),
        ]
        if shutil.which("7zz"):
            ppmd = self.path("ppmd.zip")
            subprocess.run(["7zz", "a", "-tzip", "-mm=PPMd", ppmd, "sub/nums.txt"], cwd=self.src, check=True,
                           stdout=subprocess.DEVNULL)
            cases.append(("PPMd entry", ["--archive", ppmd], b"(PPMd)"))
        before = sorted(os.listdir(self.dir))
        for what, args, needle in cases:
            out = self.path("refused.exe")
            if args[0] == "--archive":
                r = run_tool("build", "-o", out, "--stub", kvtest.POSIX_STUB, *args)
            else:
                r = self.build(out, "--stub", kvtest.WINDOWS_STUB if "--icon" in args else kvtest.POSIX_STUB, *args)
            self.assertNotEqual(0, r.returncode, what)
            self.assertIn(needle, r.stderr, what)
            self.assertEqual(before, sorted(os.listdir(self.dir)), what)
        # Inside the folder: a name over 255 bytes, an unreadable file.
        os.makedirs(self.path("src", "d" * 200))
        write(self.path("src", long_name), b"x")
        r = self.build(self.path("refused"), "--target-os", "posix")
        self.assertIn(b"at most 255", r.stderr)
        shutil.rmtree(self.path("src", "d" * 200))
        # A name that is no UTF-8 is named with its bytes escaped.
        write(os.path.join(self.src.encode(), b"caf\xe9.txt"), b"x")
        r = self.build(self.path("refused"), "--target-os", "posix")
        self.assertIn(b"caf\\xE9.txt' is not valid UTF-8", r.stderr)
        os.remove(os.path.join(self.src.encode(), b"caf\xe9.txt"))
        # Names that are one file on Windows, from a folder and from an archive.
        if os.path.isfile(kvtest.WINDOWS_STUB):
            clash = self.path("clash.zip")
            with zipfile.ZipFile(clash, "w") as z:
                z.writestr("Docs/Read Me.txt", b"1")
                z.writestr("docs/read me.txt. ", b"2")
            for name, args, needle in (("A.TXT", [], b"'A.TXT' and 'a.txt'"), ("SUB", [], b"'SUB' and 'sub/'"),
                                       (None, ["--archive", clash], b"'Docs/Read Me.txt' and 'docs/read me.txt")):
                if name:
                    write(self.path("src", name), b"x")
                    r = self.build(self.path("refused.exe"), "--stub", kvtest.WINDOWS_STUB)
                    os.remove(self.path("src", name))
                else:
                    r = run_tool("build", "-o", self.path("refused.exe"), "--stub", kvtest.WINDOWS_STUB, *args)
                self.assertEqual(1, r.returncode, r.stderr)
                self.assertIn(needle, r.stderr)
                self.assertIn(b"one file on Windows", r.stderr)
            os.remove(clash)
            # The POSIX stub keeps both.
            write(self.path("src", "A.TXT"), b"x")
            self.built(self.build(self.path("posix-ok"), "--target-os", "posix"))
            os.remove(self.path("src", "A.TXT"))
            os.remove(self.path("posix-ok"))
        if os.geteuid() != 0:
            os.chmod(self.path("src", "a.txt"), 0)
            r = self.build(self.path("refused"), "--target-os", "posix")
            self.assertIn(b"cannot read '%s'" % self.path("src", "a.txt").encode(), r.stderr)
        self.assertEqual(before, sorted(os.listdir(self.dir)))

    def test_large_files_stream_and_a_file_changed_while_read_is_refused(self):
        # Above 32 MiB a file is compressed in pieces; one that does not shrink
        # is stored from a second reading.
        text = b"".join(b"line %d of a large text\n" % i for i in range(2_000_000))  # ~48 MiB
        write(self.path("src", "large.txt"), text)
        write(self.path("src", "noise.bin"), os.urandom(34 << 20))
        out = self.path("large")
        for method, packed in (("deflate", zipfile.ZIP_DEFLATED), ("lzma", zipfile.ZIP_LZMA)):
            self.built(self.build(out, "--target-os", "posix", "--level", "1", "--method", method))
            with zipfile.ZipFile(out) as z:
                self.assertEqual((packed, zipfile.ZIP_STORED),
                                 (z.getinfo("large.txt").compress_type, z.getinfo("noise.bin").compress_type))
            self.assertEqual(0, run_tool("extract", out, "-d", self.path("large-" + method), "--quiet").returncode)
            self.assertEqual(text, read(self.path("large-" + method, "large.txt")))
            self.assertEqual(read(self.path("src", "noise.bin")), read(self.path("large-" + method, "noise.bin")))
        os.remove(self.path("src", "noise.bin"))
        # Cut short while it is being read: refused, naming it, no output.
        refused = 0
        for delay in (0.2, 0.4, 0.1, 0.6, 0.05):
            write(self.path("src", "large.txt"), text)
            p = subprocess.Popen([kvtest.TOOL, "build", "--from", self.src, "-o", out + "2", "--target-os", "posix",
                                  "--level", "9"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            time.sleep(delay)
            os.truncate(self.path("src", "large.txt"), 1000)
            _, err = p.communicate(timeout=120)
            if p.returncode != 0:
                self.assertEqual(1, p.returncode, err)
                self.assertIn(b"'%s': it changed" % self.path("src", "large.txt").encode(), err)
                self.assertFalse(os.path.exists(out + "2"))
                refused += 1
            elif os.path.exists(out + "2"):
                os.remove(out + "2")
        self.assertGreater(refused, 0)

    def test_files_swapped_while_building_are_refused(self):
        # Another user swaps a file of the folder for a link to a secret, or a
        # pipe, between the walk and the read: the build refuses it or packs
        # the plain file, never the secret, and never hangs.
        secret = write(self.path("secret"), b"SECRET-" * 1000)
        os.chmod(secret, 0o600)
        target = self.path("src", "a.txt")
        plain, link, pipe = target + ".plain", target + ".link", target + ".pipe"
        stop = threading.Event()

        def swap():
            while not stop.is_set():
                for other in (link, pipe, plain):
                    if not os.path.lexists(other):
                        if other == link:
                            os.symlink(secret, link)
                        elif other == pipe:
                            os.mkfifo(pipe)
                        else:
                            write(plain, b"plain\n" * 1000)
                    os.rename(other, target)
        swapper = threading.Thread(target=swap)
        swapper.start()
        try:
            for n in range(60):
                out = self.path("swap%d" % n)
                r = run_tool("build", "--from", self.src, "-o", out, "--target-os", "posix", "--level", "0",
                             "--exclude", "a.txt.*", timeout=30)
                if r.returncode == 0:
                    self.assertFalse(b"SECRET-" in read(out), "the secret was packed")
                    os.remove(out)
                else:
                    self.assertEqual(1, r.returncode, r.stderr)
                    self.assertFalse(os.path.exists(out))
        finally:
            stop.set()
            swapper.join()

    def test_wait_returns_the_program_exit_code_and_cleanup_empties_temp(self):
        temp = self.path("tmp")
        os.makedirs(temp)
        cases = [  # options, exit code, what stays in the temporary folder
            (["--run", "setup.sh|one two"], 0, ["inst"]),
            (["--run", "setup.sh|one two", "--wait"], 7, ["inst"]),
            (["--run", "setup.sh|one two", "--wait", "--cleanup"], 7, []),
            (["--run", "gone.sh", "--no-check-run", "--wait", "--cleanup"], 8, ["inst"]),
        ]
        for options, code, left in cases:
            with self.subTest(options):
                shutil.rmtree(temp)
                os.makedirs(temp)
                out = self.path("setup")
                self.built(self.build(out, "--target-os", "posix", "--unattended", "--target", "%Temp%\\inst",
                                      *options))
                r = run([out], stdin=subprocess.DEVNULL, env=dict(os.environ, TMPDIR=temp))
                self.assertEqual(code, r.returncode, r.stderr)
                self.assertEqual(left, os.listdir(temp))
                if "--cleanup" not in options:
                    # Without the flag a block behaves as before: nothing is removed.
                    self.assertEqual(self.want, tree(os.path.join(temp, "inst")))
        info = run_tool("info", out)
        self.assertIn(b"wait for program   yes", info.stdout)
        self.assertIn(b"clean up           yes", info.stdout)

    def test_switches_and_test_before_writing(self):
        write(self.path("src", "args.sh"), b'#!/bin/sh\nfor a in "$@"; do echo "[$a]"; done > "$(dirname "$0")/args.txt"\n',
              executable=True)
        default, there = self.path("default"), self.path("there")
        cases = [  # build options, command line, exit code, folder extracted to (or None), run's arguments
            (["--switches"], ["/s", "/d:" + there, "--", "two words", "x"], 0, there, b"[one]\n[two words]\n[x]\n"),
            (["--switches"], ["/S", "/X", "/D:" + there], 0, there, None),
            (["--switches"], ["/d:%Temp%/sw-i21", "/s"], 0, os.path.join(self.path("tmp"), "sw-i21"), b"[one]\n"),
            (["--switches"], ["/?"], 0, None, None),
            (["--switches"], ["/s", "/q"], 10, None, None),
            (["--switches"], ["/d:", "/s"], 10, None, None),
            # Without --switches the command line changes nothing.
            ([], ["/d:" + there, "/x", "/q"], 0, default, b"[one]\n"),
        ]
        os.makedirs(self.path("tmp"))
        for options, argv, code, folder, ran in cases:
            with self.subTest(options=options, argv=argv):
                for d in (default, there, self.path("tmp", "sw-i21")):
                    shutil.rmtree(d, True)
                out = self.path("setup")
                self.built(self.build(out, "--target-os", "posix", "--unattended", "--target", default, "--run",
                                      "args.sh|one", "--wait", *options))
                r = run([out] + argv, stdin=subprocess.DEVNULL, env=dict(os.environ, TMPDIR=self.path("tmp")))
                self.assertEqual(code, r.returncode, r.stderr)
                for d in (default, there, os.path.join(self.path("tmp"), "sw-i21")):
                    self.assertEqual(d == folder, os.path.exists(d), d)
                if folder:
                    self.assertEqual(ran, read(os.path.join(folder, "args.txt")) if ran else None)
                    # One line per file, none for the folders (empty/, sub/).
                    self.assertIn(b"nums.txt\n", r.stderr)
                    self.assertNotIn(b"\n\n", b"\n" + r.stderr)
                if "/?" in argv:
                    self.assertIn(b"/d:DIR", r.stdout)
                if code == 10:
                    self.assertEqual(b"", r.stderr)  # /s: no message
        self.assertIn(b"switches           no", run_tool("info", self.path("setup")).stdout)
        # Test before writing: a damaged payload leaves the target as it was.
        for options, written in (([], True), (["--verify-first"], False)):
            shutil.rmtree(default, True)
            os.makedirs(default)
            write(os.path.join(default, "keep.txt"), b"mine")
            out = self.path("damaged")
            self.built(self.build(out, "--target-os", "posix", "--unattended", "--target", default, "--level", "0",
                                  *options))
            data = bytearray(read(out))
            at = data.rindex(b"19999\n")  # the last entry's data: sub/nums.txt
            data[at] ^= 1
            write(out, bytes(data), executable=True)
            r = run([out], stdin=subprocess.DEVNULL)
            self.assertEqual(4, r.returncode, r.stderr)
            self.assertEqual(written, sorted(os.listdir(default)) != ["keep.txt"], options)
        self.assertIn(b"test first         yes", run_tool("info", out).stdout)

    def test_wait_under_wine(self):
        need(kvtest.WINE, "wine is not installed")
        need(os.path.isfile(kvtest.WINDOWS_STUB), "kvsfx-stub.exe not in KV_WIN_BIN")
        write(self.path("src", "inst.bat"), b"@echo off\r\nif not \"%1\"==\"yes\" exit 3\r\nexit 7\r\n")
        for temp in kvtest.wine_temp_dir():
            shutil.rmtree(os.path.join(temp, "kvwait-i13"), True)
        exe = self.path("setup.exe")
        self.built(self.build(exe, "--stub", kvtest.WINDOWS_STUB, "--unattended", "--target", "%Temp%\\kvwait-i13",
                              "--run", "inst.bat|yes", "--wait", "--cleanup"))
        r = kvtest.run_wine(exe, timeout=180)
        self.assertEqual(7, r.returncode, r.stderr)
        for temp in kvtest.wine_temp_dir():
            self.assertFalse(os.path.exists(os.path.join(temp, "kvwait-i13")), temp)
        # The Windows stub reads the same switches from its command line: the
        # parameters after -- reach the batch file, a wrong switch ends with 10.
        there = self.path("wine there")
        self.built(self.build(exe, "--stub", kvtest.WINDOWS_STUB, "--target", "%Temp%\\kvwait-i13", "--run",
                              "inst.bat", "--wait", "--switches"))
        cases = [(["/s", "/d:Z:" + there.replace("/", "\\"), "--", "yes"], 7, True), (["/s", "/q"], 10, False)]
        for argv, code, extracted in cases:
            shutil.rmtree(there, True)
            r = run([kvtest.WINE, exe] + argv, timeout=180, env=kvtest.wine_env())
            self.assertEqual(code, r.returncode, argv)
            self.assertEqual(extracted, os.path.exists(os.path.join(there, "inst.bat")), argv)


class WindowsResources(TempDirTest):
    def setUp(self):
        super().setUp()
        need(os.path.exists(kvtest.TOOL), "kvsfx not built")
        need(os.path.isfile(kvtest.WINDOWS_STUB), "kvsfx-stub.exe not in KV_WIN_BIN")
        self.archive = kvtest.make_zip(self.dir, {"a.txt": b"alpha", "sub/b.txt": b"beta" * 100})

    def icon(self):
        size = 16
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        image = header + b"\x00\x80\xff\xff" * size * size + b"\0" * 4 * size
        return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 22) + image

    def test_stub_with_impossible_alignment_is_refused(self):
        # A header asking for 1 GiB file alignment: refused, not padded for ever.
        stub = bytearray(read(kvtest.WINDOWS_STUB))
        pe = struct.unpack_from("<I", stub, 0x3C)[0]
        struct.pack_into("<I", stub, pe + 24 + 36, 0x40000000)
        out = self.path("refused.exe")
        r = run_tool("build", "--archive", self.archive, "-o", out, "--stub", write(self.path("odd.exe"), bytes(stub)),
                     "--icon", write(self.path("ok.ico"), self.icon()), timeout=60)
        self.assertEqual(1, r.returncode, r.stderr)
        self.assertIn(b"is no Windows program", r.stderr)
        self.assertFalse(os.path.exists(out))

    def test_icon_version_manifest_read_back_and_run(self):
        need(shutil.which("wrestool"), "wrestool (icoutils) is not installed")
        ico = write(self.path("app.ico"), self.icon())
        exe = self.path("setup.exe")
        r = run_tool("build", "--archive", self.archive, "-o", exe, "--stub", kvtest.WINDOWS_STUB, "--unattended",
                     "--target", "Z:" + self.path("out").replace("/", "\\"), "--icon", ico,
                     "--version-info", "FileVersion=2.3.4.5", "--version-info", "CompanyName=Gr\u00fc\u00df AG",
                     "--manifest-level", "requireAdministrator")
        self.assertEqual(0, r.returncode, r.stderr)
        data = read(exe)
        checksum, field = pe_checksum(data)
        self.assertEqual(checksum, struct.unpack_from("<I", data, field)[0])
        listing = run(["wrestool", "-l", exe]).stdout
        group = [l for l in listing.splitlines() if b"type=group_icon" in l][0]
        name = group.split(b"--name=")[1].split()[0]
        got = run(["wrestool", "-x", "--type=14", "--name=" + name.decode(), exe]).stdout
        self.assertEqual(self.icon()[:6], got[:6])
        self.assertIn(self.icon()[22:], got)
        version = run(["wrestool", "-x", "--raw", "--type=16", exe]).stdout
        self.assertIn("Gr\u00fc\u00df AG".encode("utf-16-le"), version)
        self.assertIn(struct.pack("<IIII", 0xFEEF04BD, 0x10000, 0x20003, 0x40005), version)
        manifest = run(["wrestool", "-x", "--raw", "--type=24", exe]).stdout
        self.assertIn(b'level="requireAdministrator"', manifest)
        if kvtest.WINE:
            self.assertEqual(0, kvtest.run_wine(exe, timeout=180).returncode)
            self.assertEqual(b"beta" * 100, read(self.path("out", "sub", "b.txt")))

    def test_plain_build_writes_the_checksum_of_the_whole_file(self):
        exe = self.path("plain.exe")
        self.assertEqual(0, run_tool("build", "--archive", self.archive, "-o", exe, "--stub",
                                     kvtest.WINDOWS_STUB).returncode)
        data = read(exe)
        checksum, field = pe_checksum(data)
        self.assertEqual(checksum, struct.unpack_from("<I", data, field)[0])

    def test_signed_self_extractor_extracts_and_verifies(self):
        need(shutil.which("osslsigncode") and shutil.which("openssl"), "osslsigncode or openssl is not installed")
        # A chain of ten 4096-bit certificates (one key serves them all), signed
        # twice: a certificate table far over 16 KB, as EV certificates with
        # intermediates and dual signatures give.
        key, cert, chain = self.path("key.pem"), self.path("cert.pem"), self.path("chain.pem")
        run(["openssl", "req", "-x509", "-newkey", "rsa:4096", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
             "-subj", "/CN=kvsfx test 0", "-addext", "basicConstraints=critical,CA:TRUE"], check=True)
        issuer, pems = cert, []
        for i in range(1, 10):
            csr, pem = self.path("c%d.csr" % i), self.path("c%d.pem" % i)
            run(["openssl", "req", "-new", "-key", key, "-out", csr, "-subj", "/CN=kvsfx test %d" % i], check=True)
            ca = b"TRUE" if i < 9 else b"FALSE"
            ext = write(self.path("c%d.ext" % i), b"basicConstraints=critical,CA:%s\n" % ca)
            run(["openssl", "x509", "-req", "-in", csr, "-CA", issuer, "-CAkey", key, "-CAcreateserial", "-out", pem,
                 "-days", "2", "-extfile", ext], check=True)
            issuer = pem
            pems.insert(0, read(pem))
        write(chain, b"".join(pems) + read(cert))
        exe, signed = self.path("setup.exe"), self.path("signed.exe")
        r = run_tool("build", "--archive", self.archive, "-o", exe, "--stub", kvtest.WINDOWS_STUB, "--unattended",
                     "--target", "Z:" + self.path("out").replace("/", "\\"))
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertIn(b"signature          none", run_tool("info", exe).stdout)
        # Dual signatures (SHA-1, then SHA-256 nested), as release pipelines sign.
        run(["osslsigncode", "sign", "-h", "sha1", "-certs", chain, "-key", key, "-in", exe, "-out", signed + ".1"],
            check=True)
        run(["osslsigncode", "sign", "-nest", "-h", "sha256", "-certs", chain, "-key", key, "-in", signed + ".1",
             "-out", signed], check=True)
        self.assertEqual(0, run(["osslsigncode", "verify", "-CAfile", cert, signed]).returncode)
        self.assertGreater(os.path.getsize(signed) - os.path.getsize(exe), 16384)
        self.assertEqual(0, run_tool("test", signed).returncode)
        self.assertIn(b"signature          Authenticode", run_tool("info", signed).stdout)
        self.assertEqual(0, run_tool("extract", signed, "-d", self.path("tool-out"), "--quiet").returncode)
        self.assertEqual(b"alpha", read(self.path("tool-out", "a.txt")))
        if kvtest.WINE:
            self.assertEqual(0, kvtest.run_wine(signed, timeout=180).returncode)
            self.assertEqual(b"alpha", read(self.path("out", "a.txt")))


class SplitSetBuild(TempDirTest):
    def test_volumes_written_beside_the_output(self):
        need(kvtest.ZIP and os.path.exists(kvtest.POSIX_STUB), "zip or the POSIX stub is missing")
        src = self.path("src")
        files = {"f%02d.bin" % i: os.urandom(20000) for i in range(10)}
        os.makedirs(src)
        for name, data in files.items():
            write(os.path.join(src, name), data)
        os.makedirs(self.path("set"))
        subprocess.run([kvtest.ZIP, "-q", "-r", "-X", "-s", "64k", self.path("set", "set.zip"), "."], cwd=src,
                       check=True)
        os.makedirs(self.path("dist"))
        out = self.path("dist", "setup")
        args = ["build", "--archive", self.path("set", "set.zip"), "-o", out, "--target-os", "posix", "--lang",
                "en", "--unattended", "--target", self.path("out")]
        r = run_tool(*args)
        if r.returncode != 0 and b"too large" in r.stderr:
            self.skipTest("stub too large for a self-extractor (sanitizer build)")
        self.assertEqual(0, r.returncode, r.stderr)
        volumes = sorted(n for n in os.listdir(self.path("set")) if n != "set.zip")
        self.assertEqual(["setup"] + [v.replace("set.", "setup.") for v in volumes], sorted(os.listdir(self.path("dist"))))
        self.assertEqual(0, run([out], stdin=subprocess.DEVNULL).returncode)
        self.assertEqual(files, tree(self.path("out")))
        # An existing volume is replaced only with --force.
        os.remove(out)
        r = run_tool(*args)
        self.assertEqual(1, r.returncode)
        self.assertIn(b"--force", r.stderr)
        self.assertFalse(os.path.exists(out))
        self.assertEqual(0, run_tool(*args, "--force").returncode)


if __name__ == "__main__":
    unittest.main()
