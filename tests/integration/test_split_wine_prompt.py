"""The Windows self-extractor's next-volume dialog under Wine on Xvfb, driven
by xdotool: a folder typed into the dialog completes the extraction of a
split set (after a wrong folder, which brings the dialog back), and Cancel
ends the run with exit code 9 and no partial file."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kvtest  # noqa: E402
import wine_ui  # noqa: E402
from test_split_sets import place_set, source_files, tree, write_tree, zip_split  # noqa: E402

BIN = os.environ.get("KV_BIN", "")
TOOL = os.path.join(BIN, "kvsfx")
STUB = kvtest.WINDOWS_STUB
TITLE = "Insert new disk"


def skip_reason():
    missing = wine_ui.missing_tools()
    if missing:
        return "not installed: " + ", ".join(missing)
    if not (os.path.isfile(TOOL) and os.path.isfile(STUB)):
        return "kvsfx and kvsfx-stub.exe are not both available"
    if not kvtest.ZIP:
        return "Info-ZIP zip is not installed"
    return None


@unittest.skipIf(skip_reason(), skip_reason() or "")
class WineVolumePrompt(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = wine_ui.Session("kv-split-wine-")
        cls.display, cls.wine = cls.session.display, cls.session.wine
        cls.files = source_files()
        cls.shared = tempfile.mkdtemp(prefix="kv-split-set-")
        write_tree(os.path.join(cls.shared, "src"), cls.files)
        cls.volumes = zip_split(os.path.join(cls.shared, "src"), os.path.join(cls.shared, "set", "set.zip"))

    @classmethod
    def tearDownClass(cls):
        cls.session.close()
        shutil.rmtree(cls.shared, ignore_errors=True)

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="kv-split-ui-")
        self.proc = None
        exe = os.path.join(self.dir, "setup.exe")
        r = subprocess.run([TOOL, "build", "--archive", self.volumes[-1], "-o", exe, "--stub", STUB, "--lang", "en",
                            "--unattended", "--target", self.wine.unix_to_windows(self.out())],
                           capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        place_set(self.volumes, self.dir, "setup", None)
        # The second volume is elsewhere.
        self.elsewhere = os.path.join(self.dir, "elsewhere")
        os.makedirs(self.elsewhere)
        os.rename(os.path.join(self.dir, "setup.z02"), os.path.join(self.elsewhere, "setup.z02"))
        self.exe = exe

    def tearDown(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)

    def out(self):
        return os.path.join(self.dir, "out")

    def answer(self, folder):
        window = self.wine.wait_window(TITLE, proc=self.proc)
        self.wine.type(window, self.wine.unix_to_windows(folder))  # the field's text is selected
        self.wine.press(window, "Return", self.proc)
        self.wine.wait_gone(window)

    def test_typed_folder_completes_and_cancel_ends_with_9(self):
        self.proc = self.wine.start(self.exe, cwd=self.dir)
        self.answer(os.path.join(self.dir, "nowhere"))  # asked again
        self.answer(self.elsewhere)
        self.assertEqual(wine_ui.wait_exit(self.proc, 120), 0)
        self.assertEqual(tree(self.out()), self.files)

        shutil.rmtree(self.out())
        self.proc = self.wine.start(self.exe, cwd=self.dir)
        window = self.wine.wait_window(TITLE, proc=self.proc)
        self.wine.press(window, "Escape", self.proc)
        self.assertEqual(wine_ui.wait_exit(self.proc, 60), 9)
        left = tree(self.out()) if os.path.isdir(self.out()) else {}
        self.assertNotIn("big.bin", left)  # the entry that needed the volume left nothing behind
        for name, data in left.items():
            self.assertEqual(data, self.files[name])


if __name__ == "__main__":
    unittest.main()
