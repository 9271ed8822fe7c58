#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each one for a
# while on a copy of its seed corpus. Usage: tools/fuzz.sh [seconds per target]
# A crash or a failed invariant stops the target and fails this script; the
# input that did it is left in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"

if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq clang libclang-rt-dev || $sudo apt-get install -y -qq clang libclang-rt-14-dev
fi
tools/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

status=0
mkdir -p build-fuzz/findings
for target in build-fuzz/fuzz/fuzz_*; do
  name=$(basename "$target")
  corpus="build-fuzz/corpus/${name#fuzz_}"
  mkdir -p "$corpus"
  cp -n fuzz/corpus/"${name#fuzz_}"/* "$corpus"/ 2>/dev/null || true
  echo "=== $name: ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -artifact_prefix=build-fuzz/findings/"$name"- \
      "$corpus" > "build-fuzz/$name.log" 2>&1; then
    tail -n 40 "build-fuzz/$name.log"
    echo "$name FAILED"
    status=1
  else
    tail -n 1 "build-fuzz/$name.log"
  fi
done
exit $status
