#!/usr/bin/env bash
# Installs what fpdesk needs (Debian packages), then configures and builds it.
# Usage: scripts/setup.sh [build-dir [cmake options...]]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build}"
shift || true

packages=(
  build-essential cmake ninja-build pkg-config ccache clang-format
  qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql qt6-qpa-plugins libgl-dev libxkbcommon-dev
  libcpp-httplib-dev libssl-dev libsqlite3-dev
  libxlsxwriter-dev
  libgtest-dev libgmock-dev libbenchmark-dev python3-openpyxl
  fonts-wqy-zenhei fonts-arphic-uming qt6-translations-l10n
  xvfb xauth
  poppler-utils
  cups printer-driver-cups-pdf
  lintian help2man
  postgresql postgresql-15
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  # The tests start throw-away PostgreSQL servers of their own: the packages
  # need not create and start a cluster of the machine's.
  if ! dpkg-query -W -f='${Status}' postgresql-common 2>/dev/null | grep -q "install ok installed"; then
    $sudo_cmd mkdir -p /etc/postgresql-common
    echo "create_main_cluster = false" | $sudo_cmd tee /etc/postgresql-common/createcluster.conf >/dev/null
  fi
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# A compiler cache makes the second and later builds (and the sanitizer build's) short.
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
