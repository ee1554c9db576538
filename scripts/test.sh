#!/usr/bin/env bash
# Builds and runs the test suite. BUILD_TYPE=Debug SANITIZE=1 gives the
# AddressSanitizer/UndefinedBehaviorSanitizer build; BUILD_DIR picks the folder.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_TYPE=${BUILD_TYPE:-Release}
SANITIZE=${SANITIZE:-0}
BUILD_DIR=${BUILD_DIR:-build}
JOBS=${JOBS:-$(nproc)}
SAN=OFF
[ "$SANITIZE" = 1 ] && SAN=ON
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="$BUILD_TYPE" -DVDB_SANITIZE="$SAN" >/dev/null
cmake --build "$BUILD_DIR" -j "$JOBS"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$JOBS" --timeout 600
