"""What is already on disk stays safe: links in the target are never followed,
a file is replaced only by a complete new one (whatever makes an entry fail),
entries that share their data are refused before anything is written, and
names Windows keeps for devices extract as ordinary files."""
import ctypes
import os
import pty
import pwd
import select
import shutil
import signal
import stat
import struct
import subprocess
import sys
import time
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kvtest  # noqa: E402
from test_engine_extract import (KVSFX, EngineCase, build_zip, kvsfx, read, run, stored,  # noqa: E402
                                 wine_available, wine_path)

OLD = b"the old file, kept byte for byte\n"
# Swaps two names for ever (argv[1], argv[2]), as fast as it can.
SWAP_LOOP = """
import ctypes, sys
libc = ctypes.CDLL(None, use_errno=True)
a, b = sys.argv[1].encode(), sys.argv[2].encode()
while True:
    libc.renameat2(-100, a, -100, b, 2)
"""


def with_method(data, name, method):
    """The archive with the named entry's method changed in both its headers."""
    out = bytearray(data)
    for signature, name_at, method_at in ((b"PK\x03\x04", 30, 8), (b"PK\x01\x02", 46, 10)):
        at = out.index(signature)
        while out[at + name_at:at + name_at + len(name)] != name:
            at = out.index(signature, at + 1)
        struct.pack_into("<H", out, at + method_at, method)
    return bytes(out)


def temp_leftovers(folder):
    return [n for n in os.listdir(folder) if n.endswith(".~kv")]


