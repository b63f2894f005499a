#!/usr/bin/env python3
"""The speed table of kvsfx beside its peers (Info-ZIP unzip, 7-Zip, bsdtar),
measured in one invocation on the same archives: every row is the best of
--runs wall-clock times per program, and the ratio is the fastest peer's time
divided by kvsfx's (above 1: kvsfx is faster). A second table sets `kvsfx
test` beside the hand-tuned single-file Deflate decoders (igzip of ISA-L,
libdeflate-gunzip) on a 100 MiB file of text and machine code interleaved
(bench/make_mixed.py), as zip -6 and gzip -6 of the same bytes, runs
interleaved; missing peers are installed with apt-get when run as root, else
skipped. Also the callgrind count of `kvsfx test` on the large Deflate files
and the Windows stub's size, and for LZMA (method 14), on Windows binaries
(Wine's DLLs): `kvsfx test` against `7zz t -mmt=1`, bsdtar and Python's
zipfile, and the payload size and time of `kvsfx build --method lzma` against
7-Zip's LZMA at -mx=9 and `zip -9`. Asserts nothing; never part of the test
command.

The corpus is copied at run time from real files of this machine (/usr/share,
/usr/lib) into --work, and kept there with its archives for the next run
(--fresh makes them again).

Usage: bench/bench_table.py [--mb 240] [--runs 3] [--work DIR] [--fresh] [--no-callgrind] [--decoders-only]
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_mixed  # noqa: E402
BIN = os.environ.get("KV_BIN", os.path.join(ROOT, "build", "bin"))
KVSFX = os.path.join(BIN, "kvsfx")
PASSWORD = "bench-password"
SMALL_FILES, SMALL_LIMIT = 5000, 16 << 10
BIG_FILE = 100 << 20


def log(*a):
    print(*a, file=sys.stderr, flush=True)


def make_corpus(corpus, mb):
    """Regular files in a fixed order until mb MiB are copied; returns (files, bytes)."""
    total, count, limit = 0, 0, mb << 20
    for top in ("/usr/share", "/usr/lib"):
        for dirpath, dirs, files in os.walk(top):
            dirs.sort()
            for name in sorted(files):
                src = os.path.join(dirpath, name)
                try:
                    if os.path.islink(src) or not os.path.isfile(src) or os.path.getsize(src) > 16 << 20:
                        continue
                    dst = os.path.join(corpus, os.path.relpath(src, "/usr"))
                    os.makedirs(os.path.dirname(dst), exist_ok=True)
                    shutil.copyfile(src, dst)
                except OSError:
                    continue
                total += os.path.getsize(dst)
                count += 1
                if total >= limit:
                    return count, total
    return count, total


def corpus_files(corpus):
    out = []
    for dirpath, dirs, files in os.walk(corpus):
        dirs.sort()
        for name in sorted(files):
            out.append(os.path.relpath(os.path.join(dirpath, name), corpus))
    return out


def quiet(cmd, cwd=None):
    subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)


def zip_list(archive, cwd, names, level):
    """Info-ZIP zip over a list of names (read from standard input)."""
    subprocess.run(["zip", "-q", "-" + str(level), "-@", archive], cwd=cwd, input="\n".join(names).encode(),
                   stdout=subprocess.DEVNULL, check=True)


def prepare(work, mb, fresh):
    corpus = os.path.join(work, "corpus")
    stamp = os.path.join(work, "ready-%d" % mb)
    if fresh or not os.path.exists(stamp):
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(corpus)
        log("copying a corpus of %d MiB from /usr ..." % mb)
        make_corpus(corpus, mb)
        names = corpus_files(corpus)
        small = [n for n in names if os.path.getsize(os.path.join(corpus, n)) <= SMALL_LIMIT][:SMALL_FILES]
        big_dir = os.path.join(work, "big")
        os.makedirs(big_dir)
        with open(os.path.join(big_dir, "big.bin"), "wb") as out:
            left = BIG_FILE
            while left:
                for n in names:
                    with open(os.path.join(corpus, n), "rb") as f:
                        data = f.read(left)
                    out.write(data)
                    left -= len(data)
                    if not left:
                        break
        log("making the archives ...")
        zip_list(os.path.join(work, "deflate.zip"), corpus, names, 6)
        zip_list(os.path.join(work, "stored.zip"), corpus, names, 0)
        zip_list(os.path.join(work, "small.zip"), corpus, small, 6)
        quiet(["zip", "-q", "-6", os.path.join(work, "big.zip"), "big.bin"], cwd=big_dir)
        quiet(["zip", "-q", "-r", "-6", "-P", PASSWORD, os.path.join(work, "zipcrypto.zip"), "."], cwd=corpus)
        quiet(["7zz", "a", "-tzip", "-mm=Deflate64", os.path.join(work, "deflate64.zip"), "."], cwd=corpus)
        quiet(["7zz", "a", "-tzip", "-mem=AES256", "-p" + PASSWORD, os.path.join(work, "aes.zip"), "."], cwd=corpus)
        open(stamp, "w").close()
    names = corpus_files(corpus)
    size = sum(os.path.getsize(os.path.join(corpus, n)) for n in names)
    return corpus, len(names), size


DECODER_FILES = ("mixed", "text", "binary")  # kinds of make_mixed.py


def prepare_decoder_files(work):
    """The 100 MiB files of make_mixed.py, each as <kind>.zip (zip -6) and <kind>.gz (gzip -6)."""
    folder = os.path.join(work, "decoder")
    os.makedirs(folder, exist_ok=True)
    for kind in DECODER_FILES:
        name = kind + ".bin"
        if os.path.exists(os.path.join(folder, kind + ".gz")):
            continue
        log("making the %s file ..." % kind)
        make_mixed.write(os.path.join(folder, name), BIG_FILE, kind)
        quiet(["zip", "-q", "-6", kind + ".zip", name], cwd=folder)
        with open(os.path.join(folder, kind + ".gz"), "wb") as out:
            subprocess.run(["gzip", "-6", "-n", "-c", name], cwd=folder, stdout=out, check=True)
        os.remove(os.path.join(folder, name))
    return folder


def ensure_peers(programs):
    """Installs the Debian packages of missing decoder peers when run as root; returns the programs present."""
    packages = {"igzip": "isal", "libdeflate-gunzip": "libdeflate-tools"}
    missing = [packages[p] for p in programs if not shutil.which(p)]
    if missing and os.geteuid() == 0 and shutil.which("apt-get"):
        log("installing " + " ".join(missing) + " ...")
        subprocess.run(["apt-get", "install", "-y", "-q"] + missing, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    return [p for p in programs if shutil.which(p)]


def best_times_interleaved(commands, runs):
    """Best wall-clock seconds of each command, the commands taking turns run by run (load hits all alike)."""
    best = {name: None for name in commands}
    for _ in range(runs):
        for name, cmd in commands.items():
            if cmd is None:
                continue
            t0 = time.perf_counter()
            r = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            t = time.perf_counter() - t0
            if r.returncode != 0:
                commands[name] = None
                best[name] = None
                continue
            best[name] = t if best[name] is None else min(best[name], t)
    return best


WIN_BINARIES = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"
WIN_MB = 100


def prepare_lzma(work, fresh):
    """Windows binaries (up to WIN_MB MiB of Wine's DLLs and EXEs) and their
    7-Zip LZMA -mx=9 archive; returns (folder, files, bytes) or None."""
    folder = os.path.join(work, "winbin")
    stamp = os.path.join(work, "ready-lzma")
    if not os.path.isdir(WIN_BINARIES):
        return None
    if fresh or not os.path.exists(stamp):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        total = 0
        for name in sorted(os.listdir(WIN_BINARIES)):
            src = os.path.join(WIN_BINARIES, name)
            if not name.endswith((".dll", ".exe")) or not os.path.isfile(src) or os.path.getsize(src) > 16 << 20:
                continue
            shutil.copyfile(src, os.path.join(folder, name))
            total += os.path.getsize(src)
            if total >= WIN_MB << 20:
                break
        log("making the LZMA archive (7-Zip -mx=9) ...")
        archive = os.path.join(work, "lzma.zip")
        if os.path.exists(archive):
            os.remove(archive)
        quiet(["7zz", "a", "-tzip", "-mm=LZMA", "-mx=9", archive, "."], cwd=folder)
        open(stamp, "w").close()
    names = corpus_files(folder)
    return folder, len(names), sum(os.path.getsize(os.path.join(folder, n)) for n in names)


def timed(cmd, cwd=None):
    """Wall-clock seconds of one run, or None when it fails."""
    t0 = time.perf_counter()
    r = subprocess.run(cmd, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return (time.perf_counter() - t0, r) if r.returncode == 0 else (None, r)


def lzma_tables(work, runs, fresh):
    prepared = prepare_lzma(work, fresh)
    if not prepared:
        print("LZMA: not measured (no Windows binaries at %s)" % WIN_BINARIES)
        return
    folder, count, size = prepared
    archive = os.path.join(work, "lzma.zip")
    print("LZMA (method 14): %d Windows binaries, %.1f MB; best of %d wall-clock runs" % (count, size / 1e6, runs))
    print()
    peers = {
        "7zz t -mmt=1": ["7zz", "t", "-mmt=1", "-bso0", "-bsp0", archive],
        "bsdtar": ["bsdtar", "-xOf", archive],
        "python": [sys.executable, "-c", "import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)",
                   archive],
    }
    log("measuring: LZMA test")
    k = best_time([KVSFX, "test", archive, "--quiet"], runs)
    times = {n: best_time(c, runs) for n, c in peers.items()}
    cell = lambda t: "%.2f s" % t if t is not None else "n/a"  # noqa: E731
    found = [t for t in times.values() if t is not None]
    print("| Work | kvsfx | " + " | ".join(peers) + " | ratio | goal |")
    print("|---|---|" + "---|" * len(peers) + "---|---|")
    print("| LZMA archive of Windows binaries (7-Zip -mx=9), test | %s | %s | %s | >= 1.0 |" %
          (cell(k), " | ".join(cell(times[n]) for n in peers), "%.2f" % (min(found) / k) if k and found else "-"))
    print()

    log("measuring: LZMA build")
    sizes = {}
    ours = os.path.join(work, "lzma-own.run")
    t, r = timed([KVSFX, "build", "--from", folder, "--method", "lzma", "--level", "12", "-o", ours, "--target-os",
                  "posix", "--lang", "en", "--no-verify"])
    m = re.search(rb"archive (\d+) bytes", r.stdout + r.stderr)
    sizes["kvsfx build --method lzma --level 12"] = (int(m.group(1)) if m else None, t)
    seven = os.path.join(work, "lzma-7z-mx9.zip")
    if os.path.exists(seven):
        os.remove(seven)
    t, _ = timed(["7zz", "a", "-tzip", "-mm=LZMA", "-mx=9", seven, "."], cwd=folder)
    sizes["7z -tzip -mm=LZMA -mx=9"] = (os.path.getsize(seven) if t else None, t)
    z9 = os.path.join(work, "lzma-zip9.zip")
    if os.path.exists(z9):
        os.remove(z9)
    t, _ = timed(["zip", "-q", "-r", "-9", z9, "."], cwd=folder)
    sizes["zip -9"] = (os.path.getsize(z9) if t else None, t)
    reference = sizes["7z -tzip -mm=LZMA -mx=9"][0]
    print("| Build of the same folder | payload | time | size against 7-Zip LZMA -mx=9 |")
    print("|---|---|---|---|")
    for label, (n, t) in sizes.items():
        against = "%+.1f %%" % (100.0 * n / reference - 100) if n and reference else "-"
        print("| %s | %s | %s | %s |" % (label, "{:,} bytes".format(n) if n else "n/a", cell(t), against))
    print("goal: our payload no larger than 7-Zip's -mx=9 + 2 %")
    print()


def test_commands(archive, password=None):
    pw = password is not None
    return {
        "kvsfx": [KVSFX, "test", archive, "--quiet"] + (["--password", password] if pw else []),
        "unzip": ["unzip", "-tqq"] + (["-P", password] if pw else []) + [archive],
        "7zz": ["7zz", "t", "-bso0", "-bsp0"] + (["-p" + password] if pw else []) + [archive],
        "bsdtar": ["bsdtar", "-xOf", archive] + (["--passphrase", password] if pw else []),
    }


def extract_commands(archive, target):
    return {
        "kvsfx": [KVSFX, "extract", archive, "-d", target, "--quiet", "--overwrite"],
        "unzip": ["unzip", "-qq", "-o", archive, "-d", target],
        "7zz": ["7zz", "x", "-y", "-bso0", "-bsp0", "-o" + target, archive],
        "bsdtar": ["bsdtar", "-xf", archive, "-C", target],
    }


def best_time(cmd, runs, target=None):
    """Best wall-clock seconds of runs, or None when the program fails or is missing."""
    if not shutil.which(cmd[0]) and not os.path.exists(cmd[0]):
        return None
    best = None
    for _ in range(runs):
        if target:
            shutil.rmtree(target, ignore_errors=True)
            os.makedirs(target)
        t0 = time.perf_counter()
        r = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        t = time.perf_counter() - t0
        if r.returncode != 0:
            return None
        best = t if best is None else min(best, t)
    return best


def ram_disk(work):
    """A folder on a RAM file system: a tmpfs of our own when we may mount one, else /dev/shm."""
    mnt = os.path.join(work, "ram")
    os.makedirs(mnt, exist_ok=True)
    if os.geteuid() == 0 and subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2g", "tmpfs", mnt],
                                            stderr=subprocess.DEVNULL).returncode == 0:
        return mnt, True
    return os.path.join("/dev/shm", "kvsfx-bench-%d" % os.getpid()), False


def callgrind(work, archive="big.zip"):
    """Instructions of `kvsfx test` on archive, in total and for the busiest functions."""
    if not shutil.which("valgrind"):
        return None
    out = os.path.join(work, "callgrind.out")
    if os.path.exists(out):
        os.remove(out)
    subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out, KVSFX, "test",
                    os.path.join(work, archive), "--quiet"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not os.path.exists(out):
        return None
    text = subprocess.run(["callgrind_annotate", out], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode()
    total = re.search(r"([\d,]+) \(100\.0%\)\s+PROGRAM TOTALS", text)
    if not total:
        return None
    parts = []
    for m in re.finditer(r"^\s*([\d,]+) \(\s*[\d.]+%\)\s+[^:\s]*:(.*?)(?: \[/|$)", text, re.M):
        parts.append((short_name(m.group(2)), int(m.group(1).replace(",", ""))))
    return int(total.group(1).replace(",", "")), parts[:6]


def short_name(signature):
    """'int ns::FastLoop<ns::Method8>(unsigned char*, ...)' -> 'FastLoop<Method8>'."""
    s = signature.replace("(anonymous namespace)::", "")
    s = re.sub(r"\[clone [^]]*\]", "", s)
    depth, cut = 0, len(s)
    for i, c in enumerate(s):  # the argument list: the first '(' outside template brackets
        depth += (c == "<") - (c == ">")
        if c == "(" and depth == 0:
            cut = i
            break
    s = s[:cut].split(" ")[-1]
    return re.sub(r"\w+::", "", s) or signature.strip()


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--mb", type=int, default=240)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--work", default="/tmp/kvsfx-bench")
    ap.add_argument("--fresh", action="store_true")
    ap.add_argument("--no-callgrind", action="store_true")
    ap.add_argument("--decoders-only", action="store_true", help="only the table beside igzip and libdeflate-gunzip")
    args = ap.parse_args()
    if not os.path.exists(KVSFX):
        sys.exit("bench: %s not built" % KVSFX)
    for tool in ("zip", "7zz"):
        if not shutil.which(tool):
            sys.exit("bench: %s is needed to make the archives (scripts/setup.sh installs it)" % tool)
    work = os.path.abspath(args.work)
    if not args.decoders_only:
        corpus, count, size = prepare(work, args.mb, args.fresh)
        a = lambda name: os.path.join(work, name)  # noqa: E731
        rows = [
            ("AES-256 archive of many files, test", test_commands(a("aes.zip"), PASSWORD), None, ">= 1.5"),
            ("Traditional cipher, test", test_commands(a("zipcrypto.zip"), PASSWORD), None, ">= 1.5"),
            ("Deflate, test, whole corpus", test_commands(a("deflate.zip")), None, ">= 1.5"),
            ("Deflate, test, one 100 MiB file", test_commands(a("big.zip")), None, ">= 1.5"),
            ("Deflate, test, %d small files" % SMALL_FILES, test_commands(a("small.zip")), None, ">= 1.5"),
            ("Deflate, extraction to a RAM disk", None, "deflate.zip", ">= 1.4"),
            ("Deflate64, test", test_commands(a("deflate64.zip")), None, ">= 1.5"),
            ("Stored, test", test_commands(a("stored.zip")), None, ">= 2.0"),
        ]
        print("corpus: %d files, %.1f MB (from /usr/share, /usr/lib); best of %d wall-clock runs; %d CPUs" %
              (count, size / 1e6, args.runs, os.cpu_count() or 0))
        print()
        peers = ("unzip", "7zz", "bsdtar")
        print("| Work | kvsfx | " + " | ".join(peers) + " | ratio | goal |")
        print("|---|---|" + "---|" * len(peers) + "---|---|")
        ram, mounted = None, False
        try:
            for label, commands, extract_from, goal in rows:
                log("measuring: " + label)
                if extract_from:
                    if ram is None:
                        ram, mounted = ram_disk(work)
                    commands = extract_commands(a(extract_from), os.path.join(ram, "out"))
                    times = {n: best_time(c, args.runs, os.path.join(ram, "out")) for n, c in commands.items()}
                else:
                    times = {n: best_time(c, args.runs) for n, c in commands.items()}
                k = times["kvsfx"]
                peer_times = [times[p] for p in peers if times[p] is not None]
                ratio = "%.2f" % (min(peer_times) / k) if k and peer_times else "-"
                cell = lambda t: "%.2f s" % t if t is not None else "n/a"  # noqa: E731
                print("| %s | %s | %s | %s | %s |" % (label, cell(k), " | ".join(cell(times[p]) for p in peers), ratio,
                                                      goal), flush=True)
        finally:
            if ram and mounted:
                subprocess.run(["umount", ram])
            elif ram:
                shutil.rmtree(ram, ignore_errors=True)
        print()
    decoder = prepare_decoder_files(work)
    d = lambda name: os.path.join(decoder, name)  # noqa: E731
    fast_peers = ("igzip", "libdeflate-gunzip")
    present = ensure_peers(fast_peers)
    print("| Work, one thread | kvsfx test | igzip -d -c | libdeflate-gunzip -c | ratio to igzip | goal |")
    print("|---|---|---|---|---|---|")
    for kind in DECODER_FILES:
        log("measuring: decoders, " + kind)
        commands = {
            "kvsfx": [KVSFX, "test", d(kind + ".zip"), "--quiet"],
            "igzip": ["igzip", "-d", "-c", d(kind + ".gz")] if "igzip" in present else None,
            "libdeflate-gunzip": ["libdeflate-gunzip", "-c", d(kind + ".gz")]
            if "libdeflate-gunzip" in present else None,
        }
        times = best_times_interleaved(commands, max(args.runs, 5))
        k, ig = times["kvsfx"], times["igzip"]
        ratio = "%.2f" % (ig / k) if k and ig else "-"
        cell = lambda t: "%.3f s" % t if t is not None else "n/a"  # noqa: E731
        print("| Deflate, 100 MiB %s file | %s | %s | %s | %s | %s |" %
              (kind, cell(k), cell(ig), cell(times["libdeflate-gunzip"]), ratio,
               ">= 1.0" if kind == "mixed" else "-"), flush=True)
    print()
    if not args.decoders_only:
        lzma_tables(work, args.runs, args.fresh)
    if not args.no_callgrind:
        log("measuring: callgrind")
        files = [] if args.decoders_only else [("one %d MiB `zip -6` file of the corpus" % (BIG_FILE >> 20),
                                                "big.zip", "")]
        for kind in DECODER_FILES:
            goal = " (goal <= 10)" if kind == "mixed" else ""
            files.append(("the %s file" % kind, os.path.join("decoder", kind + ".zip"), goal))
        for label, archive, goal in files:
            cg = callgrind(work, archive)
            if not cg:
                print("callgrind: not measured (valgrind missing or the run failed)")
                break
            total, parts = cg
            print("callgrind, `kvsfx test` of %s: %.2f instructions per output byte%s"
                  % (label, total / BIG_FILE, goal))
            for name, ir in parts[:4]:
                print("  %-28s %6.2f" % (name, ir / BIG_FILE))
    stub = os.path.join(BIN, "kvsfx-stub.exe")
    if os.path.exists(stub):
        print("Windows stub: %d bytes (goal <= 112,640)" % os.path.getsize(stub))
    else:
        print("Windows stub: not built")
    print("n/a: the program is missing or failed on that archive%s." %
          ("" if args.decoders_only else " (bsdtar reads no Deflate64)"))


if __name__ == "__main__":
    main()
