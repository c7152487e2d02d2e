#!/usr/bin/env bash
# Sets up, builds and runs every test. Extra arguments go to ctest (for example -R tst_pause).
# With --sanitize first, builds into build-asan/ (or BUILD_DIR) with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs the suite there; any sanitizer report fails its test.
set -euo pipefail
cd "$(dirname "$0")/.."
configure=()
if [ "${1:-}" = "--sanitize" ]; then
    shift
    export BUILD_DIR="${BUILD_DIR:-build-asan}"
    configure=(-DQUORVALE_SANITIZE=ON -DQUORVALE_BUILD_BENCH=OFF)
fi
scripts/setup.sh
scripts/build.sh "${configure[@]}"
cd "${BUILD_DIR:-build}"
ctest --output-on-failure --parallel "$(nproc)" "$@"
