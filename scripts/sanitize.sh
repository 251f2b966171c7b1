#!/usr/bin/env bash
# Builds fpdesk with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan/ (the normal build's configuration plus FPDESK_SANITIZE=ON, no
# benchmarks) and runs the test suites there. A memory error, a leak or any
# undefined behaviour fails the test in which it happens; the programs the
# tests start (fpdesk, taxsim) run instrumented too.
#   scripts/sanitize.sh [cmake options...] [-- ctest options...]
# scripts/test.sh runs it after the normal suites, with the PostgreSQL test
# server still up; run alone, the PostgreSQL runs are skipped unless
# FPDESK_TEST_PG_URL names a server.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ASAN_BUILD_DIR:-$here/build-asan}"
cmake_opts=()
while [[ $# -gt 0 && "$1" != "--" ]]; do cmake_opts+=("$1"); shift; done
[[ $# -gt 0 ]] && shift

# The same options while building (test discovery runs the test programs) and
# while testing. Full stacks on allocation, so that the suppressions, which
# name functions of the toolkit, match wherever the allocation happened.
export ASAN_OPTIONS="fast_unwind_on_malloc=0:detect_leaks=1:check_initialization_order=1:strict_init_order=1"
export LSAN_OPTIONS="suppressions=$here/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

"$here/scripts/setup.sh" "$build" -DFPDESK_SANITIZE=ON -DFPDESK_BUILD_BENCH=OFF "${cmake_opts[@]}"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" --timeout 900 "$@"
