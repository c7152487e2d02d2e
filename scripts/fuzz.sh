#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ (or FUZZ_BUILD_DIR) and runs each for
# SECONDS seconds (default 20), starting from its seed corpus in tests/fuzz/corpus/<target>/ and
# the inputs earlier runs found (kept in build-fuzz/corpus/<target>/). Prints the executions and
# the coverage each target reached; fails when a target finds an input that breaks one of its
# rules or crashes, and leaves that input in build-fuzz/artifacts/.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
seconds="${1:-20}"
shift || true
cd "$(dirname "$0")/.."
root="$(pwd)"
targets=("$@")
# Every target tests/fuzz/CMakeLists.txt builds, unless some are named.
[ ${#targets[@]} -gt 0 ] || read -r -a targets <<< "$(sed -n 's/^foreach(target \(.*\))$/\1/p' tests/fuzz/CMakeLists.txt)"

scripts/setup.sh
build_dir="${FUZZ_BUILD_DIR:-build-fuzz}"
CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORVALE_FUZZ=ON -DQUORVALE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build_dir" --target "${targets[@]}" --parallel 2

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/cmake/lsan.supp:print_suppressions=0"
export QT_QPA_PLATFORM=offscreen
mkdir -p "$build_dir/artifacts"
summary=()
failed=0
for target in "${targets[@]}"; do
    corpus="$build_dir/corpus/$target"
    log="$build_dir/artifacts/$target.log"
    mkdir -p "$corpus"
    echo "fuzz: $target for ${seconds}s"
    if "$build_dir/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$build_dir/artifacts/$target-" "$corpus" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
        status=ok
    else
        status=FAILED
        failed=1
        tail -n 40 "$log"
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    units=$(find "$corpus" -type f | wc -l)
    summary+=("$(printf '%-14s %-7s %12s executions %6s edges %7s features %6s corpus' \
        "$target" "$status" "${runs:-?}" "${cov:-?}" "${ft:-?}" "$units")")
done
echo
printf '%s\n' "${summary[@]}"
exit "$failed"
