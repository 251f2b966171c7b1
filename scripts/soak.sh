#!/usr/bin/env bash
# A long soak of the journal of requests to the tax service (tests/app/journal_soak_test.cpp):
# issue, void and print processes under faults and kills, settled and compared round after round.
#
#   scripts/soak.sh [SECONDS | ROUNDSr] [sqlite|postgresql|both]
#
#   600        run for about ten minutes on each engine (the default: 300)
#   200r       run 200 rounds on each engine
#   engine     which database: both (default), sqlite or postgresql; PostgreSQL runs on a
#              throw-away server (scripts/pg_test_server.sh)
#
# FPDESK_SOAK_SEED=N replays the rounds of a failing run (printed with the failure);
# FPDESK_SOAK_VERBOSE=1 prints every round's log. Builds test_app in BUILD_DIR (default build/).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$here/build}"
length="${1:-300}"
engines="${2:-both}"

unset FPDESK_SOAK_ROUNDS FPDESK_SOAK_SECONDS
case "$length" in
  *r) export FPDESK_SOAK_ROUNDS="${length%r}" ;;
  *) export FPDESK_SOAK_SECONDS="$length" ;;
esac
case "$engines" in
  both) engines="sqlite postgresql" ;;
  sqlite | postgresql) ;;
  *) echo "soak: unknown engine '$engines' (sqlite, postgresql or both)" >&2; exit 2 ;;
esac

[ -d "$build" ] || "$here/scripts/setup.sh" "$build"
cmake --build "$build" --target test_app fpdesk taxsim >/dev/null
export QT_QPA_PLATFORM=offscreen

status=0
for engine in $engines; do
  echo "soak: $engine, ${FPDESK_SOAK_ROUNDS:+$FPDESK_SOAK_ROUNDS rounds}${FPDESK_SOAK_SECONDS:+$FPDESK_SOAK_SECONDS s}"
  if [ "$engine" = postgresql ]; then
    # In a subshell: the server stops when it ends.
    (
      # shellcheck source=scripts/pg_test_server.sh
      source "$here/scripts/pg_test_server.sh"
      pg_test_server_start
      FPDESK_TEST_ENGINE=postgresql "$build/tests/test_app" --gtest_filter='JournalSoak.LocalAndService*'
    ) || status=1
  else
    FPDESK_TEST_ENGINE=sqlite "$build/tests/test_app" --gtest_filter='JournalSoak.LocalAndService*' || status=1
  fi
done
exit $status
