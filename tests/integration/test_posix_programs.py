"""A program packed on a Unix host stays runnable after extraction, so the
POSIX self-extractor can start it as its run-after command; data files and
symbolic links do not become programs."""

import os
import stat
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import kvtest  # noqa: E402

SCRIPT = b"#!/bin/sh\npwd > ran-in.txt\necho \"$@\" > ran-with.txt\n"


class ExecutableEntries(kvtest.TempDirTest):
    def setUp(self):
        super().setUp()
        kvtest.need(os.path.exists(kvtest.TOOL), "kvsfx is not built")
        kvtest.need(kvtest.ZIP, "Info-ZIP zip is not installed")
        src = self.path("src")
        os.makedirs(os.path.join(src, "bin"))
        kvtest.write(os.path.join(src, "bin", "setup.sh"), SCRIPT, executable=True)
        kvtest.write(os.path.join(src, "data.txt"), b"plain data\n")
        os.chmod(os.path.join(src, "data.txt"), 0o644)
        os.symlink("bin/setup.sh", os.path.join(src, "link.sh"))
        self.archive = self.path("payload.zip")
        # -y: the link is stored as a link (mode 0120777), not as its target.
        subprocess.run([kvtest.ZIP, "-q", "-r", "-X", "-y", self.archive, "bin", "data.txt", "link.sh"], cwd=src,
                       check=True)

    def test_extract_keeps_execute_permission_only_where_it_was(self):
        out = self.path("out")
        r = kvtest.run_tool("extract", self.archive, "-d", out, "--quiet")
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertTrue(os.stat(os.path.join(out, "bin", "setup.sh")).st_mode & stat.S_IXUSR)
        self.assertFalse(os.stat(os.path.join(out, "data.txt")).st_mode & 0o111)
        # A link comes out as a file holding its target: no program either.
        link = os.path.join(out, "link.sh")
        self.assertEqual(b"bin/setup.sh", kvtest.read(link))
        self.assertFalse(os.lstat(link).st_mode & 0o111)

    def test_unattended_self_extractor_starts_the_extracted_program(self):
        kvtest.need(os.path.exists(kvtest.POSIX_STUB), "the POSIX stub is not built")
        sfx, target = self.path("setup"), self.path("target")
        r = kvtest.run_tool("build", "--archive", self.archive, "-o", sfx, "--target-os", "posix", "--lang", "en",
                            "--unattended", "--target", target, "--run", "bin/setup.sh|--quiet")
        self.assertEqual(0, r.returncode, r.stderr)
        os.chmod(sfx, 0o755)
        r = kvtest.run([sfx], timeout=60, stdin=subprocess.DEVNULL)
        self.assertEqual(0, r.returncode, r.stderr)
        # The program runs detached; give it a moment to write its notes.
        marker = os.path.join(target, "ran-with.txt")
        for _ in range(100):
            if os.path.exists(marker) and os.path.getsize(marker) > 0:
                break
            subprocess.run(["sleep", "0.1"])
        self.assertEqual(b"--quiet\n", kvtest.read(marker))
        self.assertEqual(os.path.realpath(target), kvtest.read(os.path.join(target, "ran-in.txt")).decode().strip())


if __name__ == "__main__":
    unittest.main()
