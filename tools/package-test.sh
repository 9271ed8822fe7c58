#!/usr/bin/env bash
# Builds the Debian package of Ordana (CPack, in build/) and checks it as a
# user would meet it: unpacked into a scratch root (dpkg -x, so nothing is
# installed into this machine and several of these runs never meet), the
# installed ordana converts and detects a KOI8-R text from another directory,
# which works only when it finds its statistics files in
# ../share/ordana/stats; the other programs answer --help; every manual page
# renders with `man -l` without warnings; the bash completion loads and
# completes. The scratch root is removed at the end, also on failure.
#
# Usage: tools/package-test.sh        (exit 0 when every check passed)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

# Beyond the build: dpkg-shlibdeps (dpkg-dev) for the package's dependencies,
# man and groff for the manual pages.
tools/install-deps.sh dpkg-shlibdeps:dpkg-dev man:man-db groff:groff-base

cmake --preset default >/dev/null
cmake --build --preset default --target ordana ordana-watch ordana-stats

scratch=$(mktemp -d "${TMPDIR:-/tmp}/ordana-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...: runs the command in a subshell, counts and reports it
  local what=$1
  shift
  if ("$@") >"$scratch/check.log" 2>&1; then
    passed=$((passed + 1))
    echo "ok: $what"
  else
    failed=$((failed + 1))
    echo "FAILED: $what"
    sed 's/^/    /' "$scratch/check.log"
  fi
}

(cd build && cpack -G DEB -B "$scratch/package" >"$scratch/cpack.log" 2>&1) || {
  cat "$scratch/cpack.log"
  exit 1
}
deb=$(ls "$scratch"/package/ordana_*.deb)
echo "package: $(basename "$deb")"

check "package name and version" \
  test "$(dpkg-deb -f "$deb" Package) $(dpkg-deb -f "$deb" Version)" = "ordana 2.0.17.8"

# Every package the package depends on is on this machine (the names of the
# Depends field; alternatives are not used).
depends_installed() {
  local name
  for name in $(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/(.*)//; s/|.*//'); do
    dpkg-query -W -f='${Status}\n' "$name" | grep -q "install ok installed" || {
      echo "not installed: $name"
      return 1
    }
  done
}
check "its dependencies are installed packages" depends_installed

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
expected=(usr/bin/ordana usr/bin/ordana-watch usr/bin/ordana-stats
          usr/share/man/man1/ordana-watch.1 usr/share/man/man1/ordana-stats.1
          usr/share/bash-completion/completions/ordana)
# The converter's own page is generated from its option table; when the tree
# has it, the package must carry it.
[ -f doc/ordana.1 ] && expected+=(usr/share/man/man1/ordana.1)
for stats in data/stats/*.dat; do expected+=("usr/share/ordana/stats/$(basename "$stats")"); done
all_present() {
  local path
  for path in "${expected[@]}"; do [ -f "$root/$path" ] || { echo "missing: /$path"; return 1; }; done
}
check "the package holds the programs, statistics files, manual pages and completion" all_present

# The installed program, run from a directory of its own with a KOI8-R text.
bin="$root/usr/bin"
work="$scratch/work"
mkdir "$work"
cp data/samples/russian-koi8-r.txt "$work/russian.txt"
converts_koi8r() {
  cd "$work"
  # Through a pipe: messages are UTF-8 there on every build.
  "$bin/ordana" russian.txt utf8.txt /o utf-8 /nobom /loglevel=2 </dev/null 2>&1 | cat >messages.txt ||
    { cat messages.txt; return 1; }
  grep -F "Using the statistics files in $root/usr/share/ordana/stats" messages.txt ||
    { cat messages.txt; return 1; }
  cmp utf8.txt "$source_dir/data/samples/russian-utf-8.txt"
}
check "the installed ordana detects KOI8-R and converts it to UTF-8 from another directory" converts_koi8r

# The detection-only mode, where the installed program has it.
if (cd / && "$bin/ordana" --help </dev/null 2>/dev/null) | grep -q -- "--detect"; then
  detects_koi8r() {
    cd "$work"
    local line
    line=$("$bin/ordana" --detect russian.txt </dev/null)
    echo "$line"
    # "PATH: NAME", the path as given or made absolute.
    [[ $line == *russian.txt:\ KOI8-R ]]
  }
  check "ordana --detect names KOI8-R" detects_koi8r
fi

check "ordana-watch --help" "$bin/ordana-watch" --help
check "ordana-stats --help" "$bin/ordana-stats" --help

renders() {  # renders PAGE: man formats it without a warning, with its name
  local page=$1 name
  name=$(basename "$page" .1)
  LC_ALL=C MANWIDTH=80 man --warnings -l "$page" >"$scratch/page.txt" 2>"$scratch/warnings.txt" </dev/null
  cat "$scratch/warnings.txt"
  [ ! -s "$scratch/warnings.txt" ] && grep -q "^NAME" "$scratch/page.txt" &&
    grep -q "^ *$name" "$scratch/page.txt"
}
for page in "$root"/usr/share/man/man1/*.1; do
  check "man -l renders $(basename "$page")" renders "$page"
done

completes() {
  # The installed completion, completing the installed program.
  bash -c '
    source "$1"
    compopt() { :; }
    COMP_WORDS=("$2" /o koi8-)
    COMP_CWORD=2
    _ordana
    printf "%s\n" "${COMPREPLY[@]}"' _ "$root/usr/share/bash-completion/completions/ordana" \
    "$bin/ordana" >"$scratch/completion.txt"
  cat "$scratch/completion.txt"
  grep -qx "KOI8-R" "$scratch/completion.txt"
}
check "the bash completion completes character set names" completes

echo "package-test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
