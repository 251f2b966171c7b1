#!/usr/bin/env bash
# Installs and builds fpdesk, then opens the client. On first use it creates the
# embedded database with demo data and talks to the simulated tax service
# in-process. Arguments are passed to fpdesk.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$here/build}"
"$here/scripts/setup.sh" "$build"
exec "$build/app/fpdesk" "$@"
