#!/usr/bin/env bash
# kvsfx build --from beside Info-ZIP zip -6 and 7-Zip's ZIP writer on one folder:
# seconds and archive bytes. With KV_ZLIB_BIN pointing at a kvsfx built with
# -DKV_DEFLATER=zlib, the zlib levels are measured too. Asserts nothing.
# Usage: bench/compare_build.sh [FOLDER]   (default /usr/share/doc)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bin=${KV_BIN:-$root/build/bin}
src=$(realpath "${1:-/usr/share/doc}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=0

measure() {  # measure LABEL FILE COMMAND...: prints seconds and the file's size
  local label=$1 file=$2
  shift 2
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  printf '%-28s %8.2f s %14d bytes\n' "$label" "$(echo "$end - $start" | bc)" "$(stat -c %s "$file" 2>/dev/null || echo 0)"
}

# The same files for every tool: a copy without symbolic links (kvsfx skips
# them, zip would follow them), read once so that every run finds it cached.
cp -r --no-dereference "$src" "$work/corpus"
find "$work/corpus" -type l -delete
src=$work/corpus
find "$src" -type f -exec cat {} + >/dev/null
echo "folder: $src ($(du -sb "$src" | cut -f1) bytes, $(find "$src" -type f | wc -l) files)"
for level in 1 6 9 12; do
  measure "kvsfx --level $level (libdeflate)" "$work/k$level" \
    "$bin/kvsfx" build --from "$src" -o "$work/k$level" --target-os posix --no-verify --level "$level"
done
if [ -n "${KV_ZLIB_BIN:-}" ]; then
  for level in 6 9; do
    measure "kvsfx --level $level (zlib)" "$work/z$level" \
      "$KV_ZLIB_BIN/kvsfx" build --from "$src" -o "$work/z$level" --stub "$bin/kvsfx-stub" --no-verify --level "$level"
  done
fi
stub=$(stat -c %s "$bin/kvsfx-stub")
echo "(kvsfx sizes include the POSIX stub of $stub bytes and the block)"
(cd "$src" && measure "zip -6 -r" "$work/zip6.zip" zip -q -6 -r -X "$work/zip6.zip" .)
if command -v 7zz >/dev/null; then
  (cd "$src" && measure "7zz a -tzip (level 5)" "$work/7z.zip" 7zz a -tzip "$work/7z.zip" .)
fi
