#!/usr/bin/env bash
# Sets up, builds and runs every test. Extra arguments go to ctest (for example -R tst_pause).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
cd "${BUILD_DIR:-build}"
ctest --output-on-failure --parallel "$(nproc)" "$@"
