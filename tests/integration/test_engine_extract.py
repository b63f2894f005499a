"""The archive engine end to end: self-extractors (POSIX stub natively, Windows
stub under Wine) and kvsfx extract/test/list on archives made by Info-ZIP,
Python's zipfile and a small hand builder for the cases no tool writes."""
import os
import random
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("KV_SOURCE_DIR", os.path.dirname(os.path.dirname(HERE)))
BIN = os.environ.get("KV_BIN", os.path.join(SOURCE, "build", "bin"))
KVSFX = os.path.join(BIN, "kvsfx")
STUB_EXE = os.path.join(BIN, "kvsfx-stub.exe")
DOS_TIME = (2024, 1, 2, 3, 4, 6)


def dos_date_time(t):
    y, mo, d, h, mi, s = t
    return ((y - 1980) << 9) | (mo << 5) | d, (h << 11) | (mi << 5) | (s // 2)


def build_zip(entries, prefix=b"", comment=b"", zip64=False, count_delta=0):
    """entries: dicts with name (bytes), data (bytes: as stored in the archive),
    and optionally method, flags, crc, csize, usize, extra, host. Offsets count from the archive's first
    byte, as when an archive is simply appended behind other data."""
    out = bytearray()
    central = bytearray()
    ddate, dtime = dos_date_time(DOS_TIME)
    for e in entries:
        name, data = e["name"], e.get("data", b"")
        flags = e.get("flags", 0)
        crc = e.get("crc", zlib.crc32(data))
        csize = e.get("csize", len(data))
        usize = e.get("usize", len(data))
        offset = len(out)
        method = e.get("method", 0)
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, dtime, ddate, crc, len(data), len(data),
                           len(name), 0) + name + data
        extra = e.get("extra", b"")
        c_csize, c_usize, c_offset = csize, usize, offset
        if zip64:
            extra = struct.pack("<HHQQQ", 1, 24, usize, csize, offset) + extra
            c_csize = c_usize = c_offset = 0xFFFFFFFF
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, (e.get("host", 0) << 8) | 20, 20, flags, method, dtime,
                               ddate, crc, c_csize, c_usize, len(name), len(extra), 0, 0, 0,
                               e.get("attributes", 0), c_offset) + name + extra
    cd_start = len(out)
    out += central
    count = len(entries) + count_delta
    if zip64:
        record_pos = len(out)
        out += struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, len(central), cd_start)
        out += struct.pack("<IIQI", 0x07064B50, 0, record_pos, 1)
        out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, len(comment))
    else:
        # Without ZIP64 records the count is stored modulo 65,536, as older writers do.
        out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count & 0xFFFF, count & 0xFFFF, len(central), cd_start,
                           len(comment))
    return bytes(prefix) + bytes(out) + comment


def stored(name, data, **kw):
    d = {"name": name if isinstance(name, bytes) else name.encode(), "data": data}
    d.update(kw)
    return d


def expected_mtime(date_time):
    return time.mktime(tuple(date_time) + (0, 0, -1))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def run(args, **kw):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=kw.pop("timeout", 120), **kw)


def kvsfx(*args, **kw):
    return run([KVSFX] + [str(a) for a in args], **kw)


def wine_available():
    return os.path.exists(STUB_EXE) and shutil.which("wine") is not None


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


