#!/usr/bin/env bash
# Whole-archive extraction speed of kvsfx beside Info-ZIP unzip and 7-Zip, in
# one run on the same archives. Prints seconds, MB/s and the ratios; asserts nothing.
# Usage: bench/compare_extract.sh [size-in-MB]   (default 256)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bin=${KV_BIN:-$root/build/bin}
mb=${1:-256}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work/src" "$mb" <<'PY'
import os, random, sys
root, mb = sys.argv[1], int(sys.argv[2])
random.seed(1)
words = [bytes(random.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(random.randint(2, 9))) for _ in range(4000)]
os.makedirs(root, exist_ok=True)
total, i = 0, 0
while total < mb << 20:
    n = 4 << 20
    if i % 4 == 3:   # some barely compressible data
        data = bytes(random.getrandbits(8) for _ in range(n // 16)) * 16
    else:            # text
        out = bytearray()
        while len(out) < n:
            out += b" ".join(random.choices(words, k=64)) + b"\n"
        data = bytes(out[:n])
    with open(os.path.join(root, f"f{i:04d}.dat"), "wb") as f:
        f.write(data)
    total += n
    i += 1
PY

report() {  # report LABEL ARCHIVE: times the three extractors with python's clock
  python3 - "$1" "$2" "$work" "$bin" "$mb" <<'PY'
import filecmp, shutil, subprocess, sys, time
label, zipf, work, bin_, mb = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])
runs = {
    "kvsfx": [f"{bin_}/kvsfx", "extract", zipf, "-d", f"{work}/o1", "--quiet"],
    "unzip": ["unzip", "-q", zipf, "-d", f"{work}/o2"],
    "7zz": ["7zz", "x", "-y", f"-o{work}/o3", zipf],
}
times = {}
for out in ("o1", "o2", "o3"):
    shutil.rmtree(f"{work}/{out}", ignore_errors=True)
for name, cmd in runs.items():
    t0 = time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    times[name] = time.perf_counter() - t0
same = filecmp.dircmp(f"{work}/src", f"{work}/o1")
if same.diff_files or same.left_only or same.right_only:
    print("  warning: kvsfx output differs")
k = times["kvsfx"]
print(f"{label:20s} " + " | ".join(f"{n} {t:6.2f}s {mb / t:7.1f} MB/s" for n, t in times.items())
      + f" | unzip/kvsfx {times['unzip'] / k:.2f}  7zz/kvsfx {times['7zz'] / k:.2f}")
PY
}

(cd "$work/src" && zip -q -r -0 "$work/stored.zip" . && zip -q -r -6 "$work/deflate.zip" .)
(cd "$work/src" && 7zz a -tzip -mm=Deflate64 "$work/deflate64.zip" . >/dev/null)
echo "extracting ${mb} MB of files (times include writing the files)"
report "stored" "$work/stored.zip"
report "deflate (zip -6)" "$work/deflate.zip"
report "deflate64 (7zz)" "$work/deflate64.zip"
