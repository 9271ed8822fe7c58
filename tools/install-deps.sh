#!/usr/bin/env bash
# Installs what building and testing Ordana needs on a Debian machine,
# skipping what is already there.
#
# Usage: tools/install-deps.sh [COMMAND:PACKAGE]...
# Each argument adds a package to install when the command is missing
# (tools/package-test.sh: dpkg-shlibdeps:dpkg-dev man:man-db ...).
set -euo pipefail

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
command -v python3 >/dev/null || need+=(python3)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/gmock/gmock.h ] || need+=(libgmock-dev)
command -v clang-format >/dev/null || need+=(clang-format)  # tools/format-check.sh
for pair in "$@"; do
  command -v "${pair%%:*}" >/dev/null || need+=("${pair#*:}")
done

if [ ${#need[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${need[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${need[@]}"
