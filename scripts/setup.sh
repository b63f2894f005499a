#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine (run as root).
# Only missing packages are fetched, so a second run is quick.
set -euo pipefail
pkgs=(cmake make g++ clang libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev zlib1g-dev
      mingw-w64 g++-mingw-w64-x86-64 libdeflate-dev libz-mingw-w64-dev wine wine64 xvfb xauth xdotool zip unzip 7zip
      python3 file dpkg-dev liblzma-dev nlohmann-json3-dev icoutils osslsigncode openssl libarchive-tools valgrind
      fonts-wqy-microhei)  # CJK glyphs for the dialogs under Wine
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then echo "setup: need root to install: ${missing[*]}" >&2; exit 1; fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# Wine wants a prefix; make it once, quietly, without a display.
if command -v wine >/dev/null 2>&1; then
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  [ -d "${WINEPREFIX:-$HOME/.wine}/drive_c" ] || { wineboot -i >/dev/null 2>&1 || true; wineserver -w 2>/dev/null || true; }
fi
