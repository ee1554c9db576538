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
echo "Demo project: $demo (choose it with Select Directory, then Select All and Process)"
exec build/src/shell/veltano-builder