class EngineCase(unittest.TestCase):
    def setUp(self):
        if not os.path.exists(KVSFX):
            self.skipTest("kvsfx not built")
        self.dir = tempfile.mkdtemp(prefix="kvengine.")

    def tearDown(self):
        for root, dirs, files in os.walk(self.dir):
            for n in dirs + files:
                try:
                    os.chmod(os.path.join(root, n), 0o700)
                except OSError:
                    pass
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def write(self, name, data):
        p = self.path(name)
        with open(p, "wb") as f:
            f.write(data)
        return p

    def build_sfx(self, archive, out, target, target_os="posix"):
        r = kvsfx("build", "--archive", archive, "-o", out, "--target-os", target_os, "--unattended", "--target",
                  target, "--lang", "en")
        if r.returncode != 0 and b"too large" in r.stderr:
            self.skipTest("stub too large for a self-extractor (sanitizer build)")
        self.assertEqual(0, r.returncode, r.stderr.decode())
        return out

    def run_sfx(self, sfx, wine=False):
        if wine:
            env = dict(os.environ, WINEDEBUG="-all")
            return run(["wine", sfx], env=env, timeout=300)
        return run([sfx])

    def extract_with_both_stubs(self, archive, name, timeout=300):
        """Builds and runs a self-extractor around each stub there is (the
        Windows one under Wine); yields (stub kind, target folder) after each
        successful run."""
        for target_os in ("posix", "windows"):
            if target_os == "windows" and not wine_available():
                continue
            target = self.path("out-%s-%s" % (name, target_os))
            wine = target_os == "windows"
            sfx = self.build_sfx(archive, self.path("%s-%s.sfx" % (name, target_os)),
                                 wine_path(target) if wine else target, target_os)
            env = dict(os.environ, WINEDEBUG="-all")
            r = run(["wine", sfx] if wine else [sfx], env=env, timeout=timeout)
            self.assertEqual(0, r.returncode, r.stderr.decode(errors="replace"))
            yield target_os, target

    def assert_error(self, result, code, exit_code, text=None):
        err = result.stderr.decode(errors="replace")
        self.assertEqual(exit_code, result.returncode, err)
        self.assertEqual(1, err.count("\n"), err)
        if code:
            self.assertIn("error %d: " % code, err)
        if text:
            self.assertIn("error %d: %s" % (code, text) if code else text, err)

    def assert_tree(self, out, archive, check_times=True):
        """out holds exactly the archive's entries, byte for byte, with their DOS times."""
        with zipfile.ZipFile(archive) as z:
            infos = z.infolist()
            wanted = set()
            for info in infos:
                rel = info.filename.rstrip("/")
                wanted.add(rel)
                p = os.path.join(out, rel)
                if info.is_dir():
                    self.assertTrue(os.path.isdir(p), rel)
                    continue
                self.assertTrue(os.path.isfile(p), rel)
                with open(p, "rb") as f:
                    self.assertEqual(z.read(info), f.read(), rel)
                if check_times:
                    self.assertEqual(expected_mtime(info.date_time), os.stat(p).st_mtime, rel)
                parent = os.path.dirname(rel)
                while parent:
                    wanted.add(parent)
                    parent = os.path.dirname(parent)
        found = set()
        for root, dirs, files in os.walk(out):
            for n in dirs + files:
                found.add(os.path.relpath(os.path.join(root, n), out))
        self.assertEqual(wanted, found)


