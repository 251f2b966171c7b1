#!/usr/bin/env bash
# A throw-away PostgreSQL server for the test suite.
#
#   source scripts/pg_test_server.sh && pg_test_server_start
#
# initdb into a temporary directory, start on a free loopback port with settings
# for speed (no fsync: the data is thrown away), export FPDESK_TEST_PG_URL for
# the tests and stop the server and remove the directory on exit. Running as
# root, the server runs as an unprivileged user (postgres, else nobody), since
# PostgreSQL refuses to run as root.

pg_test_server_bin() {
  local d
  if [ -n "${PG_BIN:-}" ] && [ -x "$PG_BIN/initdb" ]; then echo "$PG_BIN"; return 0; fi
  for d in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
    [ -x "$d/initdb" ] && [ -x "$d/pg_ctl" ] && { echo "$d"; return 0; }
  done
  command -v initdb >/dev/null 2>&1 && { dirname "$(command -v initdb)"; return 0; }
  return 1
}

# Runs a command as the server's user.
# Runs a command as the server's user, from the server's folder (the caller's
# may not be readable by that user).
pg_test_server_as() {
  if [ -n "$_pg_runas" ]; then
    (cd "$_pg_dir" && runuser -u "$_pg_runas" -- "$@")
  else
    "$@"
  fi
}

pg_test_server_port_free() {
  ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

pg_test_server_stop() {
  [ -n "${_pg_dir:-}" ] || return 0
  pg_test_server_as "$_pg_bin/pg_ctl" -D "$_pg_dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  rm -rf "$_pg_dir"
  _pg_dir=""
}

pg_test_server_start() {
  _pg_bin="$(pg_test_server_bin)" || {
    echo "test: no PostgreSQL server binaries found; the PostgreSQL runs of the suites are skipped" >&2
    return 1
  }
  _pg_runas=""
  if [ "$(id -u)" -eq 0 ]; then
    if id postgres >/dev/null 2>&1; then _pg_runas=postgres; else _pg_runas=nobody; fi
  fi
  _pg_dir="$(mktemp -d "${TMPDIR:-/tmp}/fpdesk-pg.XXXXXX")"
  chmod 700 "$_pg_dir"
  [ -n "$_pg_runas" ] && chown "$_pg_runas" "$_pg_dir"
  trap pg_test_server_stop EXIT
  if ! pg_test_server_as "$_pg_bin/initdb" -D "$_pg_dir/data" -U fpdesk_test --auth=trust \
         --encoding=UTF8 --locale=C.UTF-8 >"$_pg_dir/initdb.log" 2>&1; then
    echo "test: initdb failed:" >&2
    cat "$_pg_dir/initdb.log" >&2
    return 1
  fi
  local try port
  for try in 1 2 3 4 5 6 7 8; do
    port=$(( 20000 + (RANDOM * 32768 + RANDOM) % 40000 ))
    pg_test_server_port_free "$port" || continue
    if pg_test_server_as "$_pg_bin/pg_ctl" -D "$_pg_dir/data" -l "$_pg_dir/server.log" -w -t 60 \
         -o "-p $port -c listen_addresses=127.0.0.1 -c unix_socket_directories=$_pg_dir -c fsync=off \
             -c synchronous_commit=off -c full_page_writes=off -c max_connections=300" start >/dev/null 2>&1; then
      export FPDESK_TEST_PG_URL="postgresql://fpdesk_test@127.0.0.1:$port/postgres"
      echo "test: PostgreSQL server on port $port ($_pg_bin)" >&2
      return 0
    fi
  done
  echo "test: the PostgreSQL server did not start:" >&2
  cat "$_pg_dir/server.log" >&2 2>/dev/null || true
  return 1
}
