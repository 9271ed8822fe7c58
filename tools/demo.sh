#!/usr/bin/env bash
# Builds Ordana and converts the bundled sample file into build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
mkdir -p build/demo
build/ordana data/samples/greeting.txt build/demo/greeting.txt /i utf-16be /o utf-16 /loglevel=2
echo
echo "build/demo/greeting.txt (UTF-16LE):"
od -A d -t x1z build/demo/greeting.txt | head -n 8
