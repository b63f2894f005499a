#!/usr/bin/env python3
"""Renders the stub's dialogs under Wine on Xvfb into PNG files, in German and
English: the main dialog before extraction, the progress line near 50 %, the
overwrite question, the password prompt and the next-volume prompt; then, in
English, a Japanese caption over a Russian message and the overwrite and
password dialogs for a Japanese entry name (names-*.png).

    python3 scripts/screenshots.py BIN_DIR OUT_DIR [DPI]

DPI (default 96) is the screen resolution Wine reports (144 is 150 %).

BIN_DIR holds kvsfx and kvsfx-stub.exe. Wine runs with its own desktop
window, so that the dialogs get their frames and captions.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "integration"))
import wine_ui  # noqa: E402

DESKTOP = "800x560"
TITLES = {
    "de": {"main": "Kivrel Self Extractor - setup.exe", "overwrite": "Datei ersetzen",
           "password": "Kennwort-Abfrage", "volume": "Neues Medium einlegen"},
    "en": {"main": "Kivrel Self Extractor - setup.exe", "overwrite": "Confirm file replace",
           "password": "Password required", "volume": "Insert new disk"},
}


def title_of(lang_file, number):
    """Language string number from a shipped language file."""
    return wine_ui.lang_strings(lang_file).get(number)


def descendants(pid):
    """Every process below pid (Wine starts the program from explorer)."""
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/stat" % entry) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                children.setdefault(int(fields[1]), []).append(int(entry))
            except OSError:
                pass
    found, todo = [], [pid]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def program_pids(root, name):
    pids = []
    for pid in descendants(root):
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                if name.encode() in f.read():
                    pids.append(pid)
        except OSError:
            pass
    return pids


class Shooter:
    def __init__(self, bin_dir, out_dir, dpi):
        self.tool = os.path.join(bin_dir, "kvsfx")
        self.out_dir = out_dir
        self.work = tempfile.mkdtemp(prefix="kv-shots-")
        self.display = wine_ui.Display()
        self.wine = wine_ui.Wine(self.display, os.path.join(self.work, "prefix"))
        if dpi != 96:
            self.wine.set_dpi(dpi)

    def close(self):
        self.wine.close()
        self.display.close()
        shutil.rmtree(self.work, ignore_errors=True)

    def build(self, archive, lang, *options):
        exe = os.path.join(self.work, "setup.exe")
        subprocess.run([self.tool, "build", "--archive", archive, "-o", exe, "--lang", lang] + list(options),
                       check=True, stdout=subprocess.DEVNULL)
        return exe

    def geometry(self, window):
        # Inside Wine's desktop window (placed at the screen's origin)
        # xdotool reports a top-level window's position twice over.
        x, y, w, h = self.wine.geometry(window)
        return x // 2, y // 2, w, h

    def shot(self, window, name, margin=8):
        x, y, w, h = self.geometry(window)
        time.sleep(0.5)
        path = os.path.join(self.out_dir, name + ".png")
        self.display.screenshot(path, (x - margin, y - margin, x + w + margin, y + h + margin))
        print(path)

    def run(self, exe):
        return self.wine.start(exe, cwd=self.work, desktop=DESKTOP)

    def end(self, proc):
        for pid in program_pids(proc.pid, "setup.exe"):
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        proc.kill()
        proc.wait()
        subprocess.run(["wineserver", "-k"], env=self.wine.env)
        time.sleep(1)

    def target(self):
        folder = os.path.join(self.work, "out")
        shutil.rmtree(folder, ignore_errors=True)
        return folder

    def main_and_progress(self, lang, titles):
        archive = os.path.join(self.work, "big.zip")
        if not os.path.exists(archive):
            with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
                with z.open("Handbuch.pdf" if lang == "de" else "manual.pdf", "w", force_zip64=True) as f:
                    block = bytes(range(256)) * 4096
                    for _ in range(1536):  # 1.5 GiB of easy data: a long run
                        f.write(block)
        out = self.target()
        exe = self.build(archive, lang, "--target", self.wine.unix_to_windows(out), "--overwrite-option",
                         "--run", "manual.pdf", "--no-check-run")  # the box only shows its name
        proc = self.run(exe)
        window = self.wine.wait_window(titles["main"], timeout=60)
        self.shot(window, "main-%s" % lang)
        self.wine.key(window, "Return")
        x, y, w, h = self.geometry(window)
        # Watch the bar; stop the program near half-way for a still picture.
        deadline = time.time() + 120
        while time.time() < deadline:
            fraction = self.bar_fraction((x, y, w, h))
            if 0.42 <= fraction <= 0.62:
                pids = program_pids(proc.pid, "setup.exe")
                for pid in pids:
                    os.kill(pid, signal.SIGSTOP)
                time.sleep(0.3)
                self.shot(window, "progress-%s" % lang)
                for pid in pids:
                    os.kill(pid, signal.SIGCONT)
                break
            time.sleep(0.05)
        else:
            print("progress: the bar was never caught near 50 %", file=sys.stderr)
        self.end(proc)

    def bar_fraction(self, rect):
        """Longest run of highlight-blue pixels in the dialog's lower part,
        as a fraction of the dialog's width."""
        x, y, w, h = rect
        path = os.path.join(self.work, "probe.png")
        with open(os.path.join(self.display.fbdir, "Xvfb_screen0"), "rb") as f:
            data = f.read()
        hdr = struct.unpack(">25I", data[:100])
        off = hdr[0] + hdr[19] * 12
        bpl = hdr[12]
        best = 0
        for row in range(y + int(h * 0.7), y + h):
            run = 0
            line = data[off + row * bpl: off + (row + 1) * bpl]
            for col in range(x, x + w):
                b, g, r = line[col * 4], line[col * 4 + 1], line[col * 4 + 2]
                if b - r > 80 and b > 150:
                    run += 1
                    best = max(best, run)
                else:
                    run = 0
        del path
        return best / float(w * 222 / 236)

    def overwrite(self, lang, titles):
        out = self.target()
        os.makedirs(out)
        with open(os.path.join(out, "liesmich.txt" if lang == "de" else "readme.txt"), "wb") as f:
            f.write(b"x" * 1536)
        archive = os.path.join(self.work, "small-%s.zip" % lang)
        with zipfile.ZipFile(archive, "w") as z:
            z.writestr("liesmich.txt" if lang == "de" else "readme.txt", b"y" * 812345)
        proc = self.run(self.build(archive, lang, "--target", self.wine.unix_to_windows(out)))
        self.wine.key(self.wine.wait_window(titles["main"], timeout=60), "Return")
        self.shot(self.wine.wait_window(titles["overwrite"]), "overwrite-%s" % lang)
        self.end(proc)

    def password(self, lang, titles):
        if not shutil.which("7zz"):
            print("password: 7zz not installed", file=sys.stderr)
            return
        src = os.path.join(self.work, "src")
        os.makedirs(src, exist_ok=True)
        with open(os.path.join(src, "geheim.txt"), "wb") as f:
            f.write(b"secret\n" * 100)
        archive = os.path.join(self.work, "enc.zip")
        if os.path.exists(archive):
            os.remove(archive)
        subprocess.run(["7zz", "a", "-tzip", "-psecret", "-mem=AES256", archive, "geheim.txt"], cwd=src, check=True,
                       stdout=subprocess.DEVNULL)
        proc = self.run(self.build(archive, lang, "--target", self.wine.unix_to_windows(self.target())))
        self.wine.key(self.wine.wait_window(titles["main"], timeout=60), "Return")
        self.shot(self.wine.wait_window(titles["password"]), "password-%s" % lang)
        self.end(proc)

    def names(self, titles):
        if not self.wine.use_cjk_font():
            print("names: no font with Japanese glyphs (fonts-wqy-microhei)", file=sys.stderr)
        caption, message = "ようこそ — 日本語", "Привет! Эта программа распакует файлы.\nНажмите OK."
        proc = self.run(self.build(self.make_names_zip(), "en", "--caption", caption, "--message", message,
                                   "--target", self.wine.unix_to_windows(self.target())))
        self.shot(self.wine.wait_window(caption, timeout=60), "names-message")
        self.end(proc)

        name = "日本語の説明書.txt"
        out = self.target()
        os.makedirs(out)
        with open(os.path.join(out, name), "wb") as f:
            f.write(b"x" * 1536)
        proc = self.run(self.build(self.make_names_zip(), "en", "--target", self.wine.unix_to_windows(out)))
        self.wine.key(self.wine.wait_window(titles["main"], timeout=60), "Return")
        self.shot(self.wine.wait_window(titles["overwrite"]), "names-overwrite")
        self.end(proc)

        if not shutil.which("7zz"):
            print("names: 7zz not installed", file=sys.stderr)
            return
        src = os.path.join(self.work, "nsrc")
        os.makedirs(src, exist_ok=True)
        with open(os.path.join(src, name), "wb") as f:
            f.write(b"secret\n" * 100)
        archive = os.path.join(self.work, "names-enc.zip")
        if os.path.exists(archive):
            os.remove(archive)
        subprocess.run(["7zz", "a", "-tzip", "-psecret", "-mem=AES256", archive, name], cwd=src, check=True,
                       stdout=subprocess.DEVNULL)
        proc = self.run(self.build(archive, "en", "--target", self.wine.unix_to_windows(self.target())))
        self.wine.key(self.wine.wait_window(titles["main"], timeout=60), "Return")
        self.shot(self.wine.wait_window(titles["password"]), "names-password")
        self.end(proc)

    def make_names_zip(self):
        archive = os.path.join(self.work, "names.zip")
        with zipfile.ZipFile(archive, "w") as z:
            z.writestr("日本語の説明書.txt", b"y" * 812345)
        return archive

    def volume(self, lang, titles):
        if not shutil.which("zip"):
            print("volume: Info-ZIP zip not installed", file=sys.stderr)
            return
        src = os.path.join(self.work, "vsrc")
        os.makedirs(src, exist_ok=True)
        with open(os.path.join(src, "data.bin"), "wb") as f:
            f.write(os.urandom(300000))
        for name in os.listdir(self.work):
            if name.startswith("split.") or name.startswith("setup.z"):
                os.remove(os.path.join(self.work, name))
        subprocess.run(["zip", "-q", "-s", "100k", os.path.join(self.work, "split.zip"), "data.bin"], cwd=src,
                       check=True)
        # The self-extractor carries the last part; the others, which the build
        # writes beside it, are taken away so that it asks for them.
        exe = self.build(os.path.join(self.work, "split.zip"), lang, "--target",
                         self.wine.unix_to_windows(self.target()))
        for name in os.listdir(self.work):
            if name.startswith("setup.z"):
                os.remove(os.path.join(self.work, name))
        proc = self.run(exe)
        self.wine.key(self.wine.wait_window(titles["main"], timeout=60), "Return")
        try:
            self.shot(self.wine.wait_window(titles["volume"], timeout=20), "volume-%s" % lang)
        except AssertionError as e:
            print("volume: %s" % e, file=sys.stderr)
        self.end(proc)


def main():
    if len(sys.argv) not in (3, 4):
        print(__doc__, file=sys.stderr)
        return 2
    missing = wine_ui.missing_tools()
    if missing:
        print("screenshots: not installed: " + ", ".join(missing), file=sys.stderr)
        return 1
    os.makedirs(sys.argv[2], exist_ok=True)
    shooter = Shooter(sys.argv[1], sys.argv[2], int(sys.argv[3]) if len(sys.argv) == 4 else 96)
    try:
        for lang in ("de", "en"):
            lang_file = os.path.join(HERE, "..", "resources", "lang", lang + ".ini")
            titles = dict(TITLES[lang])
            for key, number in (("overwrite", 16), ("password", 23), ("volume", 27)):
                titles[key] = title_of(lang_file, number) or titles[key]
            shooter.main_and_progress(lang, titles)
            shooter.overwrite(lang, titles)
            shooter.password(lang, titles)
            shooter.volume(lang, titles)
        shooter.names(titles)
    finally:
        shooter.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
