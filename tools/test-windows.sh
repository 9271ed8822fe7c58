#!/usr/bin/env bash
# Builds ordana.exe (and the tools) with the mingw-w64 cross compiler and runs
# the end-to-end suite against it under Wine. Installs mingw-w64 and Wine
# when they are missing. Usage: tools/test-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(mingw-w64)
command -v wine >/dev/null || need+=(wine wine64)
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi

# The resources must be the ones generated from the compiled-in string table.
python3 tools/gen_resources.py --check src/app/resources/ordana.rc

cmake --preset windows
cmake --build --preset windows

# A fresh Wine prefix of our own: nothing of the user's prefix is touched,
# and no display is needed for console programs.
scratch="$(mktemp -d -t ordana-wine-XXXXXX)"
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT
export WINEPREFIX="$scratch/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# One server for the whole suite instead of one per test.
wineserver -p 600 >/dev/null 2>&1 || true
wineboot --init >/dev/null 2>&1 || true

ORDANA_PREFIX=wine ORDANA="$PWD/build-win/ordana.exe" ORDANA_SOURCE_DIR="$PWD" \
  python3 -m unittest discover -s tests/e2e -p "test_*.py" "$@"