class TreeTest(EngineCase):
    """A real tree through every front-end: native stub, Windows stub, tool."""

    def make_tree(self):
        src = self.path("src")
        os.makedirs(os.path.join(src, "dir1", "nested", "deep"))
        os.makedirs(os.path.join(src, "emptydir"))
        rnd = random.Random(7)
        files = {
            "top.txt": b"top level\n",
            "dir1/nested/deep/file.bin": bytes(rnd.getrandbits(8) for _ in range(70000)),
            "dir1/empty.txt": b"",
            "dir1/16384.bin": bytes(rnd.getrandbits(8) for _ in range(16384)),
            "dir1/16385.bin": bytes(rnd.getrandbits(8) for _ in range(16385)),
            "readonly.txt": b"read only\n",
        }
        for rel, data in files.items():
            with open(os.path.join(src, rel), "wb") as f:
                f.write(data)
        os.chmod(os.path.join(src, "readonly.txt"), 0o444)
        archive = self.path("tree.zip")
        r = run(["zip", "-q", "-0", "-r", archive, "."], cwd=src)
        self.assertEqual(0, r.returncode, r.stderr)
        with zipfile.ZipFile(archive, "a") as z:
            info = zipfile.ZipInfo("Grüße/Ünïcödé.txt", DOS_TIME)
            z.writestr(info, "non-ASCII name\n".encode())
        with zipfile.ZipFile(archive) as z:
            self.assertTrue(z.getinfo("Grüße/Ünïcödé.txt").flag_bits & 0x800, "names in UTF-8")
        return archive

    def test_posix_stub_and_tool(self):
        archive = self.make_tree()
        target = self.path("out-stub")
        sfx = self.build_sfx(archive, self.path("setup.sfx"), target)
        r = self.run_sfx(sfx)
        self.assertEqual(0, r.returncode, r.stderr.decode())
        self.assert_tree(target, archive)

        for source in (archive, sfx):
            out = self.path("out-tool-" + os.path.basename(source))
            r = kvsfx("extract", source, "-d", out, "--quiet")
            self.assertEqual(0, r.returncode, r.stderr.decode())
            self.assert_tree(out, archive)
        r = kvsfx("test", sfx)
        self.assertEqual(0, r.returncode, r.stderr.decode())
        r = kvsfx("list", sfx)
        self.assertEqual(0, r.returncode)
        self.assertIn("Grüße/Ünïcödé.txt", r.stdout.decode())

    def test_windows_stub_under_wine(self):
        if not wine_available():
            self.skipTest("Windows stub or Wine missing")
        archive = self.make_tree()
        target = self.path("out-wine")
        sfx = self.build_sfx(archive, self.path("setup.exe"), wine_path(target), "windows")
        r = self.run_sfx(sfx, wine=True)
        self.assertEqual(0, r.returncode, r.stderr.decode(errors="replace"))
        self.assert_tree(target, archive)


class UnixNamesTest(EngineCase):
    """zip on a Unix host stores a name's UTF-8 bytes without flag bit 11."""

    def test_unix_host_names_are_utf8_on_both_stubs(self):
        if not shutil.which("zip"):
            self.skipTest("Info-ZIP zip is not installed")
        src = self.path("src")
        os.makedirs(os.path.join(src, "Grüße"))
        with open(os.path.join(src, "Grüße", "über.txt"), "wb") as f:
            f.write(b"unix name\n")
        archive = self.path("unix.zip")
        self.assertEqual(0, run(["zip", "-q", "-r", archive, "."], cwd=src).returncode)
        with zipfile.ZipFile(archive) as z:
            info = z.infolist()[-1]
            self.assertEqual((3, 0), (info.create_system, info.flag_bits & 0x800))
        for target_os, target in self.extract_with_both_stubs(archive, "unix"):
            self.assertEqual(b"unix name\n", read(os.path.join(target, "Grüße", "über.txt")), target_os)
        # The host decides, and only well-formed UTF-8 is taken as such.
        rows = [(3, "é3.txt".encode(), "é3.txt"), (0, "é0.txt".encode(), "├⌐0.txt"), (3, b"\x81x.txt", "üx.txt"),
                (3, b"\xc0\xafy.txt", "└»y.txt")]
        archive = self.write("hosts.zip", build_zip([stored(raw, b"x", host=host) for host, raw, _ in rows]))
        out = self.path("out-hosts")
        r = kvsfx("extract", archive, "-d", out, "--quiet")
        self.assertEqual(0, r.returncode, r.stderr.decode())
        self.assertEqual(sorted(name for _, _, name in rows), sorted(os.listdir(out)))


