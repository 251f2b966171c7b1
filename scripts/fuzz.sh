#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (instrumented, AddressSanitizer) in
# build-fuzz/ and runs each on a copy of its seed corpus from fuzz/corpus/.
#   scripts/fuzz.sh                 every target for FUZZ_SECONDS (default 5) seconds
#   scripts/fuzz.sh TARGET -runs=N  one target with libFuzzer's own options
# Without clang it says so and succeeds, so the test command runs everywhere.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FUZZ_BUILD_DIR:-$here/build-fuzz}"
if ! command -v clang++ >/dev/null 2>&1; then
    echo "fuzz: clang++ not installed, fuzz targets skipped"
    exit 0
fi
targets=(fuzz_decimal fuzz_convert_to_big fuzz_download_reply fuzz_stock_text fuzz_code_text
         fuzz_taxsim_request fuzz_taxsim_upload)
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DFPDESK_FUZZ=ON -DFPDESK_BUILD_TESTS=OFF -DFPDESK_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null

run_one() {
    local target="$1"; shift
    local seeds="$here/fuzz/corpus/${target#fuzz_}"
    local work; work="$(mktemp -d)"
    cp -r "$seeds/." "$work/"
    # New inputs go to the scratch copy; the seeds in the repository stay as they are.
    ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}" QT_QPA_PLATFORM=offscreen \
        "$build/fuzz/$target" "$work" "$@"
    rm -rf "$work"
}

if [[ $# -gt 0 ]]; then
    target="$1"; shift
    cmake --build "$build" -j"${JOBS:-2}" --target "$target"
    run_one "$target" "$@"
else
    cmake --build "$build" -j"${JOBS:-2}" --target "${targets[@]}"
    for t in "${targets[@]}"; do
        echo "fuzz: $t for ${FUZZ_SECONDS:-5} s"
        run_one "$t" -max_total_time="${FUZZ_SECONDS:-5}" -print_final_stats=1 2>&1 | tail -n 3
    done
fi
