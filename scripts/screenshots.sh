#!/usr/bin/env bash
# Renders each dialog of the Windows stub under Wine/Xvfb into PNG files, in
# German and English. Usage: scripts/screenshots.sh [BIN_DIR] [OUT_DIR]
# (defaults: build/bin and build/screenshots).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/bin}
out=${2:-build/screenshots}
exec python3 scripts/screenshots.py "$bin" "$out"
