"""Hostile and broken archives: whatever the names say, nothing is written
outside the target folder; truncated archives and sizes or offsets that lie
end with an error line and an exit code, never a crash or a hang."""
import os
import subprocess
import sys
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_engine_extract import EngineCase, build_zip, kvsfx, read, stored  # noqa: E402


def deflated(name, plain, dictionary=b"", **kw):
    """A Deflate entry; a dictionary lets the data point back before its first byte."""
    c = zlib.compressobj(6, zlib.DEFLATED, -15, zdict=dictionary) if dictionary else zlib.compressobj(6, zlib.DEFLATED, -15)
    return stored(name, c.compress(plain) + c.flush(), method=8, crc=zlib.crc32(plain), usize=len(plain), **kw)

ERROR_EXITS = {3, 4, 5, 7, 8}


class ContainmentTest(EngineCase):
    def hostile(self):
        absolute = os.path.join(self.dir, "abs-evil").encode()
        # (stored name, where it must land below the target; None: not extracted)
        return [
            (b"../evil1", "evil1"),
            (b"..\\evil2", "evil2"),
            (absolute, absolute.decode().lstrip("/")),
            (b"C:\\evil4", "evil4"),
            (b"C:/evil4b", "evil4b"),
            (b"C:evil5", "C_evil5"),
            (b"\\\\server\\share\\evil6", "server/share/evil6"),
            (b"//server/share/evil6b", "server/share/evil6b"),
            (b"...", None),
            (b".../evil7", "evil7"),
            (b"a/../../evil8", "a/evil8"),
            (b"./../evil9", "evil9"),
            (b"..", None),
            (b"../", None),
            (b".. /evil10", "evil10"),
            (b". . /evil10b", "evil10b"),
            (b"a\\..\\..\\evil11", "a/evil11"),
            (b"dir/..", "dir"),
            (b"ok/../../../../etc/evil12", "ok/etc/evil12"),
            (b"a:b/c", "a_b/c"),
            (b"\x01ctrl|?.txt", "_ctrl__.txt"),
            (b"sub//double\\\\x", "sub/double/x"),
            (b"/", None),
            (b"\\..\\evil13", "evil13"),
            (b"x/ ../evil15", "x/ evil15"),
            (b"mixed\\../..//evil16", "mixed/evil16"),
        ]

    def check_sandbox(self, target, archive_files, table):
        for root, dirs, files in os.walk(self.dir):
            for n in dirs + files:
                p = os.path.join(root, n)
                if p == target or any(p == a or p.startswith(a + os.sep) for a in archive_files):
                    continue
                self.assertTrue(p.startswith(target + os.sep), "written outside the target: " + p)
        for name, rel in table:
            if rel is None:
                continue
            p = os.path.join(target, rel)
            if name.endswith(b"..") or name.endswith(b"/"):
                self.assertTrue(os.path.isdir(p), rel)
            else:
                self.assertEqual(name, read(p), rel)

    def test_hostile_names_stay_inside(self):
        table = self.hostile()
        archive = self.write("hostile.zip", build_zip([stored(n, n) for n, _ in table]))
        target = self.path("target")
        r = kvsfx("extract", archive, "-d", target, "--quiet")
        self.assertEqual(0, r.returncode, r.stderr.decode())
        self.check_sandbox(target, {archive}, table)
        self.assertFalse(os.path.exists(self.path("abs-evil")))

        stub_target = self.path("target-stub")
        sfx = self.build_sfx(archive, self.path("hostile.sfx"), stub_target)
        self.assertEqual(0, self.run_sfx(sfx).returncode)
        os.rename(target, self.path("done"))  # out of the way of the second check
        self.check_sandbox(stub_target, {archive, sfx, self.path("done")}, table)


