#!/usr/bin/env bash
# Takes docs/screenshot.png: the main window and the graph window side by
# side during a run of the demo project, under Xvfb at 24 bits per pixel.
# Needs xvfb-run and ImageMagick. BUILD_DIR picks the build folder (build).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
PROJECT=${PROJECT:-examples/demo}

driver="$BUILD_DIR/tools/shell_screenshot_driver"
if [ ! -x "$driver" ]; then
  cmake -S . -B "$BUILD_DIR" >/dev/null
  cmake --build "$BUILD_DIR" --target shell_screenshot_driver -j "$(nproc)"
fi

# The run writes its session folder and coordinates file into the project:
# work on a copy.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$PROJECT" "$work/demo"

# X libraries keep a few allocations to the end of the process.
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0} xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$driver" "$work/demo" "$work/main.png" "$work/graph.bmp" "${PROGRESS:-6}" >/dev/null

mkdir -p docs
convert "$work/main.png" -size 16x16 xc:'#d8d8d8' "$work/graph.bmp" -background '#d8d8d8' -gravity north \
  +append -bordercolor '#d8d8d8' -border 12 docs/screenshot.png
echo "docs/screenshot.png written"
