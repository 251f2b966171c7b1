#!/usr/bin/env bash
# Installs, builds and runs the whole test suite (unit, headless window flows,
# offscreen Qt tests, HTTP tests on loopback), then a short run of each fuzz
# target when clang is installed.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$here/build}"
"$here/scripts/setup.sh" "$build"
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 600
# A few seconds of every fuzz target when clang is installed (skipped otherwise).
FUZZ_SECONDS="${FUZZ_SECONDS:-3}" "$here/scripts/fuzz.sh"
