#!/usr/bin/env bash
# Smoke test: processes a copy of the demo project with the built batch
# driver and verifies the session folder. BUILD_DIR names the build folder
# (default build). Fails on any problem.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
BATCH="$BUILD_DIR/src/batch/veltano-batch"
[ -x "$BATCH" ] || { echo "demo-smoke: no batch driver at $BATCH" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r examples/demo "$work/demo"

# Nine 200 x 200 sectors pass the long-job threshold: --yes answers it.
"$BATCH" --yes --quiet --session-id smoke "$work/demo" >/dev/null
"$BATCH" verify "$work/demo/Sessionsmoke"

count=$(find "$work/demo/Sessionsmoke" -maxdepth 1 -type f | wc -l)
if [ "$count" -ne 153 ]; then
  echo "demo-smoke: expected 153 files (9 sectors x 17), found $count" >&2
  exit 1
fi
echo "demo-smoke: OK"
