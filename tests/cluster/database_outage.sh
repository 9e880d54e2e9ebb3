#!/usr/bin/env bash
# database_outage.sh: the database goes away for a while (its server stopped)
# while both clients are in step, and both users go on writing meanwhile. No
# node deletes or replaces anything without the database: every file stays at
# both clients, and the store keeps what it had. A node whose database
# connection breaks ends with the database's error; the journey plays the
# service manager (Restart=on-failure) and starts such a node again once the
# server is back: every file written during the outage then reaches the
# store and the other client. This journey has a database server of its own
# (stopping it must not touch other journeys).
# Usage: tests/cluster/database_outage.sh [SCRATCH_FOLDER]
set -uo pipefail
unset KQ_CLUSTER_PG
source "$(dirname "$0")/lib.sh"
cl_begin "$@"
files=10

for ((i = 0; i < files; i++)); do cl_write_store "before/f$i.txt" "in the store before the outage $i"; done
cl_start

echo "== the database server stops"
bash "$cl_pg_script" stop "$cl_own_pg" || jr_abort "the database server does not stop"
for n in 1 2; do
  mkdir -p "$kq_scratch/staging/during/client$n"
  for ((i = 0; i < files; i++)); do
    printf 'written at client %d during the outage %d' $n $i >"$kq_scratch/staging/during/client$n/f$i.txt"
  done
  cl_move_in "sync$n" "during/client$n"
done
# The clients end cycles or try again for a while; nothing of theirs may go.
for n in 1 2; do cl_use "$n"; kq_wait_cycles "$jr_clog" 2 60 >/dev/null 2>&1 || true; done
sleep 5
for n in 1 2; do
  jr_expect "client $n keeps every file during the outage" \
    test "$(find "$kq_scratch/sync$n/before" "$kq_scratch/sync$n/during/" -type f -name '*.txt' 2>/dev/null | wc -l)" -ge $((2 * files))
done
jr_expect "the store keeps its files during the outage" \
  test "$(find "$jr_store/before" -type f | wc -l)" -eq $files
# runs_or_ended_on_database NODE: the node runs, or it ended with the database's error.
runs_or_ended_on_database() {
  kill -0 "${cl_node_pid[$1]}" 2>/dev/null || tail -n 3 "$(cl_node_log "$1")" | grep -q '^kqsyncd: database '
}
for node in A B; do
  jr_expect "node $node runs on or ends with the database's error" runs_or_ended_on_database "$node"
done

echo "== the database server is back"
bash "$cl_pg_script" start "$cl_own_pg" >/dev/null || jr_abort "the database server does not start again"
for node in A B; do
  if ! kill -0 "${cl_node_pid[$node]}" 2>/dev/null; then
    wait "${cl_node_pid[$node]}" 2>/dev/null
    kq_forget "${cl_node_pid[$node]}"
    echo "== node $node is started again, as its service manager would"
    cl_start_node "$node"
  fi
done
jr_fault_over
cl_verify
for n in 1 2; do
  other=$((3 - n))
  jr_expect "client $n's files written during the outage are at client $other" \
    test "$(find "$kq_scratch/sync$other/during/client$n" -name 'f*.txt' | wc -l)" -eq $files
done
jr_end
