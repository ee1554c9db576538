#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for FUZZ_SECONDS (default 30)
# from its seed corpus. Fails when a target finds a crash, a leak, a
# sanitizer report, a timeout or an out-of-memory; the input that did it is
# left in $BUILD_DIR/fuzz-findings/<target>/.
# FUZZ_TARGETS picks targets (default: all four); BUILD_DIR the build folder;
# FUZZ_CORPUS_OUT keeps the grown corpora there instead of a temporary
# folder (the committed seeds under fuzz/corpus are only read).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-fuzz}
FUZZ_SECONDS=${FUZZ_SECONDS:-30}
FUZZ_TARGETS=${FUZZ_TARGETS:-"tiff_loader png_loader coords_file checklonlat"}
JOBS=${JOBS:-$(nproc)}

CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVDB_FUZZ=ON \
  -DVDB_BUILD_SHELL=OFF -DVDB_BUILD_TESTS=OFF -DVDB_BUILD_BENCH=OFF >/dev/null
targets=()
for t in $FUZZ_TARGETS; do targets+=("fuzz_$t"); done
cmake --build "$BUILD_DIR" -j "$JOBS" --target "${targets[@]}"

export SDL_VIDEODRIVER=dummy
# A decoder asking for an impossible size gets null, as from the C library,
# instead of ending the run.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}:allocator_may_return_null=1"
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for t in $FUZZ_TARGETS; do
  seeds=fuzz/corpus/$t
  grown=${FUZZ_CORPUS_OUT:+$FUZZ_CORPUS_OUT/$t}
  grown=${grown:-$work/$t}
  findings=$BUILD_DIR/fuzz-findings/$t
  mkdir -p "$grown" "$findings"
  log=$BUILD_DIR/fuzz-findings/$t.log
  # stdout carries the loaders' diagnostics; libFuzzer reports on stderr.
  if "$BUILD_DIR/fuzz/fuzz_$t" -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=2048 \
      -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$findings/" "$grown" "$seeds" >"$log" 2>&1; then
    echo "fuzz $t: $(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}') runs, no finding"
  else
    echo "fuzz $t: FAILED (log $log, input in $findings/)"
    grep -E 'ERROR|SUMMARY|check failed|out-of-memory|timeout' "$log" | head -5 || true
    status=1
  fi
done
exit $status