class OutcomeTest(EngineCase):
    """Exit codes, messages and what stays on disk when a run fails."""

    def test_flipped_byte_deletes_only_the_failing_entry(self):
        data = build_zip([stored("a.txt", b"first entry"), stored("b.txt", b"X" * 5000),
                          stored("c.txt", b"third entry")])
        at = data.index(b"X" * 5000) + 1234
        data = data[:at] + b"Y" + data[at + 1:]
        archive = self.write("flip.zip", data)
        out = self.path("out")
        r = kvsfx("extract", archive, "-d", out)
        self.assert_error(r, 28063, 4, "CRC error in 'b.txt' in '%s'" % archive)
        self.assertEqual(["a.txt"], sorted(os.listdir(out)))

        target = self.path("out-sfx")
        sfx = self.build_sfx(archive, self.path("flip.sfx"), target)
        self.assertEqual(4, self.run_sfx(sfx).returncode)
        self.assertEqual(["a.txt"], sorted(os.listdir(target)))
        self.assert_error(kvsfx("test", archive), 28063, 4)

    def test_not_an_archive(self):
        rnd = random.Random(1)
        for size in (0, 21, 5000, 70000):
            p = self.write("junk%d" % size, bytes(rnd.getrandbits(8) & 0x7F for _ in range(size)))
            self.assert_error(kvsfx("list", p), 28082, 3, "'%s' is not a ZIP archive" % p)
            self.assert_error(kvsfx("extract", p, "-d", self.path("o")), 28082, 3)
        self.assert_error(kvsfx("extract", self.path("missing.zip"), "-d", self.path("o")), None, 5,
                          "cannot open '%s': No such file or directory" % self.path("missing.zip"))
        self.assertFalse(os.path.exists(self.path("o")))

    def test_output_is_the_archive(self):
        archive = self.write("self.zip", build_zip([stored("first.txt", b"1"), stored("SELF.ZIP", b"overwrite me")]))
        before = read(archive)
        r = kvsfx("extract", archive, "-d", self.dir, "--overwrite")
        self.assert_error(r, 28058, 8, "an entry of '%s' would overwrite the archive itself" % archive)
        self.assertEqual(before, read(archive))

        inner = self.write("inner.zip", build_zip([stored("setup.sfx", b"overwrite me")]))
        sfx = self.build_sfx(inner, self.path("setup.sfx"), self.dir)
        before = read(sfx)
        self.assertEqual(8, self.run_sfx(sfx).returncode)
        self.assertEqual(before, read(sfx))

    def test_existing_files_skip_overwrite(self):
        archive = self.write("a.zip", build_zip([stored("f.txt", b"new"), stored("g.txt", b"new g")]))
        out = self.path("out")
        os.makedirs(out)
        with open(os.path.join(out, "f.txt"), "wb") as f:
            f.write(b"old")
        os.chmod(os.path.join(out, "f.txt"), 0o444)
        r = kvsfx("extract", archive, "-d", out, "--skip-existing")
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertEqual(b"old", read(os.path.join(out, "f.txt")))
        self.assertEqual(b"new g", read(os.path.join(out, "g.txt")))
        r = kvsfx("extract", archive, "-d", out, "--overwrite")
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertEqual(b"new", read(os.path.join(out, "f.txt")))


