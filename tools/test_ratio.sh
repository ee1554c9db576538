#!/usr/bin/env bash
# Lines of tests (with fuzz targets) against lines of src/, counting lines
# that are neither blank nor a // comment alone. Exits 1 when the tests are
# not 25..35 % of the code.
set -u
cd "$(git -C "$(dirname "$0")" rev-parse --show-toplevel)" || exit 2

count() {
  git ls-files -z "$@" | xargs -0 -r cat | grep -cvE '^\s*(//.*)?$'
}

tests=$(count 'tests/*.cpp' 'tests/*.h' 'fuzz/*.cpp' 'fuzz/*.h')
src=$(count 'src/*.cpp' 'src/*.h')
if [ "$src" -eq 0 ]; then
  echo "no source lines found" >&2
  exit 2
fi
percent=$(awk -v t="$tests" -v s="$src" 'BEGIN { printf "%.1f", 100 * t / s }')
echo "tests: $tests lines"
echo "src:   $src lines"
echo "ratio: $percent %"
if awk -v p="$percent" 'BEGIN { exit !(p >= 25 && p <= 35) }'; then
  exit 0
fi
echo "ratio outside 25..35 %" >&2
exit 1
