"""kvsfx for scripts and people: refusals with one line that names the file
and nothing written, --json read back and compared with Python's zipfile,
and the progress line's redraw rate on a terminal."""

import hashlib
import json
import os
import subprocess
import sys
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kvtest  # noqa: E402
from kvtest import TempDirTest, write  # noqa: E402


class ToolCli(TempDirTest):
    def setUp(self):
        super().setUp()
        kvtest.need(os.path.exists(kvtest.TOOL), "kvsfx not built")

    def python_zip(self, name, entries):
        """entries: (name, data, method); names ending in / are folders."""
        path = self.path(name)
        with zipfile.ZipFile(path, "w") as z:
            for entry_name, data, method in entries:
                info = zipfile.ZipInfo(entry_name, (2021, 6, 30, 23, 59, 58))
                info.compress_type = method
                z.writestr(info, data)
        return path

    def test_refusals_name_the_file_and_write_nothing(self):
        archive = self.python_zip("a.zip", [("a.txt", b"a", zipfile.ZIP_STORED)])
        junk = write(self.path("junk.zip"), b"no archive at all" * 10)
        a_file = write(self.path("file"), b"x")
        long_name = self.python_zip("long.zip", [("d" * 200 + "/" + "n" * 50, b"x", zipfile.ZIP_STORED)])
        os.mkdir(self.path("folder"))
        out = self.path("out")
        cases = [
            ("missing archive", ["extract", self.path("none.zip"), "-d", out], 5,
             "cannot open '%s': No such file or directory" % self.path("none.zip")),
            ("folder as archive", ["list", self.path("folder")], 5, "'%s': it is a folder" % self.path("folder")),
            ("not an archive", ["extract", junk, "-d", out], 3, "error 28082: '%s' is not a ZIP archive" % junk),
            ("-d is a file", ["extract", archive, "-d", a_file], 5, "'%s' as the target folder: it is a file" % a_file),
            ("-d under a file", ["extract", archive, "-d", a_file + "/sub"], 5, "'%s' is a file" % a_file),
            ("unknown verb", ["frobnicate"], 2, "unknown verb 'frobnicate'"),
            ("unknown option", ["test", archive, "--colour"], 2, "unknown option '--colour'"),
            ("misspelt option", ["test", archive, "--jsno"], 2, "did you mean --json?"),
            ("missing value", ["extract", archive, "-d"], 2, "option -d needs a value"),
            ("missing archive argument", ["list"], 2, "missing ARCHIVE"),
            ("no target folder", ["extract", archive], 2, "-d DIR"),
            ("info of a missing file", ["info", self.path("none.exe")], 1, "cannot open"),
            ("path too long", ["extract", long_name, "-d", out], 5, "'%s' in '%s' under the target folder is too long"
             % ("d" * 200 + "/" + "n" * 50, long_name)),
        ]
        before = sorted(os.listdir(self.dir))
        for what, args, code, needle in cases:
            with self.subTest(what):
                r = kvtest.run_tool(*args)
                err = r.stderr.decode()
                self.assertEqual(code, r.returncode, err)
                self.assertIn(needle, err)
                self.assertEqual(1, err.count("\n"), err)
                self.assertEqual(b"", r.stdout)
                self.assertEqual(before, sorted(os.listdir(self.dir)))
        # Every documented status is in the help of the verb that gives it.
        for verb, code in (("extract", 3), ("extract", 5), ("list", 2), ("info", 1)):
            self.assertIn(b"\n  %d  " % code, kvtest.run_tool("help", verb).stdout, verb)

    def test_json_matches_python_zipfile(self):
        entries = [("plain.txt", b"hello\n" * 100, zipfile.ZIP_STORED), ("deflated.bin", bytes(range(256)) * 64,
                                                                          zipfile.ZIP_DEFLATED),
                   ("folder/", b"", zipfile.ZIP_STORED), ("folder/Grüße and more.txt", b"x", zipfile.ZIP_DEFLATED)]
        archive = self.python_zip("j.zip", entries)
        sfx = self.path("j.sfx")
        built = kvtest.run_tool("build", "--archive", archive, "-o", sfx, "--target-os", "posix", "--run", "a|b c",
                                "--no-check-run", "--message", "Tab\there")
        self.assertEqual(0, built.returncode, built.stderr)
        for path in (archive, sfx):
            r = kvtest.run_tool("list", "--json", path)
            self.assertEqual(0, r.returncode, r.stderr)
            listing = json.loads(r.stdout)
            with zipfile.ZipFile(path) as z:
                infos = z.infolist()
            want = [{"name": i.filename, "size": i.file_size, "compressed_size": i.compress_size,
                     "method": i.compress_type, "crc32": i.CRC, "encryption": "none",
                     "time": "%04d-%02d-%02dT%02d:%02d:%02d" % i.date_time, "directory": i.is_dir()} for i in infos]
            got = [{k: e[k] for k in want[0]} for e in listing["entries"]]
            self.assertEqual(want, got)
            self.assertEqual(len(infos), listing["summary"]["entries"])

            r = kvtest.run_tool("test", path, "--json")
            self.assertEqual(0, r.returncode, r.stderr)
            tested = json.loads(r.stdout)
            self.assertEqual([(i.filename, "ok") for i in infos], [(e["name"], e["result"]) for e in tested["entries"]])
            self.assertEqual((len(infos), 0, 0), (tested["summary"]["ok"], tested["summary"]["failed"],
                                                  tested["exit_status"]))

        r = kvtest.run_tool("info", "--json", sfx)
        self.assertEqual(0, r.returncode, r.stderr)
        info = json.loads(r.stdout)
        self.assertEqual(("a|b c", "Tab\there", "b c"), (info["settings"]["run_command"],
                                                         info["settings"]["premessage_text"],
                                                         info["at_startup"]["run_parameters"]))
        self.assertEqual(kvtest.run_tool("--version").stdout.split()[1].decode(), info["stub_version"])

        # A failure is a document too, with the exit status it ends with.
        data = bytearray(kvtest.read(archive))
        data[data.index(b"hello\n") + 7] ^= 1
        r = kvtest.run_tool("test", write(self.path("bad.zip"), bytes(data)), "--json")
        tested = json.loads(r.stdout)
        self.assertEqual((4, 4, 28063, "plain.txt"), (r.returncode, tested["exit_status"], tested["error"],
                                                     tested["entries"][0]["name"]))
        self.assertEqual("error", tested["entries"][0]["result"])

    def test_every_json_document_has_the_schema_also_on_failure(self):
        archive = self.python_zip("ok.zip", [("a.txt", b"a", zipfile.ZIP_STORED)])
        junk = write(self.path("junk.zip"), b"no archive at all" * 10)
        os.mkdir(self.path("folder"))
        missing = self.path("none.zip")
        cases = [  # arguments, exit status, engine error (None: refused before the engine)
            (["list", missing], 5, 28002), (["test", missing], 5, 28002), (["info", missing], 1, None),
            (["list", self.path("folder")], 5, 28002), (["list", junk], 3, 28082), (["test", junk], 3, 28082),
            (["info", junk], 1, None), (["info", archive], 1, None),
            (["test", archive, "--password-file", missing], 2, None), (["list", archive, "--colour"], 2, None),
            (["build", "--archive", junk, "-o", self.path("out.sfx"), "--target-os", "posix"], 1, None),
        ]
        for args, status, error in cases:
            with self.subTest(args):
                r = kvtest.run_tool(args[0], "--json", *args[1:])
                doc = json.loads(r.stdout)
                self.assertEqual((status, 1, "error", status, error),
                                 (r.returncode, doc["schema"], doc["result"], doc["exit_status"], doc["error"]))
                self.assertTrue(doc["message"])
                if args[0] != "info":  # the same words as the line on standard error
                    self.assertIn(doc["message"], r.stderr.decode())
        # A build reports what it wrote: the file's size and digest, where the
        # parts lie, the entries and the settings.
        sfx = self.path("out.sfx")
        r = kvtest.run_tool("build", "--json", "--archive", archive, "-o", sfx, "--target-os", "posix", "--wait",
                            "--message", "Gr\u00fc\u00dfe")
        doc = json.loads(r.stdout)
        data = kvtest.read(sfx)
        self.assertEqual((0, len(data), hashlib.sha256(data).hexdigest(), 1, "Gr\u00fc\u00dfe", 1),
                         (r.returncode, doc["size"], doc["sha256"], doc["entries"], doc["settings"]["premessage_text"],
                          doc["settings"]["reserved_c"]))
        self.assertEqual(kvtest.read(archive), data[doc["archive_offset"]:])
        self.assertEqual(b"KV5SFX", data[doc["block_offset"]:doc["block_offset"] + 6])
        # Keys are snake_case everywhere, and success says so too.
        for args in (["list", archive], ["test", archive], ["info", sfx]):
            doc = json.loads(kvtest.run_tool(args[0], "--json", *args[1:]).stdout)
            self.assertEqual((1, "ok"), (doc["schema"], doc["result"]))

            def keys(node):
                if isinstance(node, dict):
                    for k, v in node.items():
                        yield k
                        yield from keys(v)
                elif isinstance(node, list):
                    for v in node:
                        yield from keys(v)
            self.assertEqual([], [k for k in keys(doc) if k != k.lower()])

    def test_progress_redraws_at_most_ten_times_a_second(self):
        # Zeros deflate to almost nothing and take a while to write back.
        big = self.path("big.zip")
        with zipfile.ZipFile(big, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
            with z.open("zeros.bin", "w", force_zip64=True) as f:
                block = bytes(1 << 20)
                for _ in range(256):
                    f.write(block)
        status, transcript, seconds = kvtest.on_terminal(["test", big])
        self.assertEqual(0, status, transcript[-500:])
        draws = transcript.count(b"\r\x1b[K")
        self.assertGreaterEqual(draws, 2, transcript)
        self.assertLessEqual(draws, 10 * seconds + 3, (draws, seconds))
        self.assertIn(b"256.0 MiB of 256.0 MiB", transcript)
        # Not a terminal: no progress at all.
        r = kvtest.run_tool("test", big)
        self.assertEqual(0, r.returncode)
        self.assertEqual(b"", r.stderr)

    def test_windows_tool_under_wine(self):
        tool = os.path.join(kvtest.KV_WIN_BIN, "kvsfx.exe")
        kvtest.need(kvtest.WINE and os.path.exists(tool) and os.path.exists(kvtest.WINDOWS_STUB),
                    "Wine, kvsfx.exe or the Windows stub missing")
        files = {"hello.txt": b"from the Windows tool\n", "sub/data.bin": bytes(range(256)) * 40}
        archive = kvtest.make_zip(self.dir, files)

        def wine(*args):
            win = ["Z:" + a.replace("/", "\\") if a.startswith("/") else a for a in args]
            return kvtest.run([kvtest.WINE, tool] + win, env=kvtest.wine_env(), timeout=300)

        # No stub named: kvsfx.exe takes kvsfx-stub.exe from beside itself.
        sfx, target = self.path("setup.exe"), self.path("target")
        r = wine("build", "--archive", archive, "-o", sfx, "--unattended", "--target", "Z:" + target.replace("/", "\\"))
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertEqual(0, kvtest.run_wine(sfx).returncode)
        out = self.path("out")
        r = wine("extract", sfx, "-d", out, "--quiet")
        self.assertEqual(0, r.returncode, r.stderr)
        for name, data in files.items():
            self.assertEqual(data, kvtest.read(os.path.join(target, name)), name)
            self.assertEqual(data, kvtest.read(os.path.join(out, name)), name)
        r = wine("list", "--json", sfx)
        self.assertEqual(sorted(files), sorted(e["name"] for e in json.loads(r.stdout)["entries"]))
        r = wine("extract", self.path("none.zip"), "-d", self.path("no"))
        self.assertEqual(5, r.returncode)
        self.assertIn(b"No such file or directory", r.stderr)
        self.assertFalse(os.path.exists(self.path("no")))


if __name__ == "__main__":
    unittest.main()
