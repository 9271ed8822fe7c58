#!/usr/bin/env bash
# Builds the converter alone (with the statistics files it reads beside it)
# and shows the automatic detection at work: a Russian text in KOI8-R,
# converted to UTF-8 into build/demo/ with the detection's messages shown.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset default >/dev/null
# Only what the demo needs: the program and the copies of data/stats/*.dat
# next to it, not the tests and tools.
cmake --build --preset default --target ordana
mkdir -p build/demo
cp data/samples/russian-koi8-r.txt build/demo/russian.txt

echo
echo "build/demo/russian.txt, KOI8-R bytes (the first line):"
head -n 1 build/demo/russian.txt | od -A n -t x1 | head -n 3
echo
echo "\$ build/ordana build/demo/russian.txt build/demo/russian-utf8.txt /o utf-8 /nobom /loglevel=2"
build/ordana build/demo/russian.txt build/demo/russian-utf8.txt /o utf-8 /nobom /loglevel=2 2>&1 | cat
echo
echo "build/demo/russian-utf8.txt:"
cat build/demo/russian-utf8.txt