class UnattendedRunAfterTest(EngineCase):
    """The unattended variant: the program starts in the target folder and
    receives its full path; it starts only after a successful job."""

    def sfx_with_run(self, entries, run_command):
        archive = self.write("a.zip", build_zip(entries))
        target = self.path("target")
        r = kvsfx("build", "--archive", archive, "-o", self.path("setup.sfx"), "--target-os", "posix",
                  "--unattended", "--target", target, "--run", run_command, "--no-check-run", "--lang", "en")
        if r.returncode != 0 and b"too large" in r.stderr:
            self.skipTest("stub too large for a self-extractor (sanitizer build)")
        self.assertEqual(0, r.returncode, r.stderr.decode())
        return self.path("setup.sfx"), target

    def place_recorder(self, target):
        # Extracted files carry no execute permission: the program is one
        # that is already in place beside what the archive brings.
        os.makedirs(os.path.join(target, "tools"))
        script = os.path.join(target, "tools", "rec.sh")
        with open(script, "w") as f:
            f.write("#!/bin/sh\n{ pwd; echo \"$0\"; echo \"$@\"; } > \"$(dirname \"$0\")/record.txt\"\n")
        os.chmod(script, 0o755)
        return os.path.join(target, "tools", "record.txt")

    def wait_for(self, path):
        deadline = time.time() + 10
        while not os.path.exists(path) and time.time() < deadline:
            time.sleep(0.05)
        time.sleep(0.2)

    def test_started_in_the_target_folder_with_its_full_path(self):
        sfx, target = self.sfx_with_run([stored("tools/readme.txt", b"r")], "tools\\rec.sh|one two")
        record = self.place_recorder(target)
        r = self.run_sfx(sfx)
        self.assertEqual(0, r.returncode, r.stderr.decode())
        self.wait_for(record)
        lines = read(record).decode().splitlines()
        self.assertEqual(os.path.realpath(target), lines[0])
        self.assertEqual(os.path.join(target, "tools", "rec.sh"), lines[1])
        self.assertEqual("one two", lines[2])

    def test_not_started_after_a_failed_job_or_when_missing(self):
        sfx, target = self.sfx_with_run([stored("bad.txt", b"x", crc=1)], "tools\\rec.sh")
        record = self.place_recorder(target)
        self.assertEqual(4, self.run_sfx(sfx).returncode)
        time.sleep(0.3)
        self.assertFalse(os.path.exists(record))
        sfx, target = self.sfx_with_run([stored("a.txt", b"a")], "missing.sh")
        r = self.run_sfx(sfx)
        self.assertEqual(8, r.returncode)
        self.assertNotIn(b"could not be run", r.stderr, "no message on the unattended path")
        self.assertEqual(b"a", read(os.path.join(target, "a.txt")))


