#!/usr/bin/env bash
# Saves a PNG screenshot of every Quorvale window into OUTDIR: the main window idle and in the
# middle of a run, the setup dialog, the test e-mail dialog, the about box and the preview of a
# client's message. Runs the windows on a virtual X display (Xvfb) with made-up clients, so
# nothing is sent and no setting of yours is touched. Usage: scripts/screenshots.sh OUTDIR
set -euo pipefail
if [ $# -ne 1 ]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi
out="$(mkdir -p "$1" && cd "$1" && pwd)"
cd "$(dirname "$0")/.."
build_dir="${BUILD_DIR:-build}"
cmake -S . -B "$build_dir" -G Ninja >/dev/null
cmake --build "$build_dir" --target quorvale_screenshots --parallel 2
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1280x900x24" "$build_dir/tests/gui/quorvale_screenshots" "$out"
