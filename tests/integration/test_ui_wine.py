"""The Windows dialogs under Wine on Xvfb, driven by xdotool: the main
dialog's flows, the end message and exit code, the overwrite, password and
start-up questions, run-after in both variants, the folder macros, a
self-extractor in a folder the code page can't spell, and whether every
shipped text fits its control."""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kvtest  # noqa: E402
import wine_ui  # noqa: E402

BIN = os.environ.get("KV_BIN", "")
TOOL = os.path.join(BIN, "kvsfx")
STUB = os.path.join(BIN, "kvsfx-stub.exe")

MAIN_SIZE = (236, 98)  # dialog units of the main dialog's template
CANCEL_BUTTON = (204, 31)

# The test program for run-after: writes its folder, its command line and the
# current folder into record.txt beside itself (found by its wide name, so
# that any folder will do).
RECORDER_C = r"""
#include <windows.h>
#include <stdio.h>
#include <wchar.h>
int main(int argc, char **argv) {
  wchar_t out[MAX_PATH];
  char cwd[MAX_PATH];
  GetModuleFileNameW(NULL, out, MAX_PATH);
  GetCurrentDirectoryA(MAX_PATH, cwd);
  wchar_t *slash = wcsrchr(out, L'\\');
  wcscpy(slash ? slash + 1 : out, L"record.txt");
  FILE *f = _wfopen(out, L"w");
  if (!f) return 1;
  fprintf(f, "cwd=%s\n", cwd);
  for (int i = 0; i < argc; i++) fprintf(f, "arg%d=%s\n", i, argv[i]);
  fclose(f);
  return 0;
}
"""


HERE = os.path.dirname(os.path.abspath(__file__))
LANG_DIR = os.path.join(HERE, "..", "..", "resources", "lang")

LONG_DATE = "Wednesday, September 30, 2026"  # the overwrite dialog's long date
DOWNLOADS = "C:\\Users\\Anna\\Downloads\\"
# Each shown text in its control: (template, control, string, arguments).
# Arguments stand in for what the program inserts: a program name, an entry
# name and a volume's folder of a fair length, a file's date, time and size.
SHOWN_TEXTS = [
    (5001, 1001, 14, ()), (5001, 1006, 49, ()), (5001, 1005, 9, ()), (5001, 1003, 11, ()),
    (5001, 1004, 12, ("setup.exe",)), (5001, 1, 6, ()), (5001, 2, 3, ()), (5001, 1010, 7, ()), (5001, 9, 8, ()),
    (5011, 1140, 24, ("Installationsanleitung-2026.pdf",)), (5011, 1141, 26, ()), (5011, 1, 0, ()), (5011, 2, 3, ()),
    (5013, 1120, 28, (12, DOWNLOADS)), (5013, 1120, 29, (DOWNLOADS,)), (5013, 1, 0, ()), (5013, 2, 3, ()),
    (5014, 1101, 17, ("Installationshinweise.txt",)), (5014, 1106, 18, ()), (5014, 1107, 19, ()),
    (5014, 1103, 20, (LONG_DATE, "12:59 PM", 1023)), (5014, 1105, 21, (LONG_DATE, "12:59 PM", 4194303)),
    (5014, 1, 0, ()), (5014, 1108, 22, ()), (5014, 7, 2, ()), (5014, 2, 3, ()),
]


def format_shown(template, args):
    """printf-style (%s, %u, %lu) or message inserts (%1, %2, %3!d!)."""
    if re.search(r"%[0-9]", template):
        return re.sub(r"%([0-9])(![a-z]!)?", lambda m: str(args[int(m.group(1)) - 1]), template)
    values = iter(args)
    return re.sub(r"%l?[su]", lambda m: str(next(values)), template)


def skip_reason():
    missing = wine_ui.missing_tools()
    if missing:
        return "not installed: " + ", ".join(missing)
    if not (os.path.isfile(TOOL) and os.path.isfile(STUB)):
        return "kvsfx and kvsfx-stub.exe are not both in KV_BIN (%r)" % BIN
    return None


