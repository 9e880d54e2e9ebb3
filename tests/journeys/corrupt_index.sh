#!/usr/bin/env bash
# corrupt_index.sh: one of two contracts' index is damaged on disk while
# kqsyncd is stopped (its pages overwritten, as a failing disk would). kqsyncd
# starts anyway: the damaged contract is not served, with one log line per
# connection of its client naming the file, and the other contract goes on
# syncing. `kqsyncd check` names the damaged index and fails;
# `kqsyncd index rebuild --contract N`, run beside the running server, makes
# it anew from the store; the contract is served again at its client's next
# connection, the edit its user made meanwhile reaches the store, and no
# conflict copy is made of the files both sides already held.
# The second contract's client and watcher run in a network namespace of their
# own (the watcher port is fixed), reaching kqsyncd over a veth pair.
# Usage: tests/journeys/corrupt_index.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"
jr_server_options=(--host 0.0.0.0)
other=7401 other_key=JOURNEY7401
other_store=$kq_scratch/store-$other other_sync=$kq_scratch/sync-$other
mkdir -p "$other_store" "$other_sync"
index=$jr_data/index/$jr_contract.sqlite
"$KQSYNCD" --data "$jr_data" account add --contract $other --key $other_key --store "$other_store" >/dev/null ||
  jr_abort "the second account cannot be added"

# Enough entries that the index spans many pages.
for i in $(seq 1 150); do jr_write store "docs/folder-$((i % 5))/report-with-a-long-name-$i.txt" "report $i"; done
jr_start
ns=kqjr$$
kq_netns_create "$ns" 41 || jr_abort "no namespace for the second client"
kq_start_client "$kq_scratch/prog-$other" "$other_sync" $other $other_key 10.213.41.1 "$ns" ||
  jr_abort "the second client cannot be started"
echo "first of $other" >"$other_store/first.txt"
kq_wait 60 "the second contract synchronises" same_content "$other_store/first.txt" "$other_sync/first.txt" ||
  jr_abort "the second contract does not synchronise"

echo "== kqsyncd stops and the index of contract $jr_contract is damaged"
kq_stop "$kq_server_pid"
kq_forget "$kq_server_pid"
size=$(stat -c %s "$index")
[ "$size" -gt 8192 ] || jr_abort "the index holds only $size bytes"
# Every page but the first (the schema) is overwritten.
head -c $((size - 4096)) /dev/zero | tr '\0' '\245' | dd of="$index" bs=4096 seek=1 conv=notrunc status=none
rm -f "$index-wal" "$index-shm"
log_lines() { grep -cF "not serving contract $jr_contract: its index $index is damaged (" "$jr_slog"; }
jr_restart_server
at_least() { [ "$("$1")" -ge "$2" ]; }
jr_expect_wait 30 "kqsyncd names the damaged index" at_least log_lines 1
jr_expect_wait 40 "it says so again at the client's next connection, once per connection" at_least log_lines 2
jr_expect "kqsyncd keeps running" kill -0 "$kq_server_pid"
jr_expect "the damaged index is in SQLite's words" grep -qE "is damaged \(database disk image is malformed" "$jr_slog"

echo "== the other contract is served meanwhile"
echo "written at the second client" >"$other_sync/up.txt"
echo "written in the second store" >"$other_store/down.txt"
jr_expect_wait 60 "a change at the second client reaches its store" same_content "$other_sync/up.txt" "$other_store/up.txt"
jr_expect_wait 60 "a change in the second store reaches its client" same_content "$other_store/down.txt" "$other_sync/down.txt"
jr_write sync docs/edited-while-down.txt "written by the user while the contract was not served"

echo "== the administrator checks and rebuilds"
out=$("$KQSYNCD" --data "$jr_data" check 2>&1)
status=$?
echo "$out" | sed 's/^/   /'
jr_expect "kqsyncd check fails" test $status -eq 1
jr_expect "kqsyncd check names the damaged index" grep -qF "$(printf '%s\tdamaged\t%s: ' $jr_contract "$index")" <<<"$out"
jr_expect "kqsyncd check finds the other index sound" grep -qxF "$(printf '%s\tok\t%s' $other "$jr_data/index/$other.sqlite")" <<<"$out"
out=$("$KQSYNCD" --data "$jr_data" index rebuild --contract $jr_contract 2>&1)
status=$?
echo "   $out"
jr_expect "the index is rebuilt beside the running server" test $status -eq 0
jr_expect "the rebuild says what it did" grep -qE "^rebuilt the index of contract $jr_contract from $jr_store: 15[0-9] entries; the old index is kept as $index\.damaged-" <<<"$out"
jr_expect "kqsyncd check passes now" "$KQSYNCD" --data "$jr_data" check
jr_fault_over
jr_expect_wait 40 "the contract is served again" log_has "$jr_slog" "the index of contract $jr_contract is sound again: the contract is served"
jr_expect_arrival "the edit made meanwhile reaches the store" store docs/edited-while-down.txt "$(jr_hash "$jr_sync/docs/edited-while-down.txt")"
jr_verify
jr_expect "no conflict copy of the files both sides held" \
  test -z "$(find "$jr_store" "$jr_sync" "$other_store" "$other_sync" -name '*(conflict *')"
jr_end
