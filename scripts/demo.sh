#!/usr/bin/env bash
# The main job: build everything, make a demo self-extractor from a small
# tree, and run it — natively (POSIX stub) and under Wine (Windows stub).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
KV_TESTS=OFF bash scripts/build.sh  # the programs the demo runs, no test programs
bin=$root/build/bin
demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo/src/docs" "$demo/out-posix" "$demo/out-windows"
printf 'Hello from a self-extractor.\r\n' > "$demo/src/readme.txt"
seq 1 20000 > "$demo/src/docs/numbers.txt"
(cd "$demo/src" && zip -q -r -X ../demo.zip .)

echo "== POSIX self-extractor"
"$bin/kvsfx" build --archive "$demo/demo.zip" -o "$demo/setup" --target-os posix --lang en \
  --unattended --target "$demo/out-posix"
"$bin/kvsfx" info "$demo/setup"
set +e
"$demo/setup"
rc=$?
set -e
echo "exit code $rc"
[ $rc -eq 0 ] && diff -r "$demo/src" "$demo/out-posix" && echo "extracted tree matches"

if [ -x "$bin/kvsfx-stub.exe" ] && command -v wine >/dev/null 2>&1; then
  echo "== Windows self-extractor (Wine)"
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  "$bin/kvsfx" build --archive "$demo/demo.zip" -o "$demo/setup.exe" --target-os windows --lang en \
    --unattended --target "Z:${demo//\//\\}\\out-windows"
  set +e
  wine "$demo/setup.exe"
  rc=$?
  set -e
  echo "exit code $rc"
  [ $rc -eq 0 ] && diff -r "$demo/src" "$demo/out-windows" && echo "extracted tree matches"
fi
