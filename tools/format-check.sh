#!/usr/bin/env bash
# Checks that the C++ sources are formatted as .clang-format says: src/,
# tools/ (ordana-watch, ordana-stats), tests/unit, tests/fault, fuzz/ and
# bench/*.cpp, but not the generated sources (CodePageTables.cpp,
# HtmlEntityTables.cpp, HelpText.cpp). Lists each file that differs and
# fails; with --fix formats them in place instead.
#
# Usage: tools/format-check.sh [--fix] [FILE...]
# Without files it takes every tracked C++ source of those folders. Needs
# clang-format (tools/install-deps.sh installs it); CLANG_FORMAT names
# another binary.
set -euo pipefail
cd "$(dirname "$0")/.."

fix=0
files=()
for argument in "$@"; do
  case "$argument" in
    --fix) fix=1 ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "format-check.sh: unknown option $argument" >&2; exit 2 ;;
    *) files+=("$argument") ;;
  esac
done

clang_format="${CLANG_FORMAT:-clang-format}"
if ! command -v "$clang_format" >/dev/null; then
  echo "format-check.sh: $clang_format is not installed (tools/install-deps.sh installs it)" >&2
  exit 2
fi

if [ ${#files[@]} -eq 0 ]; then
  # Tracked files only: build trees and scratch files are not the project's.
  # The generated sources are left as their generators write them (their
  # tests compare them byte for byte with the generators' output).
  mapfile -t files < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'tools/*.cpp' 'tools/*.h' \
    'tests/unit/*.cpp' 'tests/unit/*.h' 'tests/fault/*.cpp' 'fuzz/*.cpp' 'fuzz/*.h' 'bench/*.cpp' |
    grep -Ev '(^|/)(CodePageTables|HtmlEntityTables|HelpText)\.cpp$')
fi
if [ ${#files[@]} -eq 0 ]; then
  echo "format-check.sh: no files to check" >&2
  exit 2
fi

if [ $fix -eq 1 ]; then
  "$clang_format" -i --style=file "${files[@]}"
  exit 0
fi

status=0
for file in "${files[@]}"; do
  if ! "$clang_format" --dry-run --Werror --style=file "$file" >/dev/null 2>&1; then
    echo "not formatted: $file"
    status=1
  fi
done
if [ $status -ne 0 ]; then
  echo "format-check.sh: run tools/format-check.sh --fix (or clang-format -i FILE) and commit the result" >&2
fi
exit $status
