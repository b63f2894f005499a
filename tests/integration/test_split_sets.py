"""Split archives: sets made by Info-ZIP `zip -s 64k` (stored, Deflate,
ZipCrypto, an entry larger than a volume) extracted by the tool, by the POSIX
self-extractor and by the Windows one under Wine; archives re-split by hand so
that volume boundaries cut encryption headers, AES salts and codes and stream
pieces; missing, foreign and short volumes; and the next-volume prompt of the
terminal front-end through a pseudo-terminal."""
import os
import random
import shutil
import struct
import subprocess
import sys
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kvtest  # noqa: E402
from kvtest import need, read, run_tool, write  # noqa: E402
from test_ui_console import Session  # noqa: E402

PASSWORD = "s3cret"
SEVEN_ZIP = shutil.which("7zz")


def source_files():
    rnd = random.Random(7)
    words = [b"alpha", b"beta", b"gamma", b"kivrel", b"volume", b"split"]
    text = b" ".join(rnd.choice(words) for _ in range(60000))
    return {
        "big.bin": bytes(rnd.getrandbits(8) for _ in range(200000)),  # larger than three volumes
        "text.txt": text,
        "sub/small.txt": b"small\n",
        "sub/empty.txt": b"",
    }


def write_tree(folder, files):
    for name, data in files.items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write(path, data)


def zip_split(src, out_zip, *options):
    """Info-ZIP split set of src's files into out_zip's folder; returns the
    paths of its volumes, the last (".zip") last."""
    need(kvtest.ZIP, "Info-ZIP zip is not installed")
    os.makedirs(os.path.dirname(out_zip), exist_ok=True)
    subprocess.run([kvtest.ZIP, "-q", "-r", "-X", "-s", "64k"] + list(options) + [out_zip, "."], cwd=src, check=True)
    base = out_zip[:-4]
    volumes = []
    n = 1
    while os.path.exists("%s.z%02d" % (base, n)):
        volumes.append("%s.z%02d" % (base, n))
        n += 1
    return volumes + [out_zip]


def place_set(volumes, folder, name, last_name):
    """Copies a set into folder as name.z01, name.z02, ... with its last
    volume as last_name (which a self-extractor replaces)."""
    os.makedirs(folder, exist_ok=True)
    for i, v in enumerate(volumes[:-1]):
        shutil.copy(v, os.path.join(folder, "%s.z%02d" % (name, i + 1)))
    if last_name:
        shutil.copy(volumes[-1], os.path.join(folder, last_name))


def resplit(data, cuts_for):
    """Splits an unsplit archive (bytes) into volumes. cuts_for(info,
    data_start, data_end) gives positions (in the archive) where a new volume
    starts; local headers are never cut, and the central directory goes whole
    onto a last volume of its own. Returns the list of volume bytes."""
    zf = zipfile.ZipFile(__import__("io").BytesIO(data))
    infos = zf.infolist()
    cd_start = struct.unpack_from("<I", data, data.rfind(b"PK\x05\x06") + 16)[0]
    cuts = set()
    for info in infos:
        h = info.header_offset
        n, e = struct.unpack_from("<HH", data, h + 26)
        start = h + 30 + n + e
        for c in cuts_for(info, start, start + info.compress_size):
            assert start <= c <= start + info.compress_size
            cuts.add(c)
    stream = b"PK\x07\x08" + data[:cd_start]  # the split marker moves everything by 4
    bounds = [0] + sorted(c + 4 for c in cuts) + [len(stream)]
    volumes = [stream[bounds[i]:bounds[i + 1]] for i in range(len(bounds) - 1)]
    last = len(volumes)

    def locate(pos):
        pos += 4
        for disk in range(len(bounds) - 1):
            if bounds[disk] <= pos < bounds[disk + 1]:
                return disk, pos - bounds[disk]
        raise AssertionError(pos)

    central = bytearray()
    p = cd_start
    for _ in infos:
        n, e, c = struct.unpack_from("<HHH", data, p + 28)
        record = bytearray(data[p:p + 46 + n + e + c])
        disk, offset = locate(struct.unpack_from("<I", record, 42)[0])
        struct.pack_into("<HI", record, 34, disk, 0)  # keeps internal attributes below
        struct.pack_into("<H", record, 36, struct.unpack_from("<H", data, p + 36)[0])
        struct.pack_into("<I", record, 42, offset)
        central += record
        p += len(record)
    end = struct.pack("<IHHHHIIH", 0x06054B50, last, last, len(infos), len(infos), len(central), 0, 0)
    return volumes + [bytes(central) + end]


