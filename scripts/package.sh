#!/usr/bin/env bash
# Builds the Debian package and checks it with lintian. An error or a warning
# of lintian fails the script; what else it says (info, pedantic,
# experimental) is shown. The package is <build>/fpdesk_<version>_<arch>.deb.
# Usage: scripts/package.sh   (build folder: BUILD_DIR, default build-deb)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$here/build-deb}"
# The programs only, with the compile options of the test build
# (scripts/test.sh), so the compiler cache serves what that build compiled.
"$here/scripts/setup.sh" "$build" -DFPDESK_BUILD_TESTS=OFF -DFPDESK_BUILD_BENCH=OFF -DFPDESK_WERROR=ON
rm -f "$build"/fpdesk_*.deb
(cd "$build" && cpack >/dev/null)
deb="$(ls "$build"/fpdesk_*.deb)"
echo "package: $deb"
lintian --display-info --pedantic --display-experimental --fail-on error,warning "$deb"
echo "package: lintian found no errors and no warnings"
