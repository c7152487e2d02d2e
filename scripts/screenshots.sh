#!/usr/bin/env bash
# Saves a PNG screenshot of every Quorvale window into OUTDIR/scale-1 and OUTDIR/scale-1.5: the
# main window idle, the question that starts a run with its summary, the main window in the middle
# of a run and after a run with its summary, the setup dialog (also with the warning about "Simple",
# the Microsoft 365 sign-in and the sign-in's address), the test e-mail dialog, the about
# box, the check window with flagged rows, the help window and the preview of a client's message.
# Runs the windows on a virtual X display (Xvfb) the size of a small laptop screen (1366x768), with made-up
# clients, so nothing is sent and no setting of yours is touched. Fails when a window could not be photographed.
# Usage: scripts/screenshots.sh OUTDIR
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
for scale in 1 1.5; do
    XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home" QT_QPA_PLATFORM=xcb \
        QT_SCALE_FACTOR="$scale" xvfb-run -a -s "-screen 0 1366x768x24" \
        "$build_dir/tests/gui/quorvale_screenshots" "$out/scale-$scale"
    rm -rf "$home/config" "$home/data"
done
