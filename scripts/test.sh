#!/usr/bin/env bash
# Installs, builds and runs the whole test suite (unit, headless window flows,
# offscreen Qt tests, HTTP tests on loopback), runs it again in a build with
# AddressSanitizer and UndefinedBehaviorSanitizer (scripts/sanitize.sh), then a
# short run of each fuzz target when clang is installed. The database,
# form-engine and window-flow suites run on SQLite and on a throw-away
# PostgreSQL server that this script starts and stops (scripts/pg_test_server.sh).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$here/build}"
# Warnings fail the build here (a developer's own build only shows them).
"$here/scripts/setup.sh" "$build" -DFPDESK_WERROR=ON
# The tree must be in the format of .clang-format (clang-format comes with setup.sh).
(cd "$here" && git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror)
# shellcheck source=scripts/pg_test_server.sh
source "$here/scripts/pg_test_server.sh"
# FPDESK_TEST_SKIP_PG=1 runs without it (the PostgreSQL runs are then skipped).
if ! pg_test_server_start && [ -z "${FPDESK_TEST_SKIP_PG:-}" ]; then
  echo "test: cannot start the PostgreSQL test server (set FPDESK_TEST_SKIP_PG=1 to run without it)" >&2
  exit 1
fi
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 600 "$@"
# The same suites, on both engines, under the sanitizers.
"$here/scripts/sanitize.sh" -DFPDESK_WERROR=ON -- "$@"
# A few seconds of every fuzz target when clang is installed (skipped otherwise).
FUZZ_SECONDS="${FUZZ_SECONDS:-3}" "$here/scripts/fuzz.sh"
