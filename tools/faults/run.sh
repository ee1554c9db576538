#!/usr/bin/env bash
# Measures the test suite by the deliberate faults it catches.
#
#   tools/faults/run.sh [-o RESULT_FILE] [-f FAULTS_FILE] [--no-baseline] [ID...]
#
# For each fault of tools/faults/faults.tsv (or each ID given): applies it in
# the working tree, rebuilds the Release tree $BUILD_DIR (default
# build-faults), runs the whole suite with ctest, restores the source file
# exactly and prints
#   <id> caught|MISSED|stale|build-error  <failing test count>
# then a summary line. A fault is caught when some test fails that passes on
# the unchanged tree (the baseline, run first unless --no-baseline), and
# fails again when rerun.
# Refuses to start while src/ has uncommitted changes, so that restoring a
# file can never lose work. Environment: BUILD_DIR, CTEST_TIMEOUT (300),
# JOBS (2), CTEST_ARGS (extra ctest arguments, e.g. "-R ^Run" to try faults
# against a part of the suite while it is being changed; the full list is
# always measured without it).
set -u

here=$(cd "$(dirname "$0")" && pwd)
root=$(git -C "$here" rev-parse --show-toplevel) || exit 2
cd "$root" || exit 2

faults_file=$here/faults.tsv
out_file=
baseline=1
ids=()
while [ $# -gt 0 ]; do
  case $1 in
    -o) out_file=$2; shift 2 ;;
    -f) faults_file=$2; shift 2 ;;
    --no-baseline) baseline=0; shift ;;
    -h|--help) sed -n '2,18p' "$0"; exit 0 ;;
    -*) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    *) ids+=("$1"); shift ;;
  esac
done

BUILD_DIR=${BUILD_DIR:-build-faults}
CTEST_TIMEOUT=${CTEST_TIMEOUT:-300}
JOBS=${JOBS:-2}
helper=(python3 "$here/faults.py")

if [ -n "$(git status --porcelain -- src)" ]; then
  echo "run.sh: src/ has uncommitted changes; commit or stash them first" >&2
  git status --short -- src >&2
  exit 2
fi

export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work} CCACHE_DIR=${CCACHE_DIR:-/work/.ccache}

applied=
restore() {
  if [ -n "$applied" ]; then
    git checkout -q -- "$applied" && applied=
  fi
}
trap 'restore' EXIT
trap 'restore; echo "run.sh: interrupted; source restored" >&2; exit 130' INT TERM HUP

log_dir=$BUILD_DIR/fault-logs
build() {
  cmake --build "$BUILD_DIR" -j"$JOBS" >"$log_dir/$1.build.log" 2>&1
}
failed_in() {
  sed -n '/The following tests FAILED:/,$p' "$1" |
    sed -nE 's/^[[:space:]]*[0-9]+ - (.*) \([^)]*\)[[:space:]]*$/\1/p' | sort -u
}
# Prints the names of the failing tests, one a line. Failing tests are run a
# second time and count only if they fail again: on a shared machine a
# timing-sensitive test may fail once under load.
run_tests() {
  ctest --test-dir "$BUILD_DIR" -j"$JOBS" --timeout "$CTEST_TIMEOUT" ${CTEST_ARGS:-} >"$log_dir/$1.ctest.log" 2>&1
  local first
  first=$(failed_in "$log_dir/$1.ctest.log")
  [ -z "$first" ] && return 0
  ctest --test-dir "$BUILD_DIR" --rerun-failed -j"$JOBS" --timeout "$CTEST_TIMEOUT" ${CTEST_ARGS:-} \
    >"$log_dir/$1.rerun.log" 2>&1
  comm -12 <(printf '%s\n' "$first") <(failed_in "$log_dir/$1.rerun.log")
}

# The benchmark has no tests: not rebuilt for every fault.
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DVDB_BUILD_BENCH=OFF >/dev/null || exit 2
mkdir -p "$log_dir"

results=()
emit() {
  printf '%s\n' "$1"
  results+=("$1")
}

base_fail=
if [ "$baseline" = 1 ]; then
  if ! build baseline; then
    echo "run.sh: the unchanged tree does not build (see $log_dir/baseline.build.log)" >&2
    exit 2
  fi
  base_fail=$(run_tests baseline)
  if [ -n "$base_fail" ]; then
    echo "run.sh: failing on the unchanged tree (ignored below):" >&2
    printf '  %s\n' $base_fail >&2
  fi
fi

if [ ${#ids[@]} -eq 0 ]; then
  mapfile -t plan < <("${helper[@]}" list "$faults_file" src)
else
  mapfile -t plan < <("${helper[@]}" list "$faults_file" src "${ids[@]}")
fi

caught=0 missed=0 stale=0 broken=0
for entry in "${plan[@]}"; do
  id=${entry%% *}
  rest=${entry#* }
  state=${rest%% *}
  if [ "$state" != ok ]; then
    emit "$(printf '%-30s %-11s %s' "$id" stale "0")"
    stale=$((stale + 1))
    continue
  fi
  file=${rest#ok }
  applied=$file
  if ! "${helper[@]}" apply "$faults_file" src "$id" >/dev/null; then
    applied=
    emit "$(printf '%-30s %-11s %s' "$id" stale "0")"
    stale=$((stale + 1))
    continue
  fi
  if build "$id"; then
    fails=$(run_tests "$id")
    new=$(comm -23 <(printf '%s\n' "$fails" | sed '/^$/d') <(printf '%s\n' "$base_fail" | sed '/^$/d'))
    count=$(printf '%s\n' "$new" | sed '/^$/d' | wc -l)
    if [ "$count" -gt 0 ]; then
      verdict=caught
      caught=$((caught + 1))
    else
      verdict=MISSED
      missed=$((missed + 1))
    fi
  else
    verdict=build-error
    count=0
    broken=$((broken + 1))
  fi
  restore
  emit "$(printf '%-30s %-11s %s' "$id" "$verdict" "$count")"
done

summary="$caught caught, $missed missed, $stale stale, $broken build-error"
emit "$summary"
if [ -n "$out_file" ]; then
  {
    echo "# fault run $(date -u +%Y-%m-%dT%H:%MZ) on $(git rev-parse --short HEAD) (${faults_file#"$root"/})"
    printf '%s\n' "${results[@]}"
  } >"$out_file"
fi
# Leave the build tree matching the sources again.
build restored || true