class FormatTest(EngineCase):
    """Where the end record and the directory are, and what they say."""

    ENTRIES = [stored("one.txt", b"first"), stored("dir/", b""), stored("dir/two.bin", bytes(range(256)) * 70)]

    def check_extracts(self, data, name="x.zip", entries=None):
        archive = self.write(name, data)
        out = self.path("out-" + name)
        r = kvsfx("extract", archive, "-d", out, "--quiet")
        self.assertEqual(0, r.returncode, r.stderr.decode())
        for e in entries if entries is not None else self.ENTRIES:
            p = os.path.join(out, e["name"].decode())
            if e["name"].endswith(b"/"):
                self.assertTrue(os.path.isdir(p))
            else:
                self.assertEqual(e["data"], read(p), p)
                self.assertEqual(expected_mtime(DOS_TIME), os.stat(p).st_mtime)
        return archive

    def test_archive_behind_other_data(self):
        prefix = bytes(random.Random(3).getrandbits(8) for _ in range(100000))
        self.check_extracts(build_zip(self.ENTRIES, prefix=prefix), "behind.zip")
        self.check_extracts(build_zip(self.ENTRIES, prefix=prefix, zip64=True), "behind64.zip")

    def test_zip64(self):
        self.check_extracts(build_zip(self.ENTRIES, zip64=True), "z64.zip")
        p = self.path("py64.zip")
        with zipfile.ZipFile(p, "w") as z:
            for e in self.ENTRIES:
                if e["name"].endswith(b"/"):
                    z.writestr(zipfile.ZipInfo(e["name"].decode(), DOS_TIME), b"")
                    continue
                with z.open(zipfile.ZipInfo(e["name"].decode(), DOS_TIME), "w", force_zip64=True) as f:
                    f.write(e["data"])
        self.check_extracts(read(p), "py64b.zip")
        # Appended to the stub as a self-extractor: the ZIP64 records and
        # offsets all count from the archive's start, not the file's.
        for archive in (self.write("sfx64.zip", build_zip(self.ENTRIES, zip64=True)), p):
            target = self.path("out-sfx-" + os.path.basename(archive))
            sfx = self.build_sfx(archive, archive + ".sfx", target)
            r = self.run_sfx(sfx)
            self.assertEqual(0, r.returncode, r.stderr.decode())
            self.assertEqual(self.ENTRIES[2]["data"], read(os.path.join(target, "dir", "two.bin")))

    def test_zip64_records_with_an_end_record_in_range(self):
        # zip reading standard input adds the ZIP64 records but leaves the end
        # record's fields in range; behind a stub the directory still ends
        # where those records begin.
        if not shutil.which("zip"):
            self.skipTest("Info-ZIP zip is not installed")
        data = bytes(range(256)) * 300
        archive = self.path("piped.zip")
        r = subprocess.run(["zip", "-q", archive, "-"], input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(0, r.returncode, r.stderr)
        raw = read(archive)
        self.assertEqual(b"PK\x06\x07", raw[-42:-38], "a ZIP64 locator in front of the end record")
        self.assertNotIn(b"\xff\xff", raw[-18:-2], "end record fields in range")
        for target_os, target in self.extract_with_both_stubs(archive, "piped"):
            self.assertEqual(data, read(os.path.join(target, "-")), target_os)

    @unittest.skipUnless(os.environ.get("KV_SLOW_TESTS"), "slow: set KV_SLOW_TESTS=1 (writes over 8 GiB)")
    def test_zip64_entry_past_4_gib_behind_both_stubs(self):
        # A file past 4 GiB gives zip's ZIP64 records with an end record in
        # range too (one entry, a small directory). Sparse in, real out.
        if not shutil.which("zip"):
            self.skipTest("Info-ZIP zip is not installed")
        size = (4 << 30) + (1 << 20)
        os.makedirs(self.path("big"))
        with open(self.path("big", "big.bin"), "wb") as f:
            f.truncate(size)
        archive = self.path("big.zip")
        r = run(["zip", "-q", "-1", archive, "big.bin"], cwd=self.path("big"), timeout=3600)
        self.assertEqual(0, r.returncode, r.stderr)
        os.remove(self.path("big", "big.bin"))
        for target_os, target in self.extract_with_both_stubs(archive, "big", timeout=3600):
            self.assertEqual(size, os.path.getsize(os.path.join(target, "big.bin")), target_os)
            shutil.rmtree(target)

    def test_count_stored_modulo_65536(self):
        # More than 65,535 entries without ZIP64 records: the directory that
        # ends exactly at the end record is whole; a count that is not the
        # real one modulo 65,536 still lies.
        entries = [stored("e%05d" % i, b"") for i in range(65537)]
        for delta, code in ((0, 0), (1, 28080), (-1, 28080)):
            archive = self.write("many%d.zip" % delta, build_zip(entries, count_delta=delta))
            r = kvsfx("list", archive, timeout=300)
            if code:
                self.assert_error(r, code, 4)
            else:
                self.assertEqual(0, r.returncode, r.stderr.decode())
                self.assertIn(" 65537 entries", r.stdout.decode())

    def test_empty_archives(self):
        empty = build_zip([])
        self.assertEqual(22, len(empty))
        for data, name in ((empty, "e22.zip"), (b"\0" * 100000 + empty, "e-behind.zip"),
                           (build_zip([], zip64=True), "e64.zip")):
            archive = self.check_extracts(data, name, entries=[])
            r = kvsfx("list", archive)
            self.assertEqual(0, r.returncode, r.stderr.decode())
            self.assertIn("0 entries", r.stdout.decode())
            self.assertEqual([], os.listdir(self.path("out-" + name)))

    def test_comment_window(self):
        # The longest comment there can be; a byte more behind it and the
        # record is out of reach.
        archive = self.check_extracts(build_zip(self.ENTRIES, comment=b"c" * 65535), "c65535.zip")
        self.assertIn("comment: ccc", kvsfx("list", archive).stdout.decode())
        p = self.write("c65536.zip", build_zip(self.ENTRIES, comment=b"c" * 65535) + b"c")
        self.assert_error(kvsfx("list", p), 28082, 3)
        # Stored in the OEM code page, shown once converted.
        archive = self.check_extracts(build_zip(self.ENTRIES, comment=b"Gr\x81\xe1e"), "oem.zip")
        self.assertIn("comment: Grüße\n", kvsfx("list", archive).stdout.decode())
        # A comment cut short by the end of the file keeps what is there...
        archive = self.check_extracts(build_zip(self.ENTRIES, comment=b"Kommentar")[:-4], "cut.zip")
        self.assertIn("comment: Komme\n", kvsfx("list", archive).stdout.decode())
        # ...but a signature whose directory would lie behind it is no end record.
        fake = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, 46, 0x7FFFFFF0, 500)
        self.check_extracts(build_zip(self.ENTRIES, comment=fake), "fake-cut.zip")

    def test_two_end_signatures(self):
        plain = build_zip(self.ENTRIES)
        # The comment ends in a whole copy of the end record: the later one wins.
        copy = plain[-22:]
        self.check_extracts(build_zip(self.ENTRIES, comment=b"note " + copy), "two-whole.zip")
        # Proof that the later one is taken: a copy that describes an empty
        # directory (it starts where the real end record stands).
        eocd_at = len(plain) - 22
        empty_copy = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0, 0, 0, eocd_at, 0)
        p = self.write("two-empty.zip", build_zip(self.ENTRIES, comment=empty_copy))
        r = kvsfx("list", p)
        self.assertEqual(0, r.returncode, r.stderr.decode())
        self.assertIn(" 0 entries", r.stdout.decode())
        # A signature in the comment without room for its record is no end record.
        self.check_extracts(build_zip(self.ENTRIES, comment=b"PK\x05\x06tail"), "two-cut.zip")

    def test_directory_order(self):
        b, a = stored("b", b"bbb"), stored("a", b"aaa")
        r = kvsfx("list", self.write("ba.zip", build_zip([b, a])))
        lines = [l.split()[-1] for l in r.stdout.decode().splitlines()[1:-1]]
        self.assertEqual(["b", "a"], lines)
        # b is extracted first: when b fails, a is never reached...
        bad_b = dict(b, crc=1)
        out = self.path("o1")
        self.assert_error(kvsfx("extract", self.write("bad-b.zip", build_zip([bad_b, a])), "-d", out), 28063, 4)
        self.assertFalse(os.path.exists(out))  # the folder it made goes too
        # ...and when a fails, b is already there.
        out = self.path("o2")
        self.assert_error(kvsfx("extract", self.write("bad-a.zip", build_zip([b, dict(a, crc=1)])), "-d", out),
                          28063, 4)
        self.assertEqual(["b"], os.listdir(out))

    def test_long_name_and_boundary_sizes(self):
        long_name = b"d/" * 150
        entries = [stored(long_name + b"f", b"long"), stored("s0", b""), stored("s16384", b"\x01" * 16384),
                   stored("s16385", b"\x02" * 16385)]
        archive = self.write("long.zip", build_zip(entries))
        r = kvsfx("list", archive)
        self.assertEqual(0, r.returncode, r.stderr.decode())
        names = [l.split()[-1] for l in r.stdout.decode().splitlines()[1:-1]]
        self.assertEqual(255, len(names[0].encode()))
        self.assertEqual(["s0", "s16384", "s16385"], names[1:])
        self.assertEqual(0, kvsfx("test", archive).returncode)
        self.check_extracts(build_zip(entries[1:]), "sizes.zip", entries=entries[1:])

    def test_counts_that_lie(self):
        for delta in (1, -1):
            p = self.write("count%d.zip" % delta, build_zip(self.ENTRIES, count_delta=delta))
            self.assert_error(kvsfx("list", p), 28080, 4, "'%s' is damaged" % p)
            out = self.path("o%d" % delta)
            self.assert_error(kvsfx("extract", p, "-d", out), 28080, 4)
            self.assertFalse(os.path.exists(out))  # no folder for an archive that cannot be read


if __name__ == "__main__":
    unittest.main()
