#!/usr/bin/env bash
# Builds everything (Release) into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B "${BUILD_DIR:-build}" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" >/dev/null
cmake --build "${BUILD_DIR:-build}" -j "$(nproc)"
