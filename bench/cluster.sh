#!/usr/bin/env bash
# bench/cluster.sh: what a cluster of kqsyncd nodes costs, on three setups:
#   sqlite-1  one node on its SQLite data folder
#   pg-1      one node on PostgreSQL
#   pg-2      two nodes on one PostgreSQL database and one store, behind kq_balancer
# In each, two clients (real kqfilesync + zrservice) of one contract reach the
# nodes through kq_balancer (on pg-2 one client per node). Measured:
#   upload     KQ_BENCH_FILES files of KQ_BENCH_BYTES (2,000 x 4 KiB) moved at
#              once into client 1's sync folder: files a second until all are
#              in the store;
#   to client 2  ... until all are in client 2's sync folder too (through the
#              other node on pg-2);
#   cycles/s   then, with those files in the store, the synchronisation cycles
#              both clients end together per second over KQ_BENCH_SECONDS (20),
#              with the nodes' shortest pause between cycles (0.2 s).
# PostgreSQL runs with fsync on (scripts/pg-test-server.sh --durable). Prints a
# Markdown table with the date, the commit and the load average. Needs root
# (namespaces). Not run in CI.
# Usage: bench/cluster.sh [SETUP...]   (default: all three; KQ_BENCH_ONE=SETUP runs one, inside)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
files=${KQ_BENCH_FILES:-2000}
bytes=${KQ_BENCH_BYTES:-4096}
seconds=${KQ_BENCH_SECONDS:-20}

# One setup, in namespaces of its own: prints "result<TAB>SETUP<TAB>upload<TAB>to client 2<TAB>cycles/s".
if [ -n "${KQ_BENCH_ONE:-}" ]; then
  setup=$KQ_BENCH_ONE
  source "$here/../tests/cluster/lib.sh"
  cl_sampling=0
  cl_node_options=(--cycle 0.2)
  case $setup in
    sqlite-1) cl_backend=sqlite cl_nodes=(A) ;;
    pg-1) cl_nodes=(A) ;;
    pg-2) cl_nodes=(A B) ;;
    *) echo "cluster bench: unknown setup $setup" >&2; exit 2 ;;
  esac
  cl_begin "$@"
  cl_start >&2
  python3 - "$kq_scratch/staging/small" "$files" "$bytes" <<'PY'
import os, sys
root, n, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(n):
    d = os.path.join(root, "d%02d" % (i // 100))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%05d.dat" % i), "wb") as f:
        f.write(os.urandom(size))
PY
  count() { find "$1/small" -type f ! -name '*.kqpart' 2>/dev/null | wc -l; }
  rate() { python3 -c "import sys; print('%.1f' % (float(sys.argv[1]) / float(sys.argv[2])))" "$@"; }
  now() { date +%s.%N; }
  all_in() { [ "$(count "$1")" -ge "$files" ]; }
  # The staging folder is on the sync folder's file system: one rename moves them in.
  t0=$(now)
  mv "$kq_scratch/staging/small" "$kq_scratch/sync1/small"
  kq_poll_s=0.2 kq_wait 1800 "the files are in the store" all_in "$jr_store" >&2 || exit 1
  t1=$(now)
  kq_poll_s=0.2 kq_wait 1800 "the files are at client 2" all_in "$kq_scratch/sync2" >&2 || exit 1
  t2=$(now)
  c0=$(($(kq_cycles "$kq_scratch/sync1/_log/Filesync.log") + $(kq_cycles "$kq_scratch/sync2/_log/Filesync.log")))
  sleep "$seconds"
  c1=$(($(kq_cycles "$kq_scratch/sync1/_log/Filesync.log") + $(kq_cycles "$kq_scratch/sync2/_log/Filesync.log")))
  printf 'result\t%s\t%s\t%s\t%s\n' "$setup" "$(rate "$files" "$(python3 -c "print($t1 - $t0)")")" \
    "$(rate "$files" "$(python3 -c "print($t2 - $t0)")")" "$(rate $((c1 - c0)) "$seconds")"
  exit 0
fi

[ "$(id -u)" -eq 0 ] || { echo "cluster bench: root is needed (namespaces)" >&2; exit 1; }
setups=("$@")
[ ${#setups[@]} -gt 0 ] || setups=(sqlite-1 pg-1 pg-2)
scratch=$(mktemp -d /tmp/kq-bench-cluster.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
echo "| setup | upload files/s | to client 2 files/s | cycles/s |"
echo "|---|---|---|---|"
for setup in "${setups[@]}"; do
  out=$(KQ_PG_DURABLE=1 KQ_BENCH_ONE=$setup bash "$0" "$scratch/$setup" 2>"$scratch/$setup.log" | grep '^result')
  if [ -n "$out" ]; then
    IFS=$'\t' read -r _ name up down cycles <<<"$out"
    echo "| $name | $up | $down | $cycles |"
  else
    echo "| $setup | failed: $(grep -m1 FAILED "$scratch/$setup.log" || tail -n 1 "$scratch/$setup.log") | | |"
    cp "$scratch/$setup.log" "/tmp/kq-bench-cluster-$setup.log" && echo "(log kept in /tmp/kq-bench-cluster-$setup.log)" >&2
  fi
done
echo
echo "$(date -u +%F) commit $(git -C "$here/.." rev-parse --short HEAD)," \
  "$files files of $bytes bytes, cycles over $seconds s;" \
  "load average $load_before before, $(cut -d' ' -f1-3 /proc/loadavg) after ($(nproc) cores)"
