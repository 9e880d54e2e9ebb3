#!/usr/bin/env bash
# deleted_after_download.sh: the user deletes a file moments after it arrived
# from the store (0.2, 1 and 3 seconds after). Each deletion is the user's: it
# reaches the store, the file does not come back, and nothing else goes.
# Usage: tests/journeys/deleted_after_download.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"

jr_write store keep.txt "this file stays on both sides"
jr_write store docs/keep2.txt "this one too"
jr_start

for delay in 0.2 1 3; do
  f=fresh-$delay.txt
  jr_write store "$f" "arrives, and the user deletes it $delay s later"
  kq_wait 30 "$f arrives" same_content "$jr_store/$f" "$jr_sync/$f" || jr_abort "$f never arrived"
  sleep "$delay"  # the user's pause before deleting it
  jr_rm sync "$f"
done
jr_fault_over
for delay in 0.2 1 3; do
  jr_expect_wait 30 "the deletion of fresh-$delay.txt reaches the store" absent "$jr_store/fresh-$delay.txt"
done
jr_verify
jr_end
