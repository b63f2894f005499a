"""LZMA entries (method 14) end to end, one table of archives made at test
time: by 7-Zip at several levels, dictionary sizes and lc/lp/pb settings,
under traditional and AES-256 encryption; by Python's zipfile (end marker);
by our own builder; copied into a split set. Every entry must come out byte
for byte from kvsfx test/extract and the self-extractors; an end marker
before the declared size, a stream running past it and a cut-off stream fail
with 28080, a dictionary that cannot be had with 28003, and leave nothing
behind."""
import os
import shutil
import struct
import subprocess
import unittest
import zipfile
import zlib

import kvtest
from kvtest import TempDirTest, need, run, run_tool, read, write

SEVEN_ZIP = shutil.which("7zz")
PASSWORD = "lzma-Passw0rd"


def shapes():
    seed = [4242]

    def rnd():
        seed[0] = (seed[0] * 1103515245 + 12345) & 0xFFFFFFFF
        return seed[0] >> 8

    words = [b"range ", b"coder ", b"literal\n", b"match ", b"the ", b"slot ", b"of "]
    text = b"".join(words[rnd() % len(words)] for _ in range(30000))
    records = b"".join(struct.pack("<II", i * 3, rnd() % 1000) for i in range(30000))
    noise = bytes(rnd() & 255 for _ in range(40000))
    return {
        "empty.bin": b"",
        "one.bin": b"k",
        "text.txt": text,
        "dir/records.bin": records,
        "noise.bin": noise,
        # Past one flush step and past a 64 KiB dictionary many times over.
        "big.bin": (text + records + noise) * 3,
    }


def zip_lzma(name, packed, size, crc, flags=2):
    """A one-entry ZIP of method 14 with the given declared size and flags."""
    n = name.encode()
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 63, flags, 14, 0, 0x5821, crc, len(packed), size, len(n), 0)
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 63, 63, flags, 14, 0, 0x5821, crc, len(packed), size,
                          len(n), 0, 0, 0, 0, 0, 0)
    body = local + n + packed
    return body + central + n + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central) + len(n), len(body), 0)


