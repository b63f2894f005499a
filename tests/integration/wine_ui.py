"""Drives the Windows stub under Wine on a private Xvfb display with xdotool.

Shared by the Wine user-interface tests and scripts/screenshots.sh. Windows
are found by their title (Wine gives every top-level window an X window with
that name); keys go to them with XSendEvent, clicks by position.
"""
import os
import shutil
import struct
import subprocess
import tempfile
import time
import zlib


def lang_strings(path):
    """The [data] strings of a language file (cp1252), escapes expanded."""
    with open(path, "rb") as f:
        text = f.read().decode("cp1252")
    strings, section = {}, None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("["):
            section = line.lower()
        elif section == "[data]" and "=" in line:
            key, value = line.split("=", 1)
            strings[int(key)] = value.strip().replace("\\n", "\r\n").replace("\\t", "\t")
    return strings


def missing_tools():
    return [t for t in ("wine", "Xvfb", "xdotool") if not shutil.which(t)]


class Display:
    """A private Xvfb server; its frame buffer is kept in a file (XWD) for screenshots."""

    def __init__(self, size="1024x768x24"):
        self.fbdir = tempfile.mkdtemp(prefix="kv-xvfb-")
        for n in range(99, 160):
            if not os.path.exists("/tmp/.X11-unix/X%d" % n) and not os.path.exists("/tmp/.X%d-lock" % n):
                self.number = n
                break
        else:
            raise RuntimeError("no free X display number")
        self.name = ":%d" % self.number
        self.proc = subprocess.Popen(["Xvfb", self.name, "-screen", "0", size, "-fbdir", self.fbdir, "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 10
        while not os.path.exists("/tmp/.X11-unix/X%d" % self.number):
            if time.time() > deadline or self.proc.poll() is not None:
                raise RuntimeError("Xvfb did not start")
            time.sleep(0.1)

    def close(self):
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        shutil.rmtree(self.fbdir, ignore_errors=True)

    def screenshot(self, path, crop=None):
        """Writes the screen (or crop = (x0, y0, x1, y1)) as a PNG."""
        with open(os.path.join(self.fbdir, "Xvfb_screen0"), "rb") as f:
            data = f.read()
        hdr = struct.unpack(">25I", data[:100])
        header_size, width, height, byte_order, bpl, ncolors = hdr[0], hdr[4], hdr[5], hdr[7], hdr[12], hdr[19]
        off = header_size + ncolors * 12
        x0, y0, x1, y1 = crop or (0, 0, width, height)
        x0, y0 = max(0, x0), max(0, y0)
        x1, y1 = min(width, x1), min(height, y1)
        raw = bytearray()
        for y in range(y0, y1):
            raw.append(0)
            row = data[off + y * bpl + x0 * 4: off + y * bpl + x1 * 4]
            if byte_order == 0:  # B G R X
                for i in range(0, len(row), 4):
                    raw += bytes((row[i + 2], row[i + 1], row[i]))
            else:
                for i in range(0, len(row), 4):
                    raw += row[i + 1:i + 4]

        def chunk(kind, payload):
            return struct.pack(">I", len(payload)) + kind + payload + struct.pack(
                ">I", zlib.crc32(kind + payload) & 0xFFFFFFFF)

        png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", x1 - x0, y1 - y0, 8, 2, 0, 0, 0))
        png += chunk(b"IDAT", zlib.compress(bytes(raw))) + chunk(b"IEND", b"")
        with open(path, "wb") as f:
            f.write(png)


class Wine:
    """A Wine prefix on a display; runs programs and talks to their windows."""

    def __init__(self, display, prefix):
        self.display = display
        self.prefix = prefix
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", DISPLAY=display.name,
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        if not os.path.isdir(os.path.join(prefix, "drive_c")):
            subprocess.run(["wineboot", "-i"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=300)

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def start(self, exe, *args, cwd=None, desktop=None):
        cmd = ["wine"]
        if desktop:  # Wine draws frames and captions only inside its own desktop window
            cmd += ["explorer", "/desktop=kv,%s" % desktop]
        return subprocess.Popen(cmd + [exe] + list(args), env=self.env, cwd=cwd, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def set_dpi(self, dpi):
        """The screen's dots per inch, as the display settings set them: Wine
        reads LogPixels when a program starts."""
        for key in (r"HKCU\Control Panel\Desktop", r"HKCC\Software\Fonts"):
            subprocess.run(["wine", "reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"],
                           env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, timeout=120)

    def use_cjk_font(self):
        """Draws the dialogs with a font that has Chinese and Japanese glyphs
        (Wine's own dialog font has none, and an English prefix links no
        other font in). False when no such font is installed."""
        face = "WenQuanYi Micro Hei"
        listed = subprocess.run(["fc-list", face], capture_output=True, text=True) if shutil.which("fc-list") else None
        if not listed or not listed.stdout.strip():
            return False
        for name in ("Tahoma", "Microsoft Sans Serif", "MS Shell Dlg", "MS Shell Dlg 2"):
            subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\Fonts\Replacements", "/v", name, "/t",
                            "REG_SZ", "/d", face, "/f"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, check=True, timeout=120)
        return True

    def unix_to_windows(self, path):
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def drive_c(self):
        return os.path.join(self.prefix, "drive_c")

    # --- windows ---
    def xdotool(self, *args, check=True):
        r = subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, capture_output=True, text=True,
                           timeout=30)
        if check and r.returncode != 0:
            raise RuntimeError("xdotool %s: %s" % (" ".join(map(str, args)), r.stderr.strip()))
        return r.stdout

    def windows(self, title):
        out = self.xdotool("search", "--onlyvisible", "--name", title, check=False)
        return [w for w in out.split()]

    def wait_window(self, title, timeout=60, proc=None):
        """The id of a visible window whose whole title matches; fails after timeout."""
        deadline = time.time() + timeout
        pattern = "^%s$" % title
        while time.time() < deadline:
            found = self.windows(pattern)
            if found:
                # Let the dialog finish its initialisation and take the focus:
                # a key sent earlier can be lost on a busy machine.
                time.sleep(0.8)
                return found[-1]
            if proc is not None and proc.poll() is not None:
                raise AssertionError("program ended (exit %s) before window %r came up" % (proc.returncode, title))
            time.sleep(0.2)
        raise AssertionError("window %r did not come up within %ss" % (title, timeout))

    def wait_gone(self, window, timeout=20):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if window not in self.xdotool("search", "--onlyvisible", "--name", ".", check=False).split():
                return
            time.sleep(0.2)
        raise AssertionError("window %s stayed open" % window)

    def key(self, window, *keys):
        self.xdotool("key", "--window", window, *keys)

    def visible(self):
        return set(self.xdotool("search", "--onlyvisible", "--name", ".", check=False).split())

    def press(self, window, key, proc=None, settle=10, tries=3):
        """Sends a key that must close a dialog or bring up another window,
        and sends it again when nothing changed within settle seconds: Wine
        hands a key to the window that has the focus, and on a busy machine a
        dialog can be on screen before it has it. Only for keys whose effect
        shows at once (small archives), so a repeat never meets a later
        dialog."""
        before = self.visible()
        for _ in range(tries):
            if window not in before:
                return
            self.key(window, key)
            deadline = time.time() + settle
            while time.time() < deadline:
                if (proc is not None and proc.poll() is not None) or self.visible() != before:
                    return
                time.sleep(0.2)
        raise AssertionError("key %s to window %s changed nothing in %d tries" % (key, window, tries))

    def type(self, window, text, delay=30):
        # Sent events lose the shift state ("Z:" arrives as "z;"): focus the
        # window and type through XTEST instead.
        self.xdotool("windowfocus", "--sync", window)
        self.xdotool("type", "--delay", str(delay), text)

    def geometry(self, window):
        out = self.xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def click_dialog_unit(self, window, dialog_size, x, y):
        """Clicks the point (x, y), in dialog units, of a dialog whose
        template is dialog_size = (w, h) dialog units."""
        _, _, width, height = self.geometry(window)
        px = int(x * width / dialog_size[0])
        py = int(y * height / dialog_size[1])
        self.xdotool("mousemove", "--window", window, px, py, "click", "1")


class Session:
    """A private display and a Wine prefix of our own (KV_WINEPREFIX names a
    kept one instead): its wineserver is ours to stop, its folder ours to
    remove."""

    def __init__(self, tag):
        self.display = Display()
        self.prefix_dir = None
        prefix = os.environ.get("KV_WINEPREFIX")
        if not prefix:
            self.prefix_dir = tempfile.mkdtemp(prefix=tag)
            prefix = os.path.join(self.prefix_dir, "prefix")
        self.wine = Wine(self.display, prefix)

    def close(self):
        self.wine.close()
        self.display.close()
        if self.prefix_dir:
            shutil.rmtree(self.prefix_dir, ignore_errors=True)


def wait_exit(proc, timeout=60):
    try:
        return proc.wait(timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        raise AssertionError("program did not end within %ss" % timeout)
