"""Deflate and Deflate64 end to end: archives whose entries were compressed by
zlib (every level and strategy, through a small ZIP writer) and by 7-Zip
(Deflate and Deflate64) are tested, extracted and unpacked by self-extractors
(the POSIX stub natively, the Windows stub under Wine), and every file must
come out byte for byte. Damaged and cut-off entries fail with 28080 or
28063 and leave no file behind."""
import os
import shutil
import struct
import subprocess
import unittest
import zlib

import kvtest
from kvtest import TempDirTest, need, run, run_tool, read, write

SEVEN_ZIP = shutil.which("7zz")


def shapes():
    """Named data of many shapes (deterministic)."""
    seed = [12345]

    def rnd():
        seed[0] = (seed[0] * 1103515245 + 12345) & 0xFFFFFFFF
        return seed[0] >> 8

    words = [b"alpha ", b"beta ", b"gamma\n", b"delta ", b"the ", b"window ", b"of "]
    text = b"".join(words[rnd() % len(words)] for _ in range(40000))
    records = b"".join(struct.pack("<II", i * 3, rnd() % 1000) for i in range(20000))
    runs = b"".join(bytes([rnd() % 3]) * (1 + rnd() % 700) for _ in range(600))
    noise = bytes(rnd() & 255 for _ in range(60000))
    big = b"".join((text[:30000], noise, runs, records, text)) * 6
    return {
        "empty.bin": b"",
        "one.bin": b"k",
        "text.txt": text,
        "records.bin": records,
        "runs.bin": runs,
        "noise.bin": noise,
        "window.bin": (text * 2)[:65536],
        "big.bin": big,
    }


def zip_with(entries):
    """A ZIP of (name, method, packed, data) entries, offsets from its start."""
    out = bytearray()
    central = bytearray()
    for name, method, packed, data in entries:
        n = name.encode()
        crc = zlib.crc32(data)
        offset = len(out)
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, method, 0, 0x5821, crc, len(packed), len(data),
                           len(n), 0) + n + packed
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, method, 0, 0x5821, crc, len(packed),
                               len(data), len(n), 0, 0, 0, 0, 0, offset) + n
    start = len(out)
    out += central
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central), start, 0)
    return bytes(out)


def raw_deflate(data, level, strategy=zlib.Z_DEFAULT_STRATEGY, mem_level=8):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, mem_level, strategy)
    return c.compress(data) + c.flush()


STRATEGIES = [zlib.Z_DEFAULT_STRATEGY, zlib.Z_FILTERED, zlib.Z_HUFFMAN_ONLY, zlib.Z_RLE, zlib.Z_FIXED]