class LinkTest(EngineCase):
    """A link below the target folder fails its entry with 28002 and a line
    naming the path; nothing is written where it points."""

    # (case, entries, link name in the target, where it points (below "elsewhere"), what's there first)
    CASES = [
        ("folder link", [stored("sub/evil", b"payload")], "sub", "", None),
        ("directory entry", [stored("sub/", b""), stored("sub/inner/", b"")], "sub", "", None),
        ("dangling file link", [stored("f.txt", b"payload")], "f.txt", "x", None),
        ("link to a victim", [stored("v.txt", b"payload")], "v.txt", "victim", OLD),
    ]

    def prepare(self, tag, entries, link, points_to, existing):
        elsewhere = self.path("elsewhere-" + tag)
        os.makedirs(elsewhere)
        victim = os.path.join(elsewhere, points_to) if points_to else elsewhere
        if existing is not None:
            with open(victim, "wb") as f:
                f.write(existing)
            os.chmod(victim, 0o640)
        target = self.path("target-" + tag)
        os.makedirs(target)
        os.symlink(victim, os.path.join(target, link))
        archive = self.write(tag + ".zip", build_zip(entries + [stored("after.txt", b"after")]))
        return archive, target, elsewhere

    def assert_untouched(self, elsewhere, existing, points_to, what):
        names = os.listdir(elsewhere)
        if existing is None:
            self.assertEqual([], names, what)
        else:
            victim = os.path.join(elsewhere, points_to)
            self.assertEqual([points_to], names, what)
            self.assertEqual(existing, read(victim), what)
            self.assertEqual(0o640, stat.S_IMODE(os.stat(victim).st_mode), what)

    def test_links_are_not_followed(self):
        for i, (case, entries, link, points_to, existing) in enumerate(self.CASES):
            with self.subTest(case):
                # The tool, asked to replace everything.
                archive, target, elsewhere = self.prepare("t%d" % i, entries, link, points_to, existing)
                r = kvsfx("extract", archive, "-d", target, "--overwrite")
                self.assert_error(r, 28002, 5)
                self.assertIn(os.path.join(target, link), r.stderr.decode())
                self.assert_untouched(elsewhere, existing, points_to, case)
                self.assertTrue(os.path.islink(os.path.join(target, link)), case)

                # The unattended POSIX stub replaces without asking, and says why it failed.
                archive, target, elsewhere = self.prepare("s%d" % i, entries, link, points_to, existing)
                sfx = self.build_sfx(archive, self.path("s%d.sfx" % i), target)
                r = self.run_sfx(sfx)
                self.assertEqual(5, r.returncode, r.stderr.decode())
                self.assertIn(os.path.join(target, link), r.stderr.decode())
                self.assert_untouched(elsewhere, existing, points_to, case)

    def test_links_under_wine(self):
        if not wine_available():
            self.skipTest("Windows stub or Wine missing")
        for i, (case, entries, link, points_to, existing) in enumerate(self.CASES):
            with self.subTest(case):
                archive, target, elsewhere = self.prepare("w%d" % i, entries, link, points_to, existing)
                sfx = self.build_sfx(archive, self.path("w%d.exe" % i), wine_path(target), "windows")
                r = self.run_sfx(sfx, wine=True)
                # Wine shows a Unix link to a folder as a reparse point but one
                # to a file as a plain file (a dangling one as nothing): the move
                # then replaces the link itself, still writing nothing through it.
                self.assertIn(r.returncode, (5,) if points_to == "" else (0, 5), r.stderr.decode(errors="replace"))
                self.assert_untouched(elsewhere, existing, points_to, case)

    def test_target_folder_itself_may_be_a_link(self):
        real = self.path("real")
        os.makedirs(real)
        os.symlink(real, self.path("chosen"))
        archive = self.write("ok.zip", build_zip([stored("d/f.txt", b"fine")]))
        r = kvsfx("extract", archive, "-d", self.path("chosen"))
        self.assertEqual(0, r.returncode, r.stderr.decode())
        self.assertEqual(b"fine", read(os.path.join(real, "d", "f.txt")))

    def test_folder_swapped_for_a_link_meanwhile(self):
        """A loop swaps a folder of the target with a link to a 0700 folder
        outside (RENAME_EXCHANGE) while extractions run: nothing is written
        there and its mode stays."""
        libc = ctypes.CDLL(None, use_errno=True)
        if not hasattr(libc, "renameat2"):
            self.skipTest("no renameat2")
        outside = self.path("outside")
        os.makedirs(outside)
        os.chmod(outside, 0o700)
        target = self.path("target")
        os.makedirs(os.path.join(target, "sub"))
        os.symlink(outside, os.path.join(target, "swap"))
        entries = [stored("sub/", b"", host=3, attributes=0o40755 << 16)]
        entries += [stored("sub/f%03d" % i, b"x") for i in range(100)]
        archive = self.write("race.zip", build_zip(entries))
        swapper = subprocess.Popen([sys.executable, "-c", SWAP_LOOP, os.path.join(target, "sub"),
                                    os.path.join(target, "swap")])
        try:
            for _ in range(60):
                kvsfx("extract", archive, "-d", target, "--overwrite")
        finally:
            swapper.kill()
            swapper.wait()
        self.assertEqual([], os.listdir(outside))
        self.assertEqual(0o700, stat.S_IMODE(os.stat(outside).st_mode))

    def temp_stub(self, tag, temp, *options):
        archive = self.write(tag + ".zip", build_zip([stored("sub/", b""), stored("sub/settings.conf", b"new"),
                                                     stored("setup.sh", b"#!/bin/sh\nrm -rf sub\nln -s \"$1\" sub\n",
                                                            host=3, attributes=0o100755 << 16)]))
        sfx = self.path(tag + ".sfx")
        r = kvsfx("build", "--archive", archive, "-o", sfx, "--target-os", "posix", "--unattended", "--lang", "en",
                  *options)
        self.assertEqual(0, r.returncode, r.stderr.decode())
        return run([sfx], env=dict(os.environ, TMPDIR=temp))

    def victim(self, tag):
        victim = self.path("victim-" + tag)
        os.makedirs(victim)
        with open(os.path.join(victim, "settings.conf"), "wb") as f:
            f.write(OLD)
        return victim

    def test_temp_targets_made_by_others_are_refused(self):
        # (case, what is at %Temp%/setup first, exit code)
        cases = [("link", "link", 5), ("another user's folder", "nobody", 5), ("own folder", "own", 0),
                 ("fresh", None, 0), ("slash after the macro", None, 0)]
        for i, (case, there, code) in enumerate(cases):
            with self.subTest(case):
                if there == "nobody" and os.geteuid() != 0:
                    continue
                # '%Temp%/name' in the system's own /tmp gave "/tmp//name".
                slash = "slash" in case
                temp = "/tmp" if slash else self.path("tmp%d" % i)
                name = os.path.basename(self.dir) + "-setup" if slash else "setup"
                setup = os.path.join(temp, name)
                os.makedirs(temp, exist_ok=True)
                if slash:
                    self.addCleanup(shutil.rmtree, setup, True)
                victim = self.victim(str(i))
                if there == "link":
                    os.symlink(victim, setup)
                elif there:
                    os.makedirs(setup)
                    os.chmod(setup, 0o755)
                    if there == "nobody":
                        os.chown(setup, pwd.getpwnam("nobody").pw_uid, -1)
                target = "%Temp%/" + name if slash else "%Temp%\\" + name
                r = self.temp_stub("t%d" % i, temp, "--target", target)
                self.assertEqual(code, r.returncode, r.stderr.decode())
                self.assertEqual(OLD, read(os.path.join(victim, "settings.conf")))
                if code:  # 28002, naming the folder
                    self.assertIn(setup, r.stderr.decode())
                else:
                    self.assertEqual(b"new", read(os.path.join(setup, "sub", "settings.conf")))
                    # Made here: private; found: as it was.
                    self.assertEqual(0o755 if there else 0o700, stat.S_IMODE(os.stat(setup).st_mode))
        # The Windows stub alike: a link in Wine's temporary folder is refused.
        temps = kvtest.wine_temp_dir() if wine_available() else []
        if temps:
            name = os.path.basename(self.dir) + "-wine"
            setup = os.path.join(temps[0], name)
            victim = self.victim("w")
            os.symlink(victim, setup)
            self.addCleanup(os.remove, setup)
            archive = self.write("w.zip", build_zip([stored("settings.conf", b"new")]))
            r = self.run_sfx(self.build_sfx(archive, self.path("w.exe"), "%Temp%\\" + name, "windows"), wine=True)
            self.assertEqual(5, r.returncode, r.stderr.decode(errors="replace"))
            self.assertEqual(OLD, read(os.path.join(victim, "settings.conf")))

    def test_cleanup_follows_no_link(self):
        # The program swaps an extracted folder for a link to another folder.
        temp = self.path("tmp")
        os.makedirs(temp)
        victim = self.victim("c")
        r = self.temp_stub("c", temp, "--target", "%Temp%\\setup", "--run", "setup.sh|" + victim, "--wait",
                           "--cleanup")
        self.assertEqual(0, r.returncode, r.stderr.decode())
        self.assertEqual(OLD, read(os.path.join(victim, "settings.conf")))