class LzmaArchives(TempDirTest):
    def setUp(self):
        super().setUp()
        need(os.path.exists(kvtest.TOOL), "kvsfx not built")
        self.data = shapes()
        self.src = self.path("src")
        for name, data in self.data.items():
            os.makedirs(os.path.dirname(os.path.join(self.src, name)), exist_ok=True)
            write(os.path.join(self.src, name), data)

    def seven(self, name, *switches):
        archive = self.path(name)
        subprocess.run([SEVEN_ZIP, "a", "-tzip", *switches, archive, "."], cwd=self.src, check=True,
                       stdout=subprocess.DEVNULL)
        return archive

    def python_zip(self):
        archive = self.path("python.zip")
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_LZMA) as z:
            for name, data in self.data.items():
                z.writestr(name, data)
        return archive

    def own_build(self):
        sfx = self.path("own.run")
        r = run_tool("build", "--from", self.src, "--method", "lzma", "--level", "9", "-o", sfx, "--target-os",
                     "posix", "--lang", "en", timeout=600)
        self.assertEqual(0, r.returncode, r.stderr.decode(errors="replace"))
        return sfx

    def split_set(self, archive):
        need(kvtest.ZIP, "Info-ZIP zip is not installed")
        out = self.path("split.zip")
        subprocess.run([kvtest.ZIP, "-q", "-s", "64k", archive, "--out", out], check=True)
        self.assertTrue(os.path.exists(self.path("split.z01")))
        sfx = self.path("split.run")
        r = run_tool("build", "--archive", out, "-o", sfx, "--target-os", "posix", "--lang", "en")
        self.assertEqual(0, r.returncode, r.stderr.decode(errors="replace"))
        return sfx

    def archives(self):
        """(label, archive, password or None)."""
        table = [("python zipfile, end marker", self.python_zip(), None), ("own builder", self.own_build(), None)]
        if SEVEN_ZIP:
            table += [
                ("7z -mx=1", self.seven("mx1.zip", "-mm=LZMA", "-mx=1"), None),
                ("7z -mx=5, 64 KiB dictionary", self.seven("d64k.zip", "-mm=LZMA:d=64k", "-mx=5"), None),
                ("7z -mx=9", self.seven("mx9.zip", "-mm=LZMA", "-mx=9"), None),
                ("7z lc=0 lp=2 pb=2", self.seven("lclp.zip", "-mm=LZMA:lc=0:lp=2:pb=2"), None),
                ("7z AES-256", self.seven("aes.zip", "-mm=LZMA", "-mem=AES256", "-p" + PASSWORD), PASSWORD),
                ("7z traditional", self.seven("zc.zip", "-mm=LZMA", "-mem=ZipCrypto", "-p" + PASSWORD), PASSWORD),
            ]
            table.append(("split set of 7z -mx=9", self.split_set(self.path("mx9.zip")), None))
        return table

    def test_every_archive_decodes_byte_identical(self):
        for label, archive, password in self.archives():
            with self.subTest(label):
                pw = ["--password", password] if password else []
                r = run_tool("test", archive, "--quiet", *pw, stdin=subprocess.DEVNULL, timeout=600)
                self.assertEqual(0, r.returncode, r.stderr.decode(errors="replace"))
                out = self.path("out-" + label.replace(" ", "_").replace("/", "_"))
                r = run_tool("extract", archive, "-d", out, "--quiet", *pw, stdin=subprocess.DEVNULL, timeout=600)
                self.assertEqual(0, r.returncode, r.stderr.decode(errors="replace"))
                for name, data in self.data.items():
                    self.assertEqual(data, read(os.path.join(out, name)), name)

    def test_self_extractors(self):
        need(SEVEN_ZIP, "7zz is not installed")
        archive = self.seven("sfx.zip", "-mm=LZMA", "-mx=9")
        stubs = [("posix", kvtest.POSIX_STUB, ["--target-os", "posix"])]
        if kvtest.WINE:
            stubs.append(("windows", kvtest.WINDOWS_STUB, ["--stub", kvtest.WINDOWS_STUB]))
        for kind, stub, stub_args in stubs:
            with self.subTest(stub=kind):
                need(os.path.exists(stub), kind + " stub not built")
                target = self.path("sfx-" + kind)
                sfx = self.path("setup-" + kind)
                where = "Z:" + target.replace("/", "\\") if kind == "windows" else target
                r = run_tool("build", "--archive", archive, "-o", sfx, *stub_args, "--unattended", "--target", where,
                             "--lang", "en")
                if r.returncode != 0 and b"too large" in r.stderr:
                    self.skipTest("stub too large for a self-extractor (sanitizer build)")
                self.assertEqual(0, r.returncode, r.stderr.decode(errors="replace"))
                os.chmod(sfx, 0o755)
                r = kvtest.run_wine(sfx, timeout=600) if kind == "windows" else run([sfx], timeout=600)
                self.assertEqual(0, r.returncode, r.stderr.decode(errors="replace"))
                for name, data in self.data.items():
                    self.assertEqual(data, read(os.path.join(target, name)), name)

    def test_stream_and_declared_size_disagree(self):
        import lzma
        data = self.data["text.txt"]
        filt = {"id": lzma.FILTER_LZMA1, "preset": 6}
        props = lzma._encode_filter_properties(filt)
        packed = bytes([9, 4]) + struct.pack("<H", len(props)) + props + lzma.compress(
            data, lzma.FORMAT_RAW, filters=[filt])
        cases = [("end marker before the declared size", packed, len(data) + 1, zlib.crc32(data + b"\0")),
                 ("stream runs past the declared size", packed, len(data) - 1, zlib.crc32(data[:-1])),
                 ("stream cut off", packed[:len(packed) // 2], len(data), zlib.crc32(data))]
        for label, body, size, crc in cases:
            with self.subTest(label):
                archive = write(self.path("bad.zip"), zip_lzma("bad.txt", body, size, crc))
                out = self.path("out-bad")
                r = run_tool("extract", archive, "-d", out, "--quiet", timeout=120)
                self.assertNotEqual(0, r.returncode)
                self.assertIn(b"error 28080:", r.stderr)
                self.assertFalse(os.path.exists(os.path.join(out, "bad.txt")), "partial file left behind")
        # The same entry with its true size is sound, so the cases above fail
        # for the size alone.
        archive = write(self.path("good.zip"), zip_lzma("good.txt", packed, len(data), zlib.crc32(data)))
        r = run_tool("test", archive, "--quiet")
        self.assertEqual(0, r.returncode, r.stderr.decode(errors="replace"))

    def test_dictionary_the_process_cannot_get(self):
        # Under a 768 MiB address-space cap: a small entry declaring a 4 GiB
        # dictionary costs only its own size; one whose size and dictionary
        # are both 2 GiB cannot get it, which is 28003, not a crash.
        need(b"__asan_init" not in read(kvtest.TOOL), "sanitizer build: an address-space cap stops it at start")
        import lzma
        import resource
        data = self.data["text.txt"]
        filt = {"id": lzma.FILTER_LZMA1, "preset": 6}
        props = lzma._encode_filter_properties(filt)
        raw = lzma.compress(data, lzma.FORMAT_RAW, filters=[filt])
        cap = lambda: resource.setrlimit(resource.RLIMIT_AS, (768 << 20, 768 << 20))  # noqa: E731
        for label, dictionary, size, error in (("4 GiB dictionary, small entry", 0xFFFFFFFF, len(data), None),
                                               ("2 GiB dictionary and size", 1 << 31, 1 << 31, b"error 28003:")):
            with self.subTest(label):
                packed = bytes([9, 4, 5, 0, props[0]]) + struct.pack("<I", dictionary) + raw
                archive = write(self.path("dict.zip"), zip_lzma("d.txt", packed, size, zlib.crc32(data)))
                out = self.path("out-dict")
                r = run([kvtest.TOOL, "extract", archive, "-d", out, "--quiet"], preexec_fn=cap)
                if error is None:
                    self.assertEqual(0, r.returncode, r.stderr.decode(errors="replace"))
                    self.assertEqual(data, read(os.path.join(out, "d.txt")))
                else:
                    self.assertNotEqual(0, r.returncode)
                    self.assertIn(error, r.stderr)
                    self.assertFalse(os.path.exists(os.path.join(out, "d.txt")), "partial file left behind")
                shutil.rmtree(out, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
