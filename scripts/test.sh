#!/usr/bin/env bash
# Runs every test: native unit and integration tests (Windows stub under Wine,
# dialogs under Xvfb), the native suite again with the portable checksum and
# cipher paths forced (KVSFX_CPU=portable), the Windows unit tests under Wine, the suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, and a short run of every
# fuzz target. Ends with one line "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
fuzz_seconds=${KV_FUZZ_SECONDS:-30}
passed=0
failed=0
failures=()

stage() {  # stage NAME COMMAND...: runs one stage and counts it
  local name=$1
  shift
  echo "== $name"
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failures+=("$name")
  fi
}

KV_WERROR=ON bash scripts/build.sh || { echo "build failed"; echo "stages: 0 passed, 1 failed"; exit 1; }

stage "native tests" ctest --test-dir build/native --output-on-failure -j2 --timeout 1200
# Once more with the portable checksum and cipher paths forced, so that the
# fallback stays as tested as the hardware paths.
stage "native tests, portable paths" env KVSFX_CPU=portable \
  ctest --test-dir build/native --output-on-failure -j2 --timeout 1200
if [ -x build/bin/kvsfx-tests.exe ] && command -v wine >/dev/null 2>&1; then
  stage "windows unit tests (wine)" ctest --test-dir build/win --output-on-failure --timeout 1200
fi

# Sanitizers: the whole native suite against instrumented programs.
san=build/asan
sanitize_build() {
  CC=clang CXX=clang++ cmake -S . -B $san -DCMAKE_BUILD_TYPE=Release -DKV_SANITIZE=ON -DKV_WERROR=ON \
    -DKV_BIN_DIR="$root/$san/bin" >/dev/null && cmake --build $san -j2
}
sanitize_run() {
  # The instrumented bin folder has no Windows stub; the scripts skip Wine cases there.
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir $san --output-on-failure -j2 --timeout 1200 -E 'ui_wine'
}
stage "sanitizer build" sanitize_build && stage "sanitizer tests" sanitize_run

# Fuzzing: every target for a short bounded time, from seeds made at run time.
fz=build/fuzz
fuzz_build() {
  CC=clang CXX=clang++ cmake -S . -B $fz -DCMAKE_BUILD_TYPE=Debug -DKV_FUZZ=ON -DKV_SANITIZE=ON -DKV_TESTS=OFF \
    -DKV_BIN_DIR="$root/$fz/bin" >/dev/null && cmake --build $fz -j2
}
fuzz_run() {
  local ok=0 t name corpus seeds
  seeds=$(mktemp -d)
  python3 scripts/fuzz_seeds.py "$seeds" "$root"
  for t in "$fz"/bin/fuzz_*; do
    [ -x "$t" ] || continue
    name=$(basename "$t")
    corpus=$(mktemp -d)
    [ -d "$seeds/$name" ] && cp -r "$seeds/$name/." "$corpus/"
    echo "-- $name (${fuzz_seconds}s)"
    if ! "$t" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
        "$corpus" >"$fz/$name.log" 2>&1; then
      tail -40 "$fz/$name.log"
      ok=1
    fi
    # Targets that reach the ciphers run again on the portable paths.
    case $name in
      fuzz_crypto_header | fuzz_archive)
        echo "-- $name, portable paths (${fuzz_seconds}s)"
        if ! KVSFX_CPU=portable "$t" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 \
            -print_final_stats=0 "$corpus" >"$fz/$name.portable.log" 2>&1; then
          tail -40 "$fz/$name.portable.log"
          ok=1
        fi
        ;;
    esac
    rm -rf "$corpus"
  done
  rm -rf "$seeds"
  return $ok
}
stage "fuzz build" fuzz_build && stage "fuzz runs" fuzz_run

if [ $failed -gt 0 ]; then
  echo "failed stages: ${failures[*]}"
fi
echo "stages: $passed passed, $failed failed"
[ $failed -eq 0 ]
