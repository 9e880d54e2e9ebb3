#!/usr/bin/env bash
# listing_lock.sh: both clients of one contract send their listings at the
# same moment, client 1 to node A and client 2 to node B, and the contract's
# lock (a PostgreSQL advisory lock) must serialise the two nodes. Both clients
# are stopped, both get an edit, and both go on at once; the journey watches
# the database's lock table and stops node A (SIGSTOP) the moment it holds the
# contract's lock, rounds after round until it catches it there (how often
# that takes depends on the machine; the outcome does not). With node A
# stopped inside its turn: node B waits for the same lock, and keeps waiting,
# and the store does not change. Once node A goes on, node B gets its turn
# and every edit arrives everywhere.
# Usage: tests/cluster/listing_lock.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
cl_begin "$@"
files=300
rounds=60

# Enough files that planning a listing takes the lock for more than an instant.
mkdir -p "$kq_scratch/staging/many"
for ((i = 0; i < files; i++)); do printf 'file %d\n' "$i" >"$kq_scratch/staging/many/f$i.txt"; done
cl_move_in store many
cl_start

# The advisory locks as the database shows them, one line:
# "kqsyncd-A=t@CLASSID/OBJID/OBJSUBID kqsyncd-B=f@..." (t: held, f: waited for), "-" for none.
coproc LOCKS { psql -X -q -At "$cl_db"; }
locks() {
  echo "SELECT coalesce(string_agg(a.application_name || '=' || CASE WHEN l.granted THEN 't' ELSE 'f' END || '@' ||
        l.classid || '/' || l.objid || '/' || l.objsubid, ' ' ORDER BY a.application_name), '-')
        FROM pg_locks l JOIN pg_stat_activity a ON a.pid = l.pid WHERE l.locktype = 'advisory';" >&"${LOCKS[1]}"
  IFS= read -r -t 30 lock_table <&"${LOCKS[0]}" || jr_abort "the database does not answer"
}
# a_holds: node A holds an advisory lock now; sets lock_key to it.
a_holds() {
  locks
  lock_key=$(grep -oE 'kqsyncd-A=t@[0-9/]+' <<<"$lock_table" | head -n 1 | cut -d@ -f2)
  [ -n "$lock_key" ]
}
b_waits() { locks; grep -qF "kqsyncd-B=f@$lock_key" <<<"$lock_table"; }
b_has_turn() { locks; ! grep -qF "kqsyncd-B=f@" <<<"$lock_table"; }

caught=0
for ((round = 1; round <= rounds && !caught; round++)); do
  jr_pause client1 >/dev/null
  jr_pause client2 >/dev/null
  for n in 1 2; do cl_use "$n"; jr_write sync "round/$round-client$n.txt" "round $round of client $n"; done
  kill -CONT "${cl_client_pid[1]}" "${cl_client_pid[2]}"
  unset "jr_paused[client1]" "jr_paused[client2]"
  end=$((SECONDS + 15))
  while [ $SECONDS -lt $end ]; do
    if a_holds; then
      kill -STOP "${cl_node_pid[A]}"
      jr_paused[nodeA]=${cl_node_pid[A]}
      kq_poll_s=0.01 kq_wait 10 "node A is stopped" jr_is_stopped "${cl_node_pid[A]}" >/dev/null || jr_abort "node A did not stop"
      # Stopped, node A cannot let go: it holds the lock now or it let go before the stop.
      if a_holds; then caught=1; break; fi
      jr_resume nodeA >/dev/null
    fi
    has_text "$jr_store/round/$round-client1.txt" "round $round of client 1" &&
      has_text "$jr_store/round/$round-client2.txt" "round $round of client 2" && break
  done
done
if [ $caught = 0 ]; then
  jr_fail "node A was never seen holding the contract's lock in $rounds rounds"
else
  echo "== round $((round - 1)): node A is stopped while it holds the lock $lock_key"
  jr_fault_over
  jr_expect_wait 60 "node B waits for the same lock" b_waits
  jr_tree store; before=$jr_tree_out
  sleep 3
  jr_expect "node B is still waiting 3 s later" b_waits
  jr_tree store
  jr_expect "nobody changed the store while node A held the lock" test "$before" = "$jr_tree_out"
  jr_resume nodeA
  jr_fault_over
  jr_expect_wait 60 "node B has its turn once node A goes on" b_has_turn
fi
exec {LOCKS[1]}>&-
cl_verify
jr_expect "client 1 is still on node A" cl_client_on 1 A
jr_expect "client 2 is still on node B" cl_client_on 2 B
jr_end
