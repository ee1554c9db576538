#!/usr/bin/env bash
# ThreadSanitizer run of the threaded code: the shading threads, the run's
# background writer, the worker and its stop, the batch driver's Ctrl-C and
# the desktop's Cancel. Builds the test programs (and the batch driver the
# tests start) with -fsanitize=thread, runs the thread-sensitive tests and
# fails on any failed test or any race report, from a test program or from
# a batch driver a test started.
#
# BUILD_DIR picks the build folder (default build-tsan), BUILD_TYPE the
# build type (default RelWithDebInfo). VDB_SEED and VDB_SOAK choose the
# random stops of the stress tests and multiply their number.
#
# `scripts/tsan.sh --check-filters` only checks, against the test programs
# already built in BUILD_DIR, that every name and pattern of the filters
# below selects at least one test: a renamed test would otherwise drop out
# of the run without a word. `scripts/tsan.sh --check-filter PROGRAM FILTER`
# checks one filter against one program.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_DIR=${BUILD_DIR:-build-tsan}
BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo}
JOBS=${JOBS:-$(nproc)}
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR=$ROOT/$BUILD_DIR ;; esac

# The thread-sensitive tests: program (under BUILD_DIR) and gtest filter.
# Shading threads: rows shared out among 1 to 4 threads (every kernel), whole years.
engine_filter='Engine.EverySubsetOfMissingNeighbours:Engine.BothEnginesLeaveTheSameImagesAndCounters'
# The background writer and the run with its stops, a full disk, rasters
# changing under the run, any thread count.
run_filter='RunOutputTest.*:RunTest.AStop*:RunTest.RastersChangedSinceTheScan'
# The batch driver's threads, its exit after logged errors, random Ctrl-C.
batch_filter='BatchTest.DryRunRunErrorsAndResume:BatchTest.RandomCtrlC*'
# The worker and the interface thread: whole runs, questions, Cancel, closing.
shell_filter='ShellTest.ProjectCommandsAreRefusedDuringARun:ShellTest.Worker*:ShellTest.RandomCancels*'

# Fails, naming them, when one of the filter's patterns selects no test of
# the program (or the program cannot list its tests).
check_filter() {
  local program=$1 filter=$2 pattern count bad=0
  local -a patterns
  IFS=: read -ra patterns <<<"$filter"
  for pattern in "${patterns[@]}"; do
    count=$("$program" --gtest_list_tests --gtest_filter="$pattern" 2>/dev/null | grep -c '^  ') || count=0
    if [ "$count" -eq 0 ]; then
      echo "tsan: $(basename "$program"): '$pattern' selects no test"
      bad=1
    fi
  done
  return $bad
}

check_all_filters() {
  local bad=0
  check_filter "$BUILD_DIR/tests/test_engine" "$engine_filter" || bad=1
  check_filter "$BUILD_DIR/tests/test_run" "$run_filter" || bad=1
  check_filter "$BUILD_DIR/tests/test_batch" "$batch_filter" || bad=1
  if [ "$have_shell" = 1 ]; then check_filter "$BUILD_DIR/tests/test_shell" "$shell_filter" || bad=1; fi
  return $bad
}

have_shell=0
if [ "${1:-}" = --check-filter ]; then
  check_filter "$2" "$3"
  exit $?
fi
if [ "${1:-}" = --check-filters ]; then
  grep -q '^VDB_BUILD_SHELL:BOOL=ON' "$BUILD_DIR/CMakeCache.txt" 2>/dev/null && have_shell=1
  check_all_filters
  exit $?
fi

cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="$BUILD_TYPE" -DVDB_TSAN=ON -DVDB_SANITIZE=OFF \
  -DVDB_BUILD_BENCH=OFF >/dev/null
targets=(veltano-batch test_engine test_run test_batch)
if grep -q '^VDB_BUILD_SHELL:BOOL=ON' "$BUILD_DIR/CMakeCache.txt"; then
  targets+=(test_shell)
  have_shell=1
fi
cmake --build "$BUILD_DIR" -j "$JOBS" --target "${targets[@]}"

logs=$BUILD_DIR/tsan-logs
rm -rf "$logs"
mkdir -p "$logs"
# Reports go to files named after the process, so that those of the batch
# drivers the tests start are seen too.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 history_size=7 exitcode=66 suppressions=$ROOT/scripts/tsan.supp log_path=$logs/report ${TSAN_OPTIONS:-}"
export SDL_VIDEODRIVER=dummy QT_QPA_PLATFORM=offscreen
export VDB_SOURCE_DIR=$ROOT VDB_BINARY_DIR=$BUILD_DIR

check_all_filters

status=0
run() {
  local program=$1 filter=$2
  local out=$logs/$(basename "$program").out
  local start=$SECONDS
  if "$BUILD_DIR/$program" --gtest_filter="$filter" >"$out" 2>&1; then
    echo "tsan $(basename "$program"): $(grep -E '^\[  PASSED  \]' "$out" | head -1) ($((SECONDS - start)) s)"
  else
    echo "tsan $(basename "$program"): FAILED ($((SECONDS - start)) s, log $out)"
    grep -E '^\[  FAILED  \]|Failure|ThreadSanitizer' "$out" | head -20 || true
    status=1
  fi
}

run tests/test_engine "$engine_filter"
run tests/test_run "$run_filter"
run tests/test_batch "$batch_filter"
if [ "$have_shell" = 1 ]; then run tests/test_shell "$shell_filter"; fi

reports=$(find "$logs" -name 'report.*' -type f | sort)
if [ -n "$reports" ]; then
  echo "tsan: $(echo "$reports" | wc -l) race report(s):"
  for r in $reports; do
    echo "---- $r"
    head -60 "$r"
  done
  status=1
else
  echo "tsan: no race report"
fi
exit $status
