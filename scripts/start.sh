#!/usr/bin/env bash
# Installs what the program needs, builds it, puts a copy of the demo project
# in ~/veltano-demo (left alone when it already exists) and starts the
# desktop program. Pick that folder with "Select Directory".
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
demo="$HOME/veltano-demo"
[ -e "$demo" ] || cp -r examples/demo "$demo"
# Without a display the graphics layer would fall back to drawing in the
# terminal: point to the terminal driver instead.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: process the demo project from the terminal with"
  echo "  build/src/batch/veltano-batch --yes $demo && build/src/batch/veltano-batch verify $demo/Session\$(date +%y%m%d)"
  exit 0
fi
echo "Demo project: $demo (choose it with Select Directory, then Select All and Process)"
exec build/src/shell/veltano-builder
