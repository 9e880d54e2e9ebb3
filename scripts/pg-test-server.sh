#!/usr/bin/env bash
# pg-test-server.sh runs a PostgreSQL server of the tests' own: a cluster of its
# own in DIR (DIR/data, its log DIR/postgresql.log), reachable only through the
# UNIX socket in DIR/sock unless TCP is asked for, with a database "kq" whose
# owner is the superuser "kq" (trust authentication: a test server only).
#
#   scripts/pg-test-server.sh start DIR [--tcp PORT] [--durable]
#       initialises DIR on first use, starts the server and prints one line:
#       the connection URL, postgresql:///kq?host=DIR/sock&user=kq
#       --tcp PORT  listen on 127.0.0.1:PORT as well
#       --durable   keep fsync on (for measurements; off by default, which
#                   loses nothing unless the machine itself stops)
#   scripts/pg-test-server.sh stop DIR     stops it (quiet when not running)
#   scripts/pg-test-server.sh url DIR      prints the URL again
#
# As root the server runs as the user "postgres" (Debian's packages create it;
# otherwise the system user "kqpg" is made): DIR is handed to that user and the
# folders above DIR are made traversable (o+x) if they are not. Works inside
# `unshare -n`: nothing but the UNIX socket is needed.
# The server programs come from $PG_BINDIR, else the newest
# /usr/lib/postgresql/*/bin, else PATH (scripts/install-deps.sh installs them).
# Exits 3 when they are missing.
set -euo pipefail

usage() { sed -n '2,24p' "$0" | sed 's/^# \{0,1\}//'; }
die() { echo "pg-test-server: $*" >&2; exit "${2:-1}"; }

find_bindir() {
  if [ -n "${PG_BINDIR:-}" ]; then echo "$PG_BINDIR"; return; fi
  local d best=""
  for d in /usr/lib/postgresql/*/bin; do
    [ -x "$d/initdb" ] && best=$d
  done
  if [ -z "$best" ] && command -v initdb >/dev/null 2>&1; then
    best=$(dirname "$(command -v initdb)")
  fi
  echo "$best"
}

cmd=${1:-}
case $cmd in
  start | stop | url) ;;
  -h | --help) usage; exit 0 ;;
  *) usage >&2; exit 2 ;;
esac
[ $# -ge 2 ] || die "$cmd needs the folder (try --help)" 2
dir=$2
shift 2
tcp_port="" durable=0
while [ $# -gt 0 ]; do
  case $1 in
    --tcp) [ $# -ge 2 ] || die "--tcp needs a port" 2; tcp_port=$2; shift 2 ;;
    --durable) durable=1; shift ;;
    *) die "unknown option $1 (try --help)" 2 ;;
  esac
done
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
data=$dir/data sock=$dir/sock log=$dir/postgresql.log
url="postgresql:///kq?host=$sock&user=kq"

if [ "$cmd" = url ]; then echo "$url"; exit 0; fi

bindir=$(find_bindir)
if [ -z "$bindir" ] || [ ! -x "$bindir/pg_ctl" ] || [ ! -x "$bindir/initdb" ]; then
  die "PostgreSQL's server programs (initdb, pg_ctl) are not installed; run scripts/install-deps.sh (package postgresql)" 3
fi

# as_owner CMD...: runs CMD as the user the cluster belongs to.
owner=""
if [ "$(id -u)" -eq 0 ]; then
  if id postgres >/dev/null 2>&1; then
    owner=postgres
  else
    id kqpg >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin kqpg
    owner=kqpg
  fi
fi
as_owner() {
  if [ -n "$owner" ]; then
    (cd "$dir" && runuser -u "$owner" -- "$@")
  else
    (cd "$dir" && "$@")
  fi
}

running() { [ -f "$data/postmaster.pid" ] && as_owner "$bindir/pg_ctl" status -D "$data" >/dev/null 2>&1; }

if [ "$cmd" = stop ]; then
  [ -d "$data" ] || exit 0
  running || exit 0
  as_owner "$bindir/pg_ctl" stop -D "$data" -m fast -w -t 60 >/dev/null
  exit 0
fi

# start
if [ -n "$owner" ]; then
  chown "$owner" "$dir"
  # The server must reach DIR: every folder above it needs search permission.
  p=$dir
  while [ "$p" != / ]; do
    p=$(dirname "$p")
    if ! runuser -u "$owner" -- test -x "$p"; then
      echo "pg-test-server: making $p traversable (o+x) for the server's user $owner" >&2
      chmod o+x "$p"
    fi
  done
fi
as_owner mkdir -p "$sock"
if [ ! -f "$data/PG_VERSION" ]; then
  as_owner "$bindir/initdb" -D "$data" -U kq --auth=trust --no-locale -E UTF8 >"$dir/initdb.log" 2>&1 ||
    die "initdb failed; see $dir/initdb.log"
fi
if running; then
  echo "$url"
  exit 0
fi
listen=""
[ -n "$tcp_port" ] && listen=127.0.0.1
options="-k $sock -c listen_addresses='$listen' -c unix_socket_permissions=0777"
[ -n "$tcp_port" ] && options+=" -p $tcp_port"
[ "$durable" -eq 1 ] || options+=" -c fsync=off -c full_page_writes=off"
options+=" -c max_connections=200 -c shared_buffers=32MB -c dynamic_shared_memory_type=mmap"
if ! as_owner "$bindir/pg_ctl" start -D "$data" -l "$log" -w -t 120 -o "$options" >/dev/null; then
  tail -n 20 "$log" >&2 2>/dev/null || true
  die "the server did not start; see $log"
fi
port_arg=()
[ -n "$tcp_port" ] && port_arg=(-p "$tcp_port")
exists=$(as_owner "$bindir/psql" -h "$sock" "${port_arg[@]}" -U kq -d postgres -tAc \
  "SELECT 1 FROM pg_database WHERE datname = 'kq'")
if [ "$exists" != 1 ]; then
  as_owner "$bindir/createdb" -h "$sock" "${port_arg[@]}" -U kq kq || die "could not create the database kq"
fi
if [ -n "$tcp_port" ]; then
  echo "postgresql:///kq?host=$sock&port=$tcp_port&user=kq"
else
  echo "$url"
fi
