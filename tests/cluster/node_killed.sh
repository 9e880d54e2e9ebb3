#!/usr/bin/env bash
# node_killed.sh: node A dies (SIGKILL) in the middle of a cycle, while it
# pushes a large new store file to client 1; client 1 has a change of its own
# waiting. Node A is stopped (SIGSTOP) once the push is seen under way at the
# client, so the kill certainly falls in the middle of it, then killed.
# Client 1 reconnects through the balancer, which skips the dead node, to node
# B; node B carries on: the file reaches client 1 whole, client 1's change
# reaches the store and client 2, nothing is lost, no conflict is made.
# Usage: tests/cluster/node_killed.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
cl_begin "$@"
size=150000000

cl_write_store seed.txt "the first file"
cl_start

echo "== a $size-byte file appears in the store; node A pushes it to client 1"
cl_put_store big.bin $size
big=$jr_put_sha
cl_use 1
jr_wait_fast 120 "node A's push to client 1 is under way" jr_receiving sync big.bin $((8 << 20)) $size ||
  jr_abort "the push to client 1 was not seen under way"
jr_pause nodeA
echo "   node A stopped with $(jr_size "$jr_sync/big.bin.kqpart") bytes in client 1's big.bin.kqpart"
jr_expect "client 1 is on node A at that moment" cl_client_on 1 A
jr_write sync waiting/change-of-client-1.txt "written while node A was stopped in the middle of a push"
jr_expect "no incomplete big.bin takes the place of a whole file at client 1" absent "$jr_sync/big.bin"
cl_kill_node A
jr_fault_over

jr_expect_wait 60 "client 1 reconnects, now to node B" cl_client_on 1 B
jr_expect "the balancer skipped the dead node" log_has "$kq_scratch/balancer.log" \
  "back end 127.0.0.1:${cl_node_port[A]} refused (Connection refused)"
jr_expect_arrival "big.bin reaches client 1 whole through node B" sync big.bin "$big"
cl_use 2
jr_expect_wait 60 "client 1's change reaches client 2" \
  has_text "$kq_scratch/sync2/waiting/change-of-client-1.txt" "written while node A was stopped in the middle of a push"
cl_verify
jr_expect "node B pushed big.bin to both clients" test "$(cl_log_count B 'pushed /big.bin')" -ge 2
jr_expect "node B fetched client 1's change" test "$(cl_log_count B 'fetched /waiting/change-of-client-1.txt')" -ge 1
jr_expect "no conflict copy anywhere" \
  test -z "$(find "$jr_store" "$kq_scratch/sync1" "$kq_scratch/sync2" -name '*(conflict *')"
jr_end
