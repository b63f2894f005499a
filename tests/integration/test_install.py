"""Installation: `cmake --install` into a temporary prefix and the CPack .deb
installed with dpkg; each installed tool finds its stubs in share/kvsfx and
builds a self-extractor that runs."""

import os
import re
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kvtest  # noqa: E402
from kvtest import TempDirTest  # noqa: E402

BUILD_DIR = os.environ.get("KV_BUILD_DIR", "")


class Installed(TempDirTest):
    def setUp(self):
        super().setUp()
        kvtest.need(BUILD_DIR and os.path.exists(os.path.join(BUILD_DIR, "cmake_install.cmake")),
                    "no build folder to install from (KV_BUILD_DIR)")
        kvtest.need(os.path.exists(kvtest.POSIX_STUB), "POSIX stub not built")

    def use(self, tool):
        """Builds an unattended POSIX self-extractor with the installed tool
        (no stub named: it must find its own) and runs it."""
        archive = kvtest.make_zip(self.dir, {"hello.txt": b"installed\n"})
        sfx, target = self.path("setup.sfx"), self.path("target")
        r = kvtest.run([tool, "build", "--archive", archive, "-o", sfx, "--target-os", "posix", "--unattended",
                        "--target", target, "--lang", "en"])
        if r.returncode != 0 and b"too large" in r.stderr:
            self.skipTest("stub too large for a self-extractor (sanitizer build)")
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertEqual(0, kvtest.run([sfx]).returncode)
        self.assertEqual(b"installed\n", kvtest.read(os.path.join(target, "hello.txt")))
        version = kvtest.run([tool, "--version"]).stdout.split()[1]
        self.assertIn(b"stub version       " + version, kvtest.run([tool, "info", sfx]).stdout)

    def test_install_into_a_prefix(self):
        prefix = self.path("prefix")
        r = kvtest.run(["cmake", "--install", BUILD_DIR, "--prefix", prefix], timeout=300)
        self.assertEqual(0, r.returncode, r.stderr)
        for name in ("bin/kvsfx", "share/kvsfx/kvsfx-stub", "share/doc/kvsfx/LICENSE", "share/man/man1/kvsfx.1"):
            self.assertTrue(os.path.exists(os.path.join(prefix, name)), name)
        # The manual page lists every option the help of every verb lists.
        page = kvtest.read(os.path.join(prefix, "share/man/man1/kvsfx.1")).decode()
        for verb in ("build", "info", "extract", "test", "list"):
            helped = re.findall(r"^\s+(?:-\w, )?--([a-z0-9-]+)", kvtest.run_tool("help", verb).stdout.decode(), re.M)
            self.assertTrue(helped, verb)
            for option in helped:
                self.assertIn("\\fB\\-\\-%s\\fR" % option.replace("-", "\\-"), page, option)
        self.use(os.path.join(prefix, "bin", "kvsfx"))

    def test_debian_package_installs_and_works(self):
        kvtest.need(os.geteuid() == 0 and shutil.which("dpkg") and shutil.which("dpkg-shlibdeps"),
                    "needs root, dpkg and dpkg-shlibdeps")
        kvtest.need(kvtest.run(["dpkg", "-s", "kvsfx"]).returncode != 0, "a kvsfx package is already installed")
        with open(os.path.join(BUILD_DIR, "CMakeCache.txt"), encoding="utf-8", errors="replace") as f:
            kvtest.need("KV_SANITIZE:BOOL=ON" not in f.read(), "an instrumented build is no package")
        r = kvtest.run(["cpack", "-G", "DEB", "--config", os.path.join(BUILD_DIR, "CPackConfig.cmake"), "-B",
                        self.dir], timeout=600)
        self.assertEqual(0, r.returncode, r.stdout + r.stderr)
        debs = [f for f in os.listdir(self.dir) if f.endswith(".deb")]
        self.assertEqual(1, len(debs), debs)
        # Another dpkg run may hold the lock for a moment.
        for _ in range(30):
            r = kvtest.run(["dpkg", "-i", os.path.join(self.dir, debs[0])], timeout=300)
            if r.returncode == 0 or b"lock" not in r.stderr:
                break
            time.sleep(2)
        self.addCleanup(kvtest.run, ["dpkg", "-r", "kvsfx"], timeout=300)
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertTrue(os.path.exists("/usr/share/man/man1/kvsfx.1"))
        self.use("/usr/bin/kvsfx")


if __name__ == "__main__":
    unittest.main()
