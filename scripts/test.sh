#!/usr/bin/env bash
# Installs, builds and runs the whole test suite (unit, headless window flows,
# offscreen Qt tests, HTTP tests on loopback).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$here/build}"
"$here/scripts/setup.sh" "$build"
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 600
