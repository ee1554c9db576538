#!/usr/bin/env bash
# ThreadSanitizer run of the threaded code: the shading threads, the run's
# background writer, the worker and its stop, the batch driver's Ctrl-C and
# the desktop's Cancel. Builds the test programs (and the batch driver the
# tests start) with -fsanitize=thread, runs the thread-sensitive tests and
# fails on any failed test or any race report, from a test program or from
# a batch driver a test started.
#
# BUILD_DIR picks the build folder (default build-tsan), BUILD_TYPE the
# build type (default RelWithDebInfo). VDB_FAULT_STOPS and VDB_FAULT_CANCELS
# set the number of random stops of the stress tests (default 8 and 6 here:
# the instrumented code runs several times slower).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_DIR=${BUILD_DIR:-build-tsan}
BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo}
JOBS=${JOBS:-$(nproc)}
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR=$ROOT/$BUILD_DIR ;; esac

cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="$BUILD_TYPE" -DVDB_TSAN=ON -DVDB_SANITIZE=OFF \
  -DVDB_BUILD_BENCH=OFF >/dev/null
targets=(veltano-batch test_engine test_batch test_faults)
have_shell=0
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
export VDB_FAULT_STOPS=${VDB_FAULT_STOPS:-8} VDB_FAULT_CANCELS=${VDB_FAULT_CANCELS:-6}

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

# Shading threads: rows shared out among 1 to 7 threads, whole years.
run tests/test_engine 'MarchDiff.SameMasksAndRowsForAnyThreadCount:MarchDiff.EverySubsetOfMissingNeighbours:Year.*'
# The background writer, the run with its stops, the batch driver's Ctrl-C.
run tests/test_batch 'RunOutputTest.*:RunTest.AStop*:RunTest.Sector0312WritesSeventeenFilesInOrder:RunTest.AFailedWriteIsLoggedAndTheRunGoesOn:BatchTest.CtrlCStopsCleanlyWith130:BatchTest.LoggedErrorsExitWithFour'
# Faults while writing, rasters changing under the run, random Ctrl-C.
run tests/test_faults '*'
if [ "$have_shell" = 1 ]; then
  # The worker and the interface thread: questions, Cancel, closing.
  run tests/shell/test_shell 'ShellTest.ProjectCommandsAreRefusedDuringARun:ShellTest.Cancel*:ShellTest.Worker*:ShellRunTest.*:CancelStressTest.*'
fi

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