class ReplaceOnlyOnSuccessTest(EngineCase):
    """An existing file stays byte for byte (and keeps its mode) whatever
    makes the entry that would replace it fail, and no temporary file stays."""

    def existing(self, folder, name="f.txt"):
        os.makedirs(folder, exist_ok=True)
        p = os.path.join(folder, name)
        with open(p, "wb") as f:
            f.write(OLD)
        os.chmod(p, 0o640)
        return p

    def assert_kept(self, folder, what, name="f.txt"):
        p = os.path.join(folder, name)
        self.assertEqual(OLD, read(p), what)
        self.assertEqual(0o640, stat.S_IMODE(os.stat(p).st_mode), what)
        self.assertEqual([], temp_leftovers(folder), what)

    def encrypted(self):
        src = self.path("src")
        os.makedirs(src, exist_ok=True)
        with open(os.path.join(src, "f.txt"), "wb") as f:
            f.write(b"secret new content\n" * 100)
        archive = self.path("enc.zip")
        if not os.path.exists(archive):
            subprocess.run(["zip", "-q", "-P", "right", archive, "f.txt"], cwd=src, check=True)
        return archive

    def test_failing_entries_keep_the_old_file(self):
        data = b"new content " * 500
        plain = build_zip([stored("f.txt", data)])
        cases = [
            # (kind, archive bytes or path, extra options, exit code)
            ("crc", build_zip([stored("f.txt", data, crc=zlib.crc32(data) ^ 1)]), [], 4),
            ("unsupported method", with_method(plain, b"f.txt", 12), [], 4),
            ("bad deflate data", with_method(build_zip([stored("f.txt", b"\xff" * 64)]), b"f.txt", 8), [], 4),
            ("wrong password", None, ["--password", "wrong"], None),
        ]
        for kind, blob, options, exit_code in cases:
            with self.subTest(kind):
                archive = self.encrypted() if blob is None else self.write(kind.replace(" ", "-") + ".zip", blob)
                out = self.path("out-" + kind.replace(" ", "-"))
                self.existing(out)
                r = kvsfx("extract", archive, "-d", out, "--overwrite", *options)
                if exit_code is None:
                    self.assertNotEqual(0, r.returncode, r.stderr.decode())
                else:
                    self.assertEqual(exit_code, r.returncode, r.stderr.decode())
                self.assertIn("'f.txt'", r.stderr.decode())
                self.assert_kept(out, kind)

    def test_disk_full_keeps_the_old_file(self):
        small = self.path("small")
        os.makedirs(small)
        if os.geteuid() != 0 or subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", small],
                                               stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("a small tmpfs can't be mounted here")
        try:
            self.existing(small)
            archive = self.write("big.zip", build_zip([stored("f.txt", os.urandom(6 << 20))]))
            r = kvsfx("extract", archive, "-d", small, "--overwrite")
            self.assert_error(r, 28004, 6)
            self.assert_kept(small, "disk full")
        finally:
            subprocess.run(["umount", small])

    def interrupted(self, program, sig):
        """Runs program (which asks for a password on the terminal) until it
        asks, then sends sig. Returns the exit status."""
        master, slave = pty.openpty()
        p = subprocess.Popen(program, stdin=slave, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        os.close(slave)
        try:
            seen, deadline = b"", time.time() + 120
            while b"assword" not in seen and time.time() < deadline:
                ready, _, _ = select.select([p.stderr], [], [], 1)
                if ready:
                    chunk = os.read(p.stderr.fileno(), 4096)
                    if not chunk:
                        break
                    seen += chunk
            self.assertIn(b"assword", seen)
            p.send_signal(sig)
            return p.wait(timeout=120)
        finally:
            if p.poll() is None:
                p.kill()
                p.wait()
            p.stderr.close()
            os.close(master)

    def test_signals_cancel_and_keep_the_old_file(self):
        archive = self.encrypted()
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(sig.name):
                out = self.path("out-" + sig.name)
                self.existing(out)
                self.assertEqual(9, self.interrupted([KVSFX, "extract", archive, "-d", out, "--overwrite"],
                                                     sig))
                self.assert_kept(out, sig.name)
        # The self-extractor's terminal front-end alike.
        target = self.path("out-stub")
        self.existing(target)
        sfx = self.build_sfx(archive, self.path("enc.sfx"), target)
        self.assertEqual(9, self.interrupted([sfx], signal.SIGTERM))
        self.assert_kept(target, "stub")
        # Killed outright: only a temporary file may stay, never a cut file.
        out = self.path("out-kill")
        self.existing(out)
        self.assertEqual(-9, self.interrupted([KVSFX, "extract", archive, "-d", out, "--overwrite"],
                                              signal.SIGKILL))
        self.assertEqual(OLD, read(os.path.join(out, "f.txt")))
        # The temporary file left is private: the data may be a secret.
        left = temp_leftovers(out)
        self.assertEqual(1, len(left))
        self.assertEqual(0o600, stat.S_IMODE(os.stat(os.path.join(out, left[0])).st_mode))

    def test_read_only_file_replaced_under_wine(self):
        if not wine_available():
            self.skipTest("Windows stub or Wine missing")
        archive = self.write("ro.zip", build_zip([stored("f.txt", b"new"), stored("g.txt", b"x", crc=1)]))
        target = self.path("out-wine")
        self.existing(target, "g.txt")
        ro = self.existing(target)
        os.chmod(ro, 0o444)  # read-only to Wine
        sfx = self.build_sfx(archive, self.path("ro.exe"), wine_path(target), "windows")
        r = self.run_sfx(sfx, wine=True)
        self.assertEqual(4, r.returncode, r.stderr.decode(errors="replace"))
        self.assertEqual(b"new", read(ro))
        self.assert_kept(target, "wine, CRC error", "g.txt")


class ModeTest(EngineCase):
    def test_packed_modes_less_the_umask_and_existing_folders_kept(self):
        def unix(mode):
            return {"host": 3, "attributes": mode << 16}
        archive = self.write("modes.zip", build_zip([
            stored("secret/", b"", **unix(0o40700)), stored("secret/key", b"k", **unix(0o100600)),
            stored("tool", b"#!/bin/sh\n", **unix(0o100750)), stored("doc", b"d", **unix(0o100664)),
            stored("plain", b"p"), stored("kept/", b"", **unix(0o40777)), stored("kept/f", b"f", **unix(0o100644))]))
        # The existing folder is read-only where the run can still write in it.
        kept = 0o555 if os.geteuid() == 0 else 0o750
        want = {"secret": 0o700, "secret/key": 0o600, "tool": 0o750, "doc": 0o644, "plain": 0o644, "kept": kept}
        old = os.umask(0o022)
        try:
            for how in ("--overwrite", "--skip-existing"):
                out = self.path("out" + how)
                os.makedirs(os.path.join(out, "kept"))
                os.chmod(os.path.join(out, "kept"), kept)
                r = kvsfx("extract", archive, "-d", out, how)
                self.assertEqual(0, r.returncode, r.stderr.decode())
                got = {name: stat.S_IMODE(os.stat(os.path.join(out, name)).st_mode) for name in want}
                self.assertEqual({k: oct(v) for k, v in want.items()}, {k: oct(v) for k, v in got.items()}, how)
        finally:
            os.umask(old)


class SharedDataTest(EngineCase):
    def test_overlapping_entries_are_refused_before_writing(self):
        # 60,000 directory entries, all pointing at one local entry of 1 MiB.
        data = bytes(1 << 20)
        crc = zlib.crc32(data)
        local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0x21, crc, len(data), len(data), 3, 0)
        local += b"big" + data
        central = bytearray()
        count = 60000
        for i in range(count):
            name = b"e%05d" % i
            central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 0, 0, 0x21, crc, len(data), len(data),
                                   len(name), 0, 0, 0, 0, 0, 0) + name
        end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, len(central), len(local), 0)
        # Too many for the 16-bit counts: a ZIP64 end record carries them.
        z64 = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, len(central), len(local))
        loc = struct.pack("<IIQI", 0x07064B50, 0, len(local) + len(central), 1)
        archive = self.write("bomb.zip", local + bytes(central) + z64 + loc + end)
        self.assert_error(kvsfx("test", archive, timeout=60), 28080, 4)
        out = self.path("out")
        self.assert_error(kvsfx("extract", archive, "-d", out, timeout=60), 28080, 4)
        self.assertFalse(os.path.exists(out))  # the directory is read before the folder is made


