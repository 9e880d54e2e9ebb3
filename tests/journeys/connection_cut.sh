#!/usr/bin/env bash
# connection_cut.sh: transfers cut off in the middle. A 300 MB store file on
# its way to the client loses its link (the loopback link goes down for 8 s,
# longer than the server's time-out), then a 300 MB file on its way from the
# sync folder to the store loses its server (killed, then started again).
# While a new version is incomplete the older copy stays; nothing cut off
# takes the place of a whole file; afterwards both sides agree, and no
# conflict copy is made of a file that only one side changed.
# Usage: tests/journeys/connection_cut.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"
jr_server_options=(--timeout 4)
size=300000000

jr_put store down.bin 1000000
jr_put sync up.bin 1000000
jr_start
old_down=$(jr_hash "$jr_sync/down.bin")
old_up=$(jr_hash "$jr_store/up.bin")

echo "== the link goes down while the store sends a new version"
jr_put store down.bin $size
new_down=$jr_put_sha
jr_wait_fast 60 "the download is under way" jr_receiving sync down.bin $((16 << 20)) $size ||
  jr_abort "the download was not seen under way"
ip link set lo down
echo "   link down with $(jr_size "$jr_sync/down.bin.kqpart") bytes in down.bin.kqpart, $(jr_size "$jr_sync/down.bin") in down.bin"
sleep 8  # longer than the server's time-out
jr_expect "the older copy stays in place while the new one is incomplete" \
  jr_is sync down.bin "$old_down"
ip link set lo up
jr_fault_over
jr_expect_arrival "the new version arrives whole" sync down.bin "$new_down"

echo "== the server is killed while it fetches a new version from the sync folder"
jr_put sync up.bin $size
new_up=$jr_put_sha
jr_wait_fast 60 "the upload is under way" jr_receiving store up.bin $((16 << 20)) $size ||
  jr_abort "the upload was not seen under way"
jr_kill_server
jr_expect "the store keeps its older copy while the new one is incomplete" \
  jr_is store up.bin "$old_up"
jr_restart_server
jr_fault_over
jr_expect_arrival "the new version reaches the store whole" store up.bin "$new_up"
jr_verify
jr_expect "no conflict copy: each new version was made on one side only" \
  test -z "$(find "$jr_store" "$jr_sync" -name '*(conflict *')"
jr_end