class InflateReference(TempDirTest):
    def setUp(self):
        super().setUp()
        need(os.path.exists(kvtest.TOOL), "kvsfx not built")
        self.data = shapes()

    def check_tree(self, folder, expected):
        for name, data in expected.items():
            path = os.path.join(folder, name)
            self.assertTrue(os.path.exists(path), name)
            self.assertEqual(data, read(path), name)

    def extract_and_test(self, archive, expected):
        r = run_tool("test", archive, timeout=600)
        self.assertEqual(0, r.returncode, r.stderr.decode(errors="replace"))
        out = self.path("out-" + os.path.basename(archive))
        r = run_tool("extract", archive, "-d", out, "--quiet", timeout=600)
        self.assertEqual(0, r.returncode, r.stderr.decode(errors="replace"))
        self.check_tree(out, expected)

    def zlib_archive(self):
        """One archive with every shape at every level and strategy."""
        entries, expected = [], {}
        for name, data in self.data.items():
            for level in range(10):
                for strategy in STRATEGIES:
                    if name == "big.bin" and (level % 3 or strategy not in (zlib.Z_DEFAULT_STRATEGY, zlib.Z_FIXED)):
                        continue
                    entry = "z%d-s%d-%s" % (level, strategy, name)
                    entries.append((entry, 8, raw_deflate(data, level, strategy), data))
                    expected[entry] = data
        return write(self.path("zlib.zip"), zip_with(entries)), expected

    def seven_zip_archives(self):
        need(SEVEN_ZIP, "7zz is not installed")
        src = self.path("src")
        os.makedirs(src)
        for name, data in self.data.items():
            write(os.path.join(src, name), data)
        archives = []
        for method in ("Deflate", "Deflate64"):
            for mx in (1, 5, 9):
                archive = self.path("7z-%s-%d.zip" % (method, mx))
                subprocess.run([SEVEN_ZIP, "a", "-tzip", "-mm=" + method, "-mx=%d" % mx, archive] + sorted(self.data),
                               cwd=src, check=True, stdout=subprocess.DEVNULL)
                archives.append(archive)
        return archives

    def test_zlib_every_level_and_strategy(self):
        archive, expected = self.zlib_archive()
        self.extract_and_test(archive, expected)

    def test_seven_zip_deflate_and_deflate64(self):
        for archive in self.seven_zip_archives():
            with self.subTest(archive=os.path.basename(archive)):
                if "Deflate64" in archive:
                    self.assertIn(b"\x09\x00", read(archive)[8:10], "7-Zip wrote method 9")
                self.extract_and_test(archive, self.data)

    def build_sfx(self, archive, target, target_os):
        sfx = self.path("setup-%s.%s" % (os.path.basename(archive), "exe" if target_os == "windows" else "run"))
        stub = ["--stub", kvtest.WINDOWS_STUB] if target_os == "windows" else ["--target-os", "posix"]
        r = run_tool("build", "--archive", archive, "-o", sfx, *stub, "--unattended", "--target", target, "--lang", "en")
        if r.returncode != 0 and b"too large" in r.stderr:
            self.skipTest("stub too large for a self-extractor (sanitizer build)")
        self.assertEqual(0, r.returncode, r.stderr.decode(errors="replace"))
        return sfx

    def test_self_extractors(self):
        archives = []
        z, _ = self.zlib_archive()
        archives.append(z)
        if SEVEN_ZIP:
            archives += [a for a in self.seven_zip_archives() if a.endswith("-9.zip")]
        for archive in archives:
            with self.subTest(archive=os.path.basename(archive), stub="posix"):
                need(os.path.exists(kvtest.POSIX_STUB), "POSIX stub not built")
                target = self.path("sfx-" + os.path.basename(archive))
                sfx = self.build_sfx(archive, target, "posix")
                os.chmod(sfx, 0o755)
                r = run([sfx], timeout=600)
                self.assertEqual(0, r.returncode, r.stderr.decode(errors="replace"))
                expected = self.data if "7z-" in archive else {n: self.data[n.split("-", 2)[2]] for n in
                                                                os.listdir(target)}
                self.check_tree(target, expected)
            if kvtest.WINE and os.path.exists(kvtest.WINDOWS_STUB) and "7z-" in archive:
                with self.subTest(archive=os.path.basename(archive), stub="windows"):
                    target = self.path("wine-" + os.path.basename(archive))
                    sfx = self.build_sfx(archive, "Z:" + target.replace("/", "\\"), "windows")
                    r = kvtest.run_wine(sfx, timeout=600)
                    self.assertEqual(0, r.returncode, r.stderr.decode(errors="replace"))
                    self.check_tree(target, self.data)

    def test_damaged_and_cut_off_entries(self):
        data = self.data["text.txt"]
        packed = raw_deflate(data, 6)
        cases = []
        # Cut off: the entry's size says the stream ends early.
        for cut in (1, len(packed) // 2, len(packed) - 1):
            cases.append(("cut%d" % cut, 8, packed[:cut], (28080,)))
        # Damaged: block type 3 in the first header, and flips further in.
        cases.append(("type3", 8, bytes([packed[0] | 0x06]) + packed[1:], (28080,)))
        for at in (50, len(packed) // 3, len(packed) - 10):
            bad = bytearray(packed)
            bad[at] ^= 0x10
            cases.append(("flip%d" % at, 8, bytes(bad), (28080, 28063)))
        for method in (8, 9):
            cases.append(("ones-m%d" % method, method, b"\xff" * 3000, (28080,)))
        for name, method, stream, codes in cases:
            with self.subTest(case=name):
                good = "good.txt"
                archive = write(self.path(name + ".zip"),
                                zip_with([(good, 0, b"fine", b"fine"), ("bad.txt", method, stream, data)]))
                out = self.path("out-" + name)
                r = run_tool("extract", archive, "-d", out, "--quiet", timeout=120)
                err = r.stderr.decode(errors="replace")
                self.assertTrue(any(("error %d:" % c) in err for c in codes), err)
                self.assertNotEqual(0, r.returncode)
                self.assertEqual(b"fine", read(os.path.join(out, good)))
                self.assertFalse(os.path.exists(os.path.join(out, "bad.txt")), "partial file left behind")


if __name__ == "__main__":
    unittest.main()