class DeviceNameTest(EngineCase):
    # (stored name, name it extracts as on Windows; elsewhere it keeps its name)
    NAMES = [("NUL", "_NUL"), ("AUX.txt", "_AUX.txt"), ("sub/nul.txt", "sub/_nul.txt"), ("CON", "_CON"),
             ("COM1", "_COM1"), ("LPT1.log", "_LPT1.log"), ("PRN", "_PRN"), ("CONIN$", "_CONIN$"),
             ("conout$.x.y", "_conout$.x.y"), ("con .txt", "_con .txt"), ("Console.txt", "Console.txt"),
             ("COM10", "COM10"), ("after.txt", "after.txt")]

    def check(self, target, windows):
        for name, rel in self.NAMES:
            self.assertEqual(name.encode(), read(os.path.join(target, rel if windows else name)), name)

    def test_device_names_extract_as_ordinary_files(self):
        archive = self.write("dev.zip", build_zip([stored(n, n.encode()) for n, _ in self.NAMES]))
        out = self.path("out")
        r = kvsfx("extract", archive, "-d", out)
        self.assertEqual(0, r.returncode, r.stderr.decode())
        self.check(out, False)
        if wine_available():
            target = self.path("out-wine")
            sfx = self.build_sfx(archive, self.path("dev.exe"), wine_path(target), "windows")
            r = self.run_sfx(sfx, wine=True)
            self.assertEqual(0, r.returncode, r.stderr.decode(errors="replace"))
            self.check(target, True)


if __name__ == "__main__":
    unittest.main()
