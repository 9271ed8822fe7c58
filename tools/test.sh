#!/usr/bin/env bash
# Builds Ordana and runs every test. Usage: tools/test.sh [default|asan]
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
tools/install-deps.sh
cmake --preset "$preset"
cmake --build --preset "$preset"
# As many tests at once as there are cores: each end-to-end module and each
# unit test is an entry of its own.
ctest --preset "$preset" -j "$(nproc)"