class BrokenArchiveTest(EngineCase):
    ENTRIES = [stored("a.txt", b"alpha" * 100), stored("d/", b""), stored("d/b.bin", bytes(range(256)) * 80),
               stored("c.txt", b"gamma")]

    def assert_failed_cleanly(self, r, target):
        err = r.stderr.decode(errors="replace")
        self.assertGreaterEqual(r.returncode, 0, "killed by a signal: " + err)
        if r.returncode != 0:
            self.assertIn(r.returncode, ERROR_EXITS, err)
            self.assertRegex(err, r"error \d{5}: ")
        if os.path.isdir(target):
            for root, dirs, files in os.walk(target):
                for n in files:
                    # Only complete entries are left behind.
                    got = read(os.path.join(root, n))
                    rel = os.path.relpath(os.path.join(root, n), target)
                    wanted = [e["data"] for e in self.ENTRIES if e["name"].decode() == rel]
                    self.assertEqual(wanted, [got], rel)

    def test_truncated_and_cut_archives(self):
        data = build_zip(self.ENTRIES)
        tail = len(data) - data.index(b"PK\x01\x02")
        cases = []
        for n in range(0, len(data), 97):
            cases.append(("head%d" % n, data[:n]))
            if n < len(data) - tail:
                # The directory and end record stay; the data before them is cut.
                cases.append(("mid%d" % n, data[:n] + data[-tail:]))
        for name, blob in cases:
            archive = self.write(name + ".zip", blob)
            target = self.path("out-" + name)
            r = kvsfx("extract", archive, "-d", target, "--quiet", timeout=20)
            self.assert_failed_cleanly(r, target)
            r = kvsfx("test", archive, "--quiet", timeout=20)
            self.assertGreaterEqual(r.returncode, 0)

    def test_sizes_and_offsets_past_the_end(self):
        big = 0x7FFFFFF0
        # (name, last entry, fails): less data than declared is judged by its CRC alone.
        cases = [
            ("usize", dict(self.ENTRIES[3], usize=big), False),
            ("csize", dict(self.ENTRIES[3], csize=big, usize=big), True),
        ]
        for name, last, fails in cases:
            archive = self.write(name + ".zip", build_zip(self.ENTRIES[:3] + [last]))
            target = self.path("out-" + name)
            r = kvsfx("extract", archive, "-d", target, timeout=60)
            if fails:
                self.assertIn(r.returncode, ERROR_EXITS, r.stderr.decode())
                self.assertFalse(os.path.exists(os.path.join(target, "c.txt")), "partial file left behind")
            else:
                self.assertEqual(0, r.returncode, r.stderr.decode())
                self.assertEqual(read(os.path.join(target, "c.txt")), last["data"])
            self.assertEqual(read(os.path.join(target, "a.txt")), self.ENTRIES[0]["data"])
        # A directory offset and size that point outside the file.
        data = bytearray(build_zip(self.ENTRIES))
        for field, value in ((12, 0xFFFFFFF0), (16, 0xFFFFFFF0), (12, 0x7FFFFFFF), (16, len(data) * 3)):
            broken = bytearray(data)
            broken[-22 + field:-22 + field + 4] = value.to_bytes(4, "little")
            archive = self.write("eocd%d-%x.zip" % (field, value), bytes(broken))
            target = self.path("out-eocd%d-%x" % (field, value))
            r = kvsfx("extract", archive, "-d", target, timeout=20)
            self.assert_failed_cleanly(r, target)
            if field == 16:  # an offset that misses the directory (a size alone is not needed to read it)
                self.assertEqual(4, r.returncode, r.stderr.decode())


class DeclaredSizeTest(EngineCase):
    def test_output_stops_at_the_declared_size(self):
        # About 1 GB of zeros declared as 1000 bytes, extracted onto a 4 MiB
        # file system: the entry must fail as invalid data before the disk is
        # full, so nothing beyond the declared size was ever written.
        target = self.path("small")
        os.makedirs(target)
        if os.geteuid() != 0 or subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", target],
                                               stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("cannot mount a small tmpfs")
        self.addCleanup(subprocess.run, ["umount", target])
        c = zlib.compressobj(1, zlib.DEFLATED, -15)
        block = bytes(1 << 20)
        packed = b"".join(c.compress(block) for _ in range(1024)) + c.flush()
        archive = self.write("bomb.zip", build_zip([
            deflated("before.txt", b"extracted " * 100),
            stored("bomb.bin", packed, method=8, crc=0, usize=1000)]))
        r = kvsfx("extract", archive, "-d", target, timeout=120)
        err = r.stderr.decode(errors="replace")
        self.assertNotEqual(0, r.returncode, err)
        self.assertIn("28080", err)
        self.assertNotIn("28004", err)
        self.assertFalse(os.path.exists(os.path.join(target, "bomb.bin")))
        self.assertEqual(b"extracted " * 100, read(os.path.join(target, "before.txt")))

    def test_short_output_and_overstated_compressed_size_pass_on_their_crc(self):
        plain = b"the CRC decides " * 500
        short = deflated("short.txt", plain)
        short["usize"] = len(plain) + 999
        over = deflated("over.txt", plain)
        over["csize"] = len(over["data"]) + 5000
        # Last in the archive, so its data runs to the directory and beyond the file.
        archive = self.write("lying.zip", build_zip([short, over]))
        r = kvsfx("extract", archive, "-d", self.path("out"))
        self.assertEqual(0, r.returncode, r.stderr.decode(errors="replace"))
        for name in ("short.txt", "over.txt"):
            self.assertEqual(plain, read(os.path.join(self.path("out"), name)))

    def test_skip_existing_extracts_what_a_full_run_does(self):
        # The second entry's data points before its first byte, where the
        # first entry's last window would lie: it must read zeros either way.
        first = bytes((i * 7 + i // 251) % 253 for i in range(70000))
        second = bytes(300) + b"after the zeros"
        entries = [deflated("first.bin", first), deflated("second.bin", second, dictionary=bytes(4000))]
        archive = self.write("history.zip", build_zip(entries))
        full = self.path("full")
        r = kvsfx("extract", archive, "-d", full)
        self.assertEqual(0, r.returncode, r.stderr.decode(errors="replace"))
        again = self.path("again")
        os.makedirs(again)
        with open(os.path.join(again, "first.bin"), "wb") as f:
            f.write(b"kept")
        r = kvsfx("extract", archive, "-d", again, "--skip-existing")
        self.assertEqual(0, r.returncode, r.stderr.decode(errors="replace"))
        self.assertEqual(second, read(os.path.join(full, "second.bin")))
        self.assertEqual(read(os.path.join(full, "second.bin")), read(os.path.join(again, "second.bin")))


if __name__ == "__main__":
    unittest.main()
