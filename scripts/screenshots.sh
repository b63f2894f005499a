#!/usr/bin/env bash
# Renders each dialog of the Windows stub under Wine/Xvfb into PNG files, in
# German and English. Usage: scripts/screenshots.sh [BIN_DIR] [OUT_DIR] [DPI]
# (defaults: build/bin, build/screenshots and 96; 144 is a 150 % screen).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/bin}
out=${2:-build/screenshots}
exec python3 scripts/screenshots.py "$bin" "$out" ${3:+"$3"}