@unittest.skipIf(skip_reason(), skip_reason() or "")
class WineDialogTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = wine_ui.Session("kv-ui-wine-")
        cls.display, cls.wine = cls.session.display, cls.session.wine

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="kv-ui-")
        self.proc = None

    def tearDown(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)

    # --- helpers ---
    def make_zip(self, files, name="archive.zip", method=zipfile.ZIP_DEFLATED):
        path = os.path.join(self.dir, name)
        with zipfile.ZipFile(path, "w", method) as z:
            for entry, data in files.items():
                z.writestr(entry, data)
        return path

    def build(self, archive, *options, name="setup.exe"):
        out = os.path.join(self.dir, name)
        r = subprocess.run([TOOL, "build", "--archive", archive, "-o", out, "--lang", "en"] + list(options),
                           capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        return out

    def run_sfx(self, exe):
        self.proc = self.wine.start(exe, cwd=self.dir)
        return self.proc

    def main_window(self):
        return self.wine.wait_window("Kivrel Self Extractor - setup.exe", proc=self.proc)

    def target(self, *parts):
        return os.path.join(self.dir, "out", *parts)

    def win(self, path):
        return self.wine.unix_to_windows(path)

    def finish(self, expected_exit, timeout=60):
        self.assertEqual(wine_ui.wait_exit(self.proc, timeout), expected_exit)

    def dismiss(self, title):
        box = self.wine.wait_window(title, proc=self.proc)
        self.wine.press(box, "Return", self.proc)
        return box

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    # --- main dialog ---
    def test_extract_into_default_folder_shows_summary(self):
        exe = self.build(self.make_zip({"a.txt": b"alpha", "sub/b.txt": b"beta"}))
        self.run_sfx(exe)
        self.wine.press(self.main_window(), "Return", self.proc)
        self.dismiss("Information")  # the summary
        self.finish(0)
        self.assertEqual(self.read(os.path.join(self.dir, "a.txt")), b"alpha")
        self.assertEqual(self.read(os.path.join(self.dir, "sub", "b.txt")), b"beta")

    def test_no_dll_is_loaded_from_the_programs_folder(self):
        # Copies of every DLL a run loads (Wine's own, from a first traced run)
        # beside the program, preferred by Wine where it finds them: none may
        # be loaded, unattended or with the dialog up. kernel32 and what it
        # stands on are loaded before any of the program's code runs.
        found = glob.glob("/usr/lib*/*/wine/x86_64-windows/user32.dll") + glob.glob(
            "/usr/lib*/wine/x86_64-windows/user32.dll")
        if not found:
            self.skipTest("Wine's DLL folder not found")
        dlls = os.path.dirname(found[0])
        archive = self.make_zip({"a.txt": b"alpha"})
        unattended = self.build(archive, "--unattended", "--target", self.win(self.target()), name="quiet.exe")
        dialog = self.build(archive, "--target", self.win(self.target()))

        def loaded(exe, overrides=""):
            env = dict(self.wine.env, WINEDEBUG="+loaddll",
                       WINEDLLOVERRIDES=overrides + "mscoree,mshtml=")
            proc = subprocess.Popen(["wine", exe], env=env, cwd=self.dir, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.PIPE)
            if exe == dialog:
                self.proc = proc
                self.wine.press(self.main_window(), "Escape", proc)
            err = proc.communicate(timeout=120)[1].decode(errors="replace")
            return set(re.findall(r'Loaded L"([^"]+)"', err))

        def plain(path):  # the trace doubles each backslash
            return path.replace("\\\\", "\\").lower()

        first = {plain(p) for p in loaded(unattended) | loaded(dialog)}
        names = {p.split("\\")[-1] for p in first if p.endswith(".dll")}
        names -= {"kernel32.dll", "kernelbase.dll", "ntdll.dll"}
        planted = sorted(n for n in names if os.path.exists(os.path.join(dlls, n)))
        self.assertIn("user32.dll", planted)
        for name in planted:
            shutil.copy(os.path.join(dlls, name), os.path.join(self.dir, name))
        overrides = ",".join(n[:-4] for n in planted) + "=n,b;"
        folder = self.win(self.dir).lower() + "\\"
        for exe in (unattended, dialog):
            beside = [p for p in map(plain, loaded(exe, overrides)) if p.startswith(folder) and p.endswith(".dll")]
            self.assertEqual([], beside, exe)

    def test_folder_typed_into_the_box(self):
        exe = self.build(self.make_zip({"a.txt": b"alpha"}), "--target", "C:\\unused")
        self.run_sfx(exe)
        window = self.main_window()
        self.wine.type(window, self.win(self.target("typed")))  # the box's text is selected at start
        self.wine.press(window, "Return", self.proc)
        self.dismiss("Information")
        self.finish(0)
        self.assertEqual(self.read(self.target("typed", "a.txt")), b"alpha")

    def test_cancel_before_extraction(self):
        exe = self.build(self.make_zip({"a.txt": b"alpha"}), "--target", self.win(self.target()))
        self.run_sfx(exe)
        self.wine.press(self.main_window(), "Escape", self.proc)
        self.finish(0)
        self.assertFalse(os.path.exists(self.target()))

    def test_cancel_during_long_extraction(self):
        big = os.urandom(1 << 20) * 96  # 96 MiB, stored: many progress steps
        exe = self.build(self.make_zip({"big.bin": big, "z.txt": b"later"}, method=zipfile.ZIP_STORED),
                         "--target", self.win(self.target()))
        self.run_sfx(exe)
        window = self.main_window()
        _, _, width, height = self.wine.geometry(window)
        px = int(CANCEL_BUTTON[0] * width / MAIN_SIZE[0])
        py = int(CANCEL_BUTTON[1] * height / MAIN_SIZE[1])
        # One command: the click is queued behind Return and reaches the
        # dialog through the progress callback's message pump.
        self.wine.xdotool("key", "--window", window, "Return", "mousemove", "--window", window, px, py,
                          "click", "1")
        box = self.wine.wait_window("Error", proc=self.proc, timeout=60)
        self.wine.press(box, "Return", self.proc)
        self.finish(9)
        self.assertFalse(os.path.exists(self.target("big.bin")), "partial file left behind")
        self.assertFalse(os.path.exists(self.target("z.txt")))

    def test_help_and_info_boxes(self):
        exe = self.build(self.make_zip({"a.txt": b"alpha"}), "--target", self.win(self.target()),
                         "--info", "Made for the tests")
        self.run_sfx(exe)
        window = self.main_window()
        self.wine.press(window, "alt+h", self.proc)
        self.dismiss("Help")
        self.wine.press(window, "alt+i", self.proc)
        self.dismiss("Information")
        self.wine.press(window, "Escape", self.proc)
        self.finish(0)
        self.assertFalse(os.path.exists(self.target()))

    def test_premessage_answered_no(self):
        exe = self.build(self.make_zip({"a.txt": b"alpha"}), "--target", self.win(self.target()),
                         "--message", "Install the test files?", "--message-type", "1")
        self.run_sfx(exe)
        box = self.wine.wait_window("Note", proc=self.proc)
        self.wine.press(box, "n", self.proc)
        self.finish(0)
        self.assertFalse(os.path.exists(self.target()))

    def test_premessage_answered_yes_then_extract(self):
        exe = self.build(self.make_zip({"a.txt": b"alpha"}), "--target", self.win(self.target()),
                         "--message", "Go on?", "--message-type", "1", "--caption", "Question")
        self.run_sfx(exe)
        self.wine.press(self.wine.wait_window("Question", proc=self.proc), "y", self.proc)
        self.wine.press(self.main_window(), "Return", self.proc)
        self.dismiss("Information")
        self.finish(0)
        self.assertTrue(os.path.exists(self.target("a.txt")))

    def test_unwritable_target_reports_access_error(self):
        blocker = os.path.join(self.dir, "file")
        with open(blocker, "wb") as f:
            f.write(b"x")
        exe = self.build(self.make_zip({"a.txt": b"alpha"}), "--target", self.win(os.path.join(blocker, "sub")))
        self.run_sfx(exe)
        self.wine.press(self.main_window(), "Return", self.proc)
        self.dismiss("Error")
        self.finish(5)  # 28002: file access failed
        self.assertEqual(self.read(blocker), b"x")

    def test_folder_box_holds_at_most_271_characters(self):
        exe = self.build(self.make_zip({"a.txt": b"alpha"}), "--target", "C:\\unused")
        self.run_sfx(exe)
        window = self.main_window()
        base = self.win(self.target()) + "\\"
        self.wine.type(window, base + "y" * (300 - len(base)), delay=8)
        self.wine.press(window, "Return", self.proc)
        # The box keeps 271 characters: no room for a file name below them.
        self.dismiss("Error")
        self.finish(5)
        for root, _, files in os.walk(self.dir):
            self.assertNotIn("a.txt", files, root)

    def test_unattended_password_prompt_without_owner(self):
        if not shutil.which("7zz"):
            self.skipTest("7-Zip (7zz) not installed")
        archive = self.make_encrypted(
            lambda a: ["7zz", "a", "-tzip", "-psecret", "-mem=AES128", a, "s1.txt", "s2.txt"])
        self.run_sfx(self.build(archive, "--target", self.win(self.target()), "--unattended"))
        prompt = self.wine.wait_window("Password required", proc=self.proc)
        self.wine.type(prompt, "secret")
        self.wine.press(prompt, "Return", self.proc)
        self.finish(0)  # no message of the launcher in unattended runs
        self.assertEqual(self.read(self.target("s2.txt")), b"second\n" * 50)

    # --- overwrite question ---
    def overwrite_run(self, answers):
        """Three entries whose files exist; answers are keys for the questions
        that come up, in order. Returns the exit code."""
        os.makedirs(self.target())
        for name in ("1.txt", "2.txt", "3.txt"):
            with open(self.target(name), "wb") as f:
                f.write(b"old")
        exe = self.build(self.make_zip({"1.txt": b"new1", "2.txt": b"new2", "3.txt": b"new3"}),
                         "--target", self.win(self.target()))
        self.run_sfx(exe)
        self.wine.press(self.main_window(), "Return", self.proc)
        for key in answers:
            question = self.wine.wait_window("Confirm file replace", proc=self.proc)
            self.wine.press(question, key, self.proc)
            self.wine.wait_gone(question)

    def contents(self):
        return [self.read(self.target(n)) for n in ("1.txt", "2.txt", "3.txt")]

    def test_overwrite_replace_and_keep(self):
        self.overwrite_run(["Return", "alt+n", "Return"])
        self.dismiss("Information")
        self.finish(0)
        self.assertEqual(self.contents(), [b"new1", b"old", b"new3"])

    def test_overwrite_replace_all(self):
        self.overwrite_run(["alt+n", "alt+a"])  # keep the first, then replace the rest unasked
        self.dismiss("Information")
        self.finish(0)
        self.assertEqual(self.contents(), [b"old", b"new2", b"new3"])

    def test_overwrite_cancel(self):
        self.overwrite_run(["Return", "Escape"])
        self.dismiss("Error")
        self.finish(9)
        self.assertEqual(self.contents(), [b"new1", b"old", b"old"])

    # --- passwords ---
    def password_run(self, archive):
        exe = self.build(archive, "--target", self.win(self.target()))
        self.run_sfx(exe)
        self.wine.press(self.main_window(), "Return", self.proc)
        # A wrong password its random header happens to accept would fail
        # later, as a decoding error, with no second question.
        for word in (kvtest.wrong_password(archive), "secret"):
            prompt = self.wine.wait_window("Password required", proc=self.proc)
            self.wine.type(prompt, word)
            self.wine.press(prompt, "Return", self.proc)
            self.wine.wait_gone(prompt)
        self.dismiss("Information")
        self.finish(0)
        self.assertEqual(self.read(self.target("s1.txt")), b"first secret file\n" * 50)
        self.assertEqual(self.read(self.target("s2.txt")), b"second\n" * 50)

    def make_encrypted(self, tool_args):
        src = os.path.join(self.dir, "src")
        os.makedirs(src)
        with open(os.path.join(src, "s1.txt"), "wb") as f:
            f.write(b"first secret file\n" * 50)
        with open(os.path.join(src, "s2.txt"), "wb") as f:
            f.write(b"second\n" * 50)
        archive = os.path.join(self.dir, "enc.zip")
        subprocess.run(tool_args(archive), cwd=src, check=True, stdout=subprocess.DEVNULL)
        return archive

    @unittest.skipUnless(shutil.which("7zz"), "7-Zip (7zz) not installed")
    def test_password_wrong_then_right_zipcrypto(self):
        # One question per wrong try, none for the second entry. 7-Zip writes
        # no data descriptor, so the header check can reject the wrong one.
        self.password_run(self.make_encrypted(
            lambda a: ["7zz", "a", "-tzip", "-psecret", "-mem=ZipCrypto", a, "s1.txt", "s2.txt"]))

    @unittest.skipUnless(shutil.which("7zz"), "7-Zip (7zz) not installed")
    def test_password_wrong_then_right_aes(self):
        self.password_run(self.make_encrypted(
            lambda a: ["7zz", "a", "-tzip", "-psecret", "-mem=AES256", a, "s1.txt", "s2.txt"]))

    def test_password_cancel_stops(self):
        if not shutil.which("zip"):
            self.skipTest("Info-ZIP zip not installed")
        archive = self.make_encrypted(lambda a: ["zip", "-q", "-P", "secret", a, "s1.txt"])
        exe = self.build(archive, "--target", self.win(self.target()))
        self.run_sfx(exe)
        self.wine.press(self.main_window(), "Return", self.proc)
        self.wine.press(self.wine.wait_window("Password required", proc=self.proc), "Escape", self.proc)
        self.dismiss("Error")
        self.finish(9)
        self.assertFalse(os.path.exists(self.target("s1.txt")))

    # --- run-after ---
    def recorder(self):
        compiler = shutil.which("x86_64-w64-mingw32-gcc")
        if not compiler:
            self.skipTest("mingw-w64 gcc not installed")
        src = os.path.join(self.dir, "recorder.c")
        exe = os.path.join(self.dir, "recorder.exe")
        with open(src, "w") as f:
            f.write(RECORDER_C)
        subprocess.run([compiler, "-O1", "-o", exe, src], check=True)
        return self.read(exe)

    def record(self, folder):
        deadline = time.time() + 20
        path = os.path.join(folder, "record.txt")
        while time.time() < deadline:
            if os.path.exists(path):
                time.sleep(0.3)
                with open(path) as f:
                    return dict(line.rstrip("\r\n").split("=", 1) for line in f if "=" in line)
            time.sleep(0.2)
        self.fail("the run-after program left no record")

    def test_run_after_dialog_variant(self):
        exe = self.build(self.make_zip({"tools/rec.exe": self.recorder()}), "--target", self.win(self.target()),
                         "--run", "tools\\rec.exe|one two")
        self.run_sfx(exe)
        self.wine.press(self.main_window(), "Return", self.proc)
        self.finish(0)  # no summary with a run-after command
        record = self.record(self.target("tools"))
        self.assertEqual(record["cwd"].lower(), self.win(self.target("tools")).lower())
        self.assertEqual([record.get("arg1"), record.get("arg2")], ["one", "two"])

    def test_run_after_unattended_variant(self):
        exe = self.build(self.make_zip({"tools/rec.exe": self.recorder()}), "--target", self.win(self.target()),
                         "--run", "tools\\rec.exe|one", "--unattended")
        self.run_sfx(exe)
        self.finish(0)
        record = self.record(self.target("tools"))
        # Unattended: started in the target folder itself, by its full path.
        self.assertEqual(record["cwd"].lower(), self.win(self.target()).lower())
        self.assertEqual(record.get("arg1"), "one")

    def test_run_after_missing_program(self):
        exe = self.build(self.make_zip({"a.txt": b"alpha"}), "--target", self.win(self.target()),
                         "--run", "missing.exe", "--no-check-run")
        self.run_sfx(exe)
        self.wine.press(self.main_window(), "Return", self.proc)
        self.dismiss("Error")  # string 43
        self.finish(8)
        self.assertTrue(os.path.exists(self.target("a.txt")))

    def test_own_folder_the_code_page_cannot_spell(self):
        # An English locale has no characters for this folder: the own file
        # is read by its wide name, and the default folder and the run-after
        # folder are its short name.
        folder = os.path.join(self.dir, "日本語")
        os.makedirs(folder)
        built = self.build(self.make_zip({"a.txt": b"alpha", "tools/rec.exe": self.recorder()}),
                           "--run", "tools\\rec.exe|one")
        exe = os.path.join(folder, "setup.exe")
        os.rename(built, exe)
        self.proc = self.wine.start(exe, cwd=folder)
        self.wine.press(self.main_window(), "Return", self.proc)
        self.finish(0)
        self.assertEqual(self.read(os.path.join(folder, "a.txt")), b"alpha")
        record = self.record(os.path.join(folder, "tools"))
        self.assertEqual(record.get("arg1"), "one")

    # --- folder macros ---
    def macro_run(self, macro, marker):
        exe = self.build(self.make_zip({"m.txt": b"macro"}), "--target", macro + "\\" + marker)
        self.run_sfx(exe)
        self.wine.press(self.main_window(), "Return", self.proc)
        self.dismiss("Information")
        self.finish(0)
        found = []
        for root, dirs, _ in os.walk(self.wine.drive_c()):
            if marker in dirs:
                found.append(os.path.join(root, marker))
        self.assertEqual(len(found), 1, found)
        self.assertEqual(self.read(os.path.join(found[0], "m.txt")), b"macro")
        shutil.rmtree(found[0])
        return os.path.dirname(found[0]).lower()

    def test_temp_macro(self):
        parent = self.macro_run("%temp%", "kvtemp%d" % os.getpid())  # any letter case
        self.assertTrue(parent.endswith("/temp"), parent)

    def test_appdata_macro(self):
        parent = self.macro_run("%AppData%", "kvappdata%d" % os.getpid())
        self.assertTrue(parent.endswith("/appdata/roaming") or parent.endswith("/application data"), parent)

    # --- texts that fit ---
    def test_every_shipped_text_fits_its_control(self):
        compiler = shutil.which("x86_64-w64-mingw32-gcc")
        if not compiler:
            self.skipTest("mingw-w64 gcc not installed")
        probe = os.path.join(self.dir, "text_fit.exe")
        subprocess.run([compiler, "-O1", "-o", probe, os.path.join(HERE, "text_fit.c"), "-mwindows"], check=True)
        records, rows = os.path.join(self.dir, "texts.bin"), []
        with open(records, "wb") as f:
            for lang in ("de", "en"):
                strings = wine_ui.lang_strings(os.path.join(LANG_DIR, lang + ".ini"))
                for template, control, number, args in SHOWN_TEXTS:
                    text = format_shown(strings[number], args)
                    f.write(b"%d\t%d\t" % (template, control) + text.encode("cp1252") + b"\0")
                    rows.append((lang, number, text))
        measured = os.path.join(self.dir, "measured.txt")
        proc = self.wine.start(probe, self.win(STUB), self.win(records), self.win(measured), cwd=self.dir)
        self.assertEqual(wine_ui.wait_exit(proc, 120), 0)
        with open(measured) as f:
            lines = f.read().split("\n")[:-1]
        self.assertEqual(len(lines), len(rows))
        cut = []
        for (lang, number, text), line in zip(rows, lines):
            template, control, kind, need_w, need_h, have_w, have_h = line.split()
            self.assertIn(kind, "sbdc", line)
            if (template, control) == ("5001", "1"):
                self.assertEqual(kind, "b", "the main dialog's start button is a plain push button")
            if int(need_w) > int(have_w) or int(need_h) > int(have_h):
                cut.append("%s string %d in %s/%s: needs %sx%s, has %sx%s: %r" % (
                    lang, number, template, control, need_w, need_h, have_w, have_h, text))
        self.assertEqual(cut, [], "\n".join(cut))


if __name__ == "__main__":
    unittest.main()
