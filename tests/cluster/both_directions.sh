#!/usr/bin/env bash
# both_directions.sh: two clients of one contract, client 1 on node A and
# client 2 on node B, and the administrator, all add and change files at once:
# what each client copies in reaches the store and the other client through the
# other node, what the administrator writes reaches both, and a deletion made
# at one client is carried out at the other. Each node fetches its own
# client's files; neither client is ever moved to the other node.
# Usage: tests/cluster/both_directions.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
cl_begin "$@"
files=40

cl_write_store shared/seed.txt "in the store before the clients came"
cl_write_store shared/doomed.txt "deleted at client 2 later"
cl_start

echo "== both clients and the administrator copy in $files files each, at once"
for who in from1 from2 admin; do
  mkdir -p "$kq_scratch/staging/$who"
  for ((i = 0; i < files; i++)); do
    case $who in admin) text="administrator file $i" ;; *) text="client ${who#from} file $i" ;; esac
    printf '%s' "$text" >"$kq_scratch/staging/$who/f$i.txt"
  done
done
cl_move_in sync1 from1
cl_move_in sync2 from2
cl_move_in store admin
for n in 1 2; do cl_use "$n"; jr_write sync "shared/edited-by-$n.txt" "an edit of client $n"; done
cl_use 2
cl_rm shared/doomed.txt
jr_fault_over

# arrived SYNC_N FROM_N: every file of client FROM_N is in sync folder SYNC_N.
arrived() {
  local i
  for ((i = 0; i < files; i++)); do
    has_text "$kq_scratch/sync$1/from$2/f$i.txt" "client $2 file $i" || return 1
  done
}
jr_expect_wait 60 "client 1's files reach client 2" arrived 2 1
jr_expect_wait 60 "client 2's files reach client 1" arrived 1 2
jr_expect_wait 60 "client 2's deletion is carried out at client 1" absent "$kq_scratch/sync1/shared/doomed.txt"
cl_verify
jr_expect "node A fetched client 1's files" test "$(cl_log_count A 'fetched /from1/')" -ge $files
jr_expect "node B fetched client 2's files" test "$(cl_log_count B 'fetched /from2/')" -ge $files
jr_expect "node A fetched nothing of client 2's" test "$(cl_log_count A 'fetched /from2/')" -eq 0
jr_expect "node B pushed client 1's files to client 2" test "$(cl_log_count B 'pushed /from1/')" -ge $files
jr_expect "client 1 is still on node A" cl_client_on 1 A
jr_expect "client 2 is still on node B" cl_client_on 2 B
jr_expect "no conflict copy anywhere (nobody edited the same file)" \
  test -z "$(find "$jr_store" "$kq_scratch/sync1" "$kq_scratch/sync2" -name '*(conflict *')"
jr_end
