"""Shared helpers for the integration tests: where the programs are, running
them natively and under Wine, making ZIP archives with Info-ZIP zip, and
writing self-extractor files by hand for inputs the builder refuses."""

import glob
import os
import pty
import select
import shutil
import struct
import subprocess
import tempfile
import time
import unittest
import zipfile
import zlib

KV_BIN = os.environ.get("KV_BIN", "/work/main/build/bin")
KV_SOURCE_DIR = os.environ.get("KV_SOURCE_DIR", os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
# The Windows programs may live in another build's bin folder.
KV_WIN_BIN = os.environ.get("KV_WIN_BIN", KV_BIN)

TOOL = os.path.join(KV_BIN, "kvsfx")
POSIX_STUB = os.path.join(KV_BIN, "kvsfx-stub")
WINDOWS_STUB = os.path.join(KV_WIN_BIN, "kvsfx-stub.exe")
WINE = shutil.which("wine")
ZIP = shutil.which("zip")

# Start-up codes as a process exit status (8 bits on POSIX and under Wine).
EXIT_NOT_FOUND = 255  # -1
EXIT_BAD_LANGUAGE = 254  # -2
EXIT_NO_TEMP = 5

SCAN_OFFSET = 50000
SCAN_WINDOW = 1048576

# Settings in stored order: (name, kind) with kind "u32" or "text".
SETTINGS = [
    ("mode", "u32"), ("reservedA", "u32"), ("reservedB", "u32"),
    ("premessageCaption", "text"), ("premessageText", "text"), ("premessageType", "u32"),
    ("infoText", "text"), ("targetFolder", "text"), ("runCommand", "text"),
    ("overwriteOption", "u32"), ("unattended", "u32"), ("reservedText1", "text"),
    ("mode2Command", "text"), ("reservedText2", "text"), ("reservedText3", "text"),
    ("reservedC", "u32"), ("reservedD", "u32"),
]


def need(condition, why):
    if not condition:
        raise unittest.SkipTest(why)


def run(args, timeout=120, **kwargs):
    """Runs a program; returns the CompletedProcess (text is bytes)."""
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout, **kwargs)


def run_tool(*args, **kwargs):
    return run([TOOL] + [str(a) for a in args], **kwargs)


def on_terminal(args, deadline=120):
    """Runs the tool with a pseudo-terminal as every standard stream;
    returns the exit status, the output and the seconds it took."""
    start = time.time()
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(TOOL, [TOOL] + [str(a) for a in args])
    transcript, end = b"", start + deadline
    while time.time() < end:
        ready, _, _ = select.select([fd], [], [], 0.1)
        if not ready:
            continue
        try:
            chunk = os.read(fd, 65536)
        except OSError:
            break
        if not chunk:
            break
        transcript += chunk
    if time.time() >= end:
        os.kill(pid, 9)
    _, status = os.waitpid(pid, 0)
    os.close(fd)
    return os.waitstatus_to_exitcode(status), transcript, time.time() - start


def wine_env(extra=None):
    env = dict(os.environ)
    env["WINEDEBUG"] = "-all"
    env.pop("DISPLAY", None)  # message boxes then return at once
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    if extra:
        env.update(extra)
    return env


def run_wine(exe, timeout=120, env=None):
    return run([WINE, exe], timeout=timeout, env=wine_env(env))


def wine_temp_dir():
    """The folder Wine gives as the temporary folder (the prefix's, as Wine
    takes TMP and TEMP from its registry, not from the caller)."""
    prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
    users = os.path.join(prefix, "drive_c", "users")
    found = glob.glob(os.path.join(users, "*", "Temp")) + glob.glob(os.path.join(users, "*", "AppData", "Local", "Temp"))
    return found


def lang_temp_files(dirs):
    """Temporary copies of a language text (named digits + ".~cx")."""
    names = set()
    for d in dirs:
        names.update(glob.glob(os.path.join(d, "*.~cx")))
    return names


def make_zip(folder, files):
    """Writes the files {name: bytes} under folder and zips them with Info-ZIP
    zip into folder/archive.zip; returns its path."""
    need(ZIP, "Info-ZIP zip is not installed")
    src = os.path.join(folder, "zipsrc")
    os.makedirs(src, exist_ok=True)
    for name, data in files.items():
        path = os.path.join(src, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    archive = os.path.join(folder, "archive.zip")
    subprocess.run([ZIP, "-q", "-r", "-X", archive] + sorted(files), cwd=src, check=True)
    return archive


def _header_accepts(header, password, entry):
    """Whether a traditionally encrypted entry's 12-byte header lets the
    password through the engine's check (one chance in 256 for a wrong one)."""
    keys = [0x12345678, 0x23456789, 0x34567890]

    def crc_byte(crc, b):
        return zlib.crc32(bytes([b]), crc ^ 0xFFFFFFFF) ^ 0xFFFFFFFF

    def update(b):
        keys[0] = crc_byte(keys[0], b)
        keys[1] = ((keys[1] + (keys[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        keys[2] = crc_byte(keys[2], keys[1] >> 24)

    for b in password.encode():
        update(b)
    last = 0
    for c in header:
        t = (keys[2] | 2) & 0xFFFF
        last = c ^ (((t * (t ^ 1)) >> 8) & 0xFF)
        update(last)
    accepted = {entry.CRC >> 24}
    if entry.flag_bits & 8:
        accepted.add(entry.date_time[3] << 3 | entry.date_time[4] >> 3)  # the DOS time's high byte
    return last in accepted


def wrong_password(archive, first="wrong"):
    """A wrong password that the header of every traditionally encrypted
    entry rejects, so that a test of the question asked again does not fail
    one run in 256 on a random header."""
    with zipfile.ZipFile(archive) as z, open(archive, "rb") as f:
        entries = [e for e in z.infolist() if e.flag_bits & 1 and e.compress_type != 99]
        headers = []
        for e in entries:
            f.seek(e.header_offset)
            local = f.read(30)
            f.seek(e.header_offset + 30 + sum(struct.unpack_from("<HH", local, 26)))
            headers.append((f.read(12), e))
    for n in range(1000):
        word = first if n == 0 else "%s%d" % (first, n)
        if not any(_header_accepts(h, word, e) for h, e in headers):
            return word
    raise AssertionError("no rejected password found")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data, executable=False):
    with open(path, "wb") as f:
        f.write(data)
    if executable:
        os.chmod(path, 0o755)
    return path


def builtin_lang(name):
    return read(os.path.join(KV_SOURCE_DIR, "resources", "lang", name + ".ini"))


def settings_bytes(values=None):
    """The seventeen settings as stored; values maps names to int or bytes."""
    values = values or {}
    out = b""
    for name, kind in SETTINGS:
        value = values.get(name, 0 if kind == "u32" else b"")
        if kind == "u32":
            out += struct.pack("<I", value)
        else:
            if isinstance(value, str):
                value = value.encode("cp1252")
            out += struct.pack("<I", len(value)) + value
    return out


def block_bytes(lang, settings=b"", revision=5, version=110798, lang_length=None):
    length = len(lang) if lang_length is None else lang_length
    return b"KV5SFX" + struct.pack("<III", version, revision, length) + lang + settings


def sfx_bytes(stub, block, archive=b""):
    """Stub padded to the scan offset, then the block, then the archive."""
    return stub + b"\0" * max(0, SCAN_OFFSET - len(stub)) + block + archive


class TempDirTest(unittest.TestCase):
    """Gives each test a fresh folder, removed afterwards."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="kvtest_")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)
