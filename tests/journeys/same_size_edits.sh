#!/usr/bin/env bash
# same_size_edits.sh: edits that keep the size. The user edits files right
# after they arrived from the store (at once, 0.5 s and 1.5 s later); each edit
# must reach the store, and a later store edit of the same files must not wipe
# them out. The administrator edits store files twice within half a second,
# same size; the second content must reach the sync folder.
# Usage: tests/journeys/same_size_edits.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"

jr_write store base.txt "present from the start"
jr_start

echo "== the user edits files right after they arrived"
delays=(0 0.5 1.5)
for i in 0 1 2; do jr_write store "user$i.txt" "pushed by the store, file $i, AAAA"; done
for i in 0 1 2; do
  jr_wait_fast 30 "user$i.txt arrives" same_content "$jr_store/user$i.txt" "$jr_sync/user$i.txt" ||
    jr_abort "user$i.txt never arrived"
  sleep "${delays[$i]}"  # the user's pause before editing
  jr_write sync "user$i.txt" "edited by the user, file $i, BB"
done
jr_fault_over
for i in 0 1 2; do
  jr_expect_wait 30 "the user's edit of user$i.txt (same size) reaches the store" \
    has_text "$jr_store/user$i.txt" "edited by the user, file $i, BB"
done
sleep 1.1  # the administrator's next edit falls in a later second
for i in 0 1 2; do jr_write store "user$i.txt" "the administrator's later edit of file $i"; done

echo "== the administrator edits store files twice within half a second"
for i in 0 1 2 3; do jr_write store "admin$i.txt" "store edit one, file $i"; done
for i in 0 1 2 3; do
  jr_wait_fast 30 "admin$i.txt arrives" same_content "$jr_store/admin$i.txt" "$jr_sync/admin$i.txt" ||
    jr_abort "admin$i.txt never arrived"
  jr_write store "admin$i.txt" "store edit TWO, file $i"
  sleep 0.5
  jr_write store "admin$i.txt" "store edit 333, file $i"
done
jr_fault_over
for i in 0 1 2 3; do
  jr_expect_wait 30 "the second same-size edit of admin$i.txt reaches the sync folder" \
    has_text "$jr_sync/admin$i.txt" "store edit 333, file $i"
done
jr_verify
for i in 0 1 2; do
  jr_expect "the administrator's later edit of user$i.txt is in the sync folder" \
    has_text "$jr_sync/user$i.txt" "the administrator's later edit of file $i"
done
jr_end
