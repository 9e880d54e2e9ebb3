#!/usr/bin/env bash
# disk_full.sh: the sync folder is on a small disk (a 4 MiB tmpfs). The
# administrator replaces a 1 MB store file by a 6 MB one that cannot fit, and a
# 5-byte file by another. The client keeps its older copy of the large file,
# the small one arrives, the store keeps both new versions; once the disk is
# made larger, the large file arrives too.
# Usage: tests/journeys/disk_full.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"

mount -t tmpfs -o size=4m kq-small-disk "$jr_sync" || jr_abort "cannot mount a small disk"
jr_write store small.txt "12345"
jr_put store big.bin 1000000
jr_start
old_big=$(jr_hash "$jr_sync/big.bin")

sleep 3  # the first transfers are some seconds old: the edits below do not race them
echo "== the new versions do not fit the client's disk"
# The server's push of big.bin (a line saying it was pushed, or did not take).
big_pushes() { grep -cE 'push(ed| of) /big\.bin' "$jr_slog"; }
pushes_before=$(big_pushes)
jr_put store big.bin 6000000
new_big=$jr_put_sha
jr_write store small.txt "67890"
tried_big() { [ "$(big_pushes)" -gt "$pushes_before" ]; }
kq_wait 30 "the server tries to push the large file" tried_big || jr_abort "no push of big.bin"
jr_expect_wait 30 "the new small file arrives despite the full disk" has_text "$jr_sync/small.txt" "67890"
jr_expect "the client keeps its older copy of the large file" jr_is sync big.bin "$old_big"
jr_expect "the store keeps the new large file whole" test "$(jr_size "$jr_store/big.bin")" -eq 6000000

echo "== the disk is made larger"
mount -o remount,size=64m "$jr_sync" || jr_abort "cannot enlarge the disk"
jr_fault_over
jr_verify
jr_expect "the new large file is in the sync folder" jr_is sync big.bin "$new_big"
jr_expect "the new small file is in the store" has_text "$jr_store/small.txt" "67890"
jr_end
