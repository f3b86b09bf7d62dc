#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the tests of the PostgreSQL storage backend.
#   eval "$(scripts/pg-cluster.sh start)"   # prints the exports; remember QUIRE_PG_CLUSTER
#   scripts/pg-cluster.sh stop "$QUIRE_PG_CLUSTER"
# The cluster lives in a temporary directory owned by the `postgres` user, listens on a Unix
# socket inside it only (no TCP), trusts local connections (nothing but this machine's users
# can reach the socket, whose directory is closed to others), and holds a database `quire`.
# Prints nothing and exits 0 when PostgreSQL is not installed, so the tests skip its cases.
set -euo pipefail
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)

as_postgres() {
  if [ "$(id -un)" = postgres ]; then "$@"; else runuser -u postgres -- "$@"; fi
}

case "${1:-}" in
  start)
    if [ -z "$bin" ] || ! id postgres >/dev/null 2>&1; then exit 0; fi
    if [ "$(id -u)" != 0 ] && [ "$(id -un)" != postgres ]; then exit 0; fi
    dir=$(mktemp -d /tmp/quire-pg-XXXXXX)
    chown postgres "$dir"
    chmod 0711 "$dir"  # the socket must be reachable by the test user; the data stays 0700
    as_postgres "$bin/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --locale=C.UTF-8 >/dev/null
    port=$((20000 + RANDOM % 20000))
    as_postgres "$bin/pg_ctl" -D "$dir/data" -l "$dir/log" -w -o "-c listen_addresses='' -k $dir -p $port -c fsync=off -c max_connections=200" start >/dev/null
    as_postgres "$bin/createdb" -h "$dir" -p "$port" -U postgres quire
    echo "export QUIRE_PG_CLUSTER=$dir"
    echo "export QUIRE_TEST_PG='postgresql://${dir//\//%2F}:$port/quire'"
    echo "export PGUSER=postgres"
    ;;
  stop)
    dir=${2:?cluster directory}
    [ -d "$dir/data" ] && as_postgres "$bin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$dir"
    ;;
  *)
    echo "usage: $0 start | stop DIR" >&2
    exit 2
    ;;
esac