def built(test, r):
    """Checks a build's result; a sanitizer build's stub is too large for a
    self-extractor, which skips the test."""
    if r.returncode != 0 and b"too large" in r.stderr:
        test.skipTest("stub too large for a self-extractor (sanitizer build)")
    test.assertEqual(r.returncode, 0, r.stderr)


def tree(folder):
    out = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            out[os.path.relpath(path, folder).replace(os.sep, "/")] = read(path)
    return out


class SplitSets(kvtest.TempDirTest):
    @classmethod
    def setUpClass(cls):
        need(os.path.isfile(kvtest.TOOL), "kvsfx not in KV_BIN")
        need(kvtest.ZIP, "Info-ZIP zip is not installed")
        import tempfile
        cls.shared = tempfile.mkdtemp(prefix="kvsplit_")
        cls.files = source_files()
        src = os.path.join(cls.shared, "src")
        write_tree(src, cls.files)
        cls.sets = {
            "deflate": zip_split(src, os.path.join(cls.shared, "deflate", "set.zip")),
            "stored": zip_split(src, os.path.join(cls.shared, "stored", "set.zip"), "-0"),
            "zipcrypto": zip_split(src, os.path.join(cls.shared, "zipcrypto", "set.zip"), "-P", PASSWORD),
            # ZIP64 records throughout (locator and end record on the last
            # volume): behind a program they need the same shift correction.
            "zip64": zip_split(src, os.path.join(cls.shared, "zip64", "set.zip"), "-fz"),
        }
        for name, volumes in cls.sets.items():
            assert len(volumes) >= 4, (name, volumes)  # big.bin alone needs more than three volumes
        with open(cls.sets["zip64"][-1], "rb") as f:
            assert b"PK\x06\x07" in f.read(), "zip -fz wrote no ZIP64 locator"

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.shared, True)

    def assert_tree(self, folder):
        self.assertEqual(tree(folder), self.files)

    def extract(self, archive, out, *extra, timeout=120):
        return run_tool("extract", archive, "-d", out, "--password", PASSWORD, "--quiet", *extra,
                        timeout=timeout, stdin=subprocess.DEVNULL)

    def build(self, kind, out, stub_options, unattended=True):
        options = ["build", "--archive", self.sets[kind][-1], "-o", out, "--lang", "en",
                   "--target", self.target_for(out)] + stub_options
        if unattended:
            options.append("--unattended")
        r = run_tool(*options)
        built(self, r)
        # The builder says where the other volumes must go.
        self.assertIn(("must travel beside %s as '%s.z01' to '%s.z%02d'" % (out, out, out, len(self.sets[kind]) - 1))
                      .encode(), r.stdout)
        os.chmod(out, 0o755)
        return out

    def target_for(self, exe):
        return os.path.join(os.path.dirname(exe), "out")

    # --- the tool ---
    def test_tool_extracts_and_tests_each_set_by_its_last_volume(self):
        for kind, volumes in self.sets.items():
            with self.subTest(kind):
                out = self.path(kind)
                r = self.extract(volumes[-1], out)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assert_tree(out)
                r = run_tool("test", volumes[-1], "--password", PASSWORD, "--quiet", stdin=subprocess.DEVNULL)
                self.assertEqual(r.returncode, 0, r.stderr)

    def test_first_volume_found_by_the_executable_name(self):
        # No 'setup.z01': the first volume travels as 'setup.exe'.
        folder = self.path("exe")
        place_set(self.sets["deflate"], folder, "setup", "setup.zip")
        os.rename(os.path.join(folder, "setup.z01"), os.path.join(folder, "setup.exe"))
        r = self.extract(os.path.join(folder, "setup.zip"), self.path("out"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assert_tree(self.path("out"))

    def test_boundaries_inside_headers_codes_and_pieces(self):
        """Volume boundaries inside the ZipCrypto header, the AES salt and
        verifier, the AES code and a 16 KiB stream piece decode to the bytes
        of the unsplit archive."""
        src = self.path("src")
        write_tree(src, self.files)
        archives = {}
        subprocess.run([kvtest.ZIP, "-q", "-r", "-X", "-P", PASSWORD, self.path("zc.zip"), "."], cwd=src, check=True)
        archives["zipcrypto"] = self.path("zc.zip")
        subprocess.run([kvtest.ZIP, "-q", "-r", "-X", "-0", self.path("st.zip"), "."], cwd=src, check=True)
        archives["stored"] = self.path("st.zip")
        if SEVEN_ZIP:
            for method in ("Deflate", "Copy"):
                path = self.path("aes-%s.zip" % method)
                subprocess.run([SEVEN_ZIP, "a", "-tzip", "-p" + PASSWORD, "-mem=AES256", "-mm=" + method, path, "."],
                               cwd=src, check=True, stdout=subprocess.DEVNULL)
                archives["aes-" + method] = path

        def cuts(info, start, end):
            size = end - start
            points = [start + k for k in (1, 5, 11, 13) if k < size]  # header, salt, verifier
            points += [start + k for k in (16383, 16385, 40000) if k < size - 12]
            points += [end - k for k in (9, 3) if size > 20]  # inside an AES code / the last bytes
            return sorted(set(points))

        for name, path in archives.items():
            with self.subTest(name):
                volumes = resplit(read(path), cuts)
                folder = self.path("re-" + name)
                os.makedirs(folder)
                for i, v in enumerate(volumes[:-1]):
                    write(os.path.join(folder, "set.z%02d" % (i + 1) if i < 99 else "set.%d" % (i + 1)), v)
                write(os.path.join(folder, "set.zip"), volumes[-1])
                self.assertGreater(len(volumes), 10)
                out = self.path("out-" + name)
                r = self.extract(os.path.join(folder, "set.zip"), out)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assert_tree(out)

    # --- bad sets ---
    def bad_set(self, damage):
        folder = self.path("bad")
        place_set(self.sets["deflate"], folder, "set", "set.zip")
        damage(folder)
        out = self.path("out")
        r = self.extract(os.path.join(folder, "set.zip"), out, timeout=60)
        return r, out

    def assert_no_partial_big_file(self, out):
        got = tree(out) if os.path.isdir(out) else {}
        for name, data in got.items():
            self.assertEqual(data, self.files[name], name)  # whatever is there is whole
        self.assertNotIn("big.bin", got)

    def test_missing_volume_without_prompt_is_28149(self):
        r, out = self.bad_set(lambda f: os.remove(os.path.join(f, "set.z02")))
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"28149", r.stderr)
        self.assert_no_partial_big_file(out)

    def test_short_and_foreign_volumes_end_with_an_error(self):
        def shorten(f):
            path = os.path.join(f, "set.z02")
            write(path, read(path)[:30000])

        def foreign(f):
            shutil.copy(self.sets["stored"][1], os.path.join(f, "set.z02"))

        def foreign_last_data(f):
            shutil.copy(self.sets["zipcrypto"][2], os.path.join(f, "set.z03"))

        for damage in (shorten, foreign, foreign_last_data):
            with self.subTest(damage.__name__):
                r, out = self.bad_set(damage)
                self.assertNotEqual(r.returncode, 0, damage.__name__)
                self.assertIn(b"error 280", r.stderr)
                self.assert_no_partial_big_file(out)
                shutil.rmtree(self.path("bad"))
                shutil.rmtree(out, True)

    # --- the POSIX self-extractor ---
    def posix_sfx(self, kind, folder, unattended=True):
        os.makedirs(folder, exist_ok=True)
        exe = self.build(kind, os.path.join(folder, "setup"), ["--target-os", "posix"], unattended)
        place_set(self.sets[kind], folder, "setup", None)
        return exe

    def test_posix_self_extractor_with_volumes_beside_it(self):
        for kind in self.sets:
            with self.subTest(kind):
                folder = self.path("px-" + kind)
                exe = self.posix_sfx(kind, folder)
                if kind == "zipcrypto":
                    continue  # needs the password typed: see the terminal test below
                r = kvtest.run([exe], stdin=subprocess.DEVNULL)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assert_tree(self.target_for(exe))

    def test_directory_over_several_volumes_behind_the_program(self):
        """A directory that starts volumes before the last: its part on the
        self-extractor's last volume lies behind the program."""
        files = {"name_long_enough_to_fill_the_directory_%04d.txt" % i: b"x" * (i % 97) for i in range(1500)}
        src = self.path("many")
        write_tree(src, files)
        volumes = zip_split(src, self.path("manyset", "set.zip"))
        with open(volumes[-1], "rb") as f:
            data = f.read()
        end = data.rfind(b"PK\x05\x06")
        this_disk, directory_disk = struct.unpack_from("<HH", data, end + 4)
        self.assertLess(directory_disk, this_disk)  # the case under test
        folder = self.path("manysfx")
        os.makedirs(folder)
        exe = os.path.join(folder, "setup")
        r = run_tool("build", "--archive", volumes[-1], "-o", exe, "--lang", "en", "--target",
                     self.target_for(exe), "--target-os", "posix", "--unattended")
        built(self, r)
        os.chmod(exe, 0o755)
        place_set(volumes, folder, "setup", None)
        r = kvtest.run([exe], stdin=subprocess.DEVNULL)
        self.assertEqual(r.returncode, 0, r.stderr[-2000:])
        self.assertEqual(tree(self.target_for(exe)), files)
        r = self.extract(exe, self.path("manyout"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(tree(self.path("manyout")), files)

    def test_posix_prompt_takes_another_folder_and_cancel_ends_with_9(self):
        folder = self.path("pty")
        exe = self.posix_sfx("zipcrypto", folder)
        elsewhere = self.path("elsewhere")
        os.makedirs(elsewhere)
        os.rename(os.path.join(folder, "setup.z02"), os.path.join(elsewhere, "setup.z02"))
        def at_volume_question(s):
            s.expect("Please insert disk 2")
            s.expect("> ")
            return s

        def started():
            s = Session([exe], folder)
            s.expect("Password: ")
            s.send(PASSWORD + "\n")
            return at_volume_question(s)

        s = started()
        # The same wrong folder again and again: the question comes back.
        for _ in range(3):
            s.send(self.path("nowhere") + "\n")
            at_volume_question(s)
        s.send(elsewhere + "\n")
        self.assertEqual(s.wait(), 0, s.text())
        self.assert_tree(self.target_for(exe))

        shutil.rmtree(self.target_for(exe))
        s = started()
        s.send("\x04")  # end of input: the cancel of a terminal question
        self.assertEqual(s.wait(), 9, s.text())
        self.assert_no_partial_big_file(self.target_for(exe))

        # Ctrl+C at the question: the same cancel.
        s = started()
        s.send("\x03")
        self.assertEqual(s.wait(), 9, s.text())
        self.assert_no_partial_big_file(self.target_for(exe))

    def test_posix_missing_volume_without_terminal_is_a_cancel(self):
        folder = self.path("noterm")
        exe = self.posix_sfx("deflate", folder)
        os.remove(os.path.join(folder, "setup.z03"))
        r = kvtest.run([exe], stdin=subprocess.DEVNULL, timeout=60, start_new_session=True)
        self.assertEqual(r.returncode, 9, r.stderr)
        self.assert_no_partial_big_file(self.target_for(exe))

    def first_volume_sfx(self, kind, folder, build_options, exe_name):
        """setup.exe = the program and its block, then the first volume; the
        last volume beside it as setup.zip, no setup.z01."""
        os.makedirs(folder, exist_ok=True)
        probe = os.path.join(folder, "probe")
        r = run_tool("build", "--archive", self.sets[kind][-1], "-o", probe, "--lang", "en", "--unattended",
                     *build_options)
        built(self, r)
        head = read(probe)[:-len(read(self.sets[kind][-1]))]
        os.remove(probe)
        exe = write(os.path.join(folder, exe_name), head + read(self.sets[kind][0]), executable=True)
        place_set(self.sets[kind], folder, "setup", "setup.zip")
        os.remove(os.path.join(folder, "setup.z01"))
        return exe

    def test_posix_self_extractor_carrying_the_first_volume(self):
        folder = self.path("first")
        exe = self.first_volume_sfx("deflate", folder, ["--target-os", "posix", "--target", self.path("first", "out")],
                                    "setup.exe")
        r = kvtest.run([exe], stdin=subprocess.DEVNULL, cwd=folder)
        self.assertEqual(r.returncode, 0, r.stderr[-2000:])
        self.assert_tree(self.path("first", "out"))
        # The tool opens the same set by its last volume.
        r = self.extract(os.path.join(folder, "setup.zip"), self.path("first-tool"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assert_tree(self.path("first-tool"))

    def test_wine_self_extractor_carrying_the_first_volume(self):
        need(kvtest.WINE, "wine is not installed")
        need(os.path.isfile(kvtest.WINDOWS_STUB), "kvsfx-stub.exe not in KV_WIN_BIN")
        folder = self.path("wfirst")
        exe = self.first_volume_sfx("stored", folder, ["--stub", kvtest.WINDOWS_STUB, "--target",
                                                       "Z:" + self.path("wfirst", "out").replace("/", "\\")],
                                    "setup.exe")
        r = kvtest.run_wine(exe, timeout=180)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assert_tree(self.path("wfirst", "out"))

    # --- the Windows self-extractor under Wine ---
    def wine_sfx(self, kind, folder):
        need(kvtest.WINE, "wine is not installed")
        need(os.path.isfile(kvtest.WINDOWS_STUB), "kvsfx-stub.exe not in KV_WIN_BIN")
        os.makedirs(folder, exist_ok=True)
        exe = os.path.join(folder, "setup.exe")
        r = run_tool("build", "--archive", self.sets[kind][-1], "-o", exe, "--stub", kvtest.WINDOWS_STUB, "--lang",
                     "en", "--unattended", "--target", "Z:" + self.target_for(exe).replace("/", "\\"))
        built(self, r)
        place_set(self.sets[kind], folder, "setup", None)
        return exe

    def test_wine_self_extractor_with_volumes_beside_it(self):
        for kind in ("deflate", "stored", "zip64"):
            with self.subTest(kind):
                exe = self.wine_sfx(kind, self.path("w-" + kind))
                r = kvtest.run_wine(exe, timeout=180)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assert_tree(self.target_for(exe))

    def test_wine_missing_volume_without_a_window_ends(self):
        # Without a display the prompt cannot show its dialog: whether it then
        # refuses or hands back the folder it offered, the run must end (a
        # cancel, or a missing volume after the prompt limit), not ask forever.
        exe = self.wine_sfx("deflate", self.path("w-missing"))
        os.remove(os.path.join(self.path("w-missing"), "setup.z02"))
        r = kvtest.run_wine(exe, timeout=180)
        self.assertIn(r.returncode, (9, 8))  # 28001 or 28149
        self.assert_no_partial_big_file(self.target_for(exe))


if __name__ == "__main__":
    unittest.main()
