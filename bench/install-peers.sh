#!/usr/bin/env bash
# Installs the detectors that bench/detection_eval.py compares Ordana with,
# and what builds bench/icu_detect.cpp, on a Debian machine, skipping what is
# already there. The texts themselves are fetched by tools/train_stats.py
# with `apt-get download` (nothing installed). Not needed to build or test.
set -euo pipefail

need=()
command -v uchardet >/dev/null || need+=(uchardet)
/usr/bin/python3 -c 'import chardet' 2>/dev/null || need+=(python3-chardet)
/usr/bin/python3 -c 'import charset_normalizer' 2>/dev/null || need+=(python3-charset-normalizer)
[ -f /usr/include/unicode/ucsdet.h ] || need+=(libicu-dev)
command -v g++ >/dev/null || need+=(g++)
command -v pkg-config >/dev/null || need+=(pkg-config)

if [ ${#need[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${need[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${need[@]}"
