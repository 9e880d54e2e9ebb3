#!/usr/bin/env bash
# same_size_edits.sh: edits right after a transfer, most of them keeping the
# size. The user edits files right after they arrived from the store (at once,
# 0.5 s and 1.5 s later, same size; one made shorter); each edit must reach the
# store, and a later store edit of the same files must not wipe them out. The administrator edits store files twice within half a second,
# same size; the second content must reach the sync folder.
# Usage: tests/journeys/same_size_edits.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"

jr_write store base.txt "present from the start"
jr_start

echo "== the user edits files right after they arrived"
# name, the user's pause after the arrival, the user's text; the store's text
# is "pushed by the store: NAME". Same size as what arrived, or shorter.
edits=(
  "same0 0   edited by the users: same0"
  "same1 0.5 edited by the users: same1"
  "same2 1.5 edited by the users: same2"
  "short 0.5 cut short by the user"
)
for e in "${edits[@]}"; do read -r name _ <<<"$e"; jr_write store "$name.txt" "pushed by the store: $name"; done
for e in "${edits[@]}"; do
  read -r name pause text <<<"$e"
  jr_wait_fast 30 "$name.txt arrives" same_content "$jr_store/$name.txt" "$jr_sync/$name.txt" ||
    jr_abort "$name.txt never arrived"
  sleep "$pause"  # the user's pause before editing
  jr_write sync "$name.txt" "$text"
done
jr_fault_over
for e in "${edits[@]}"; do
  read -r name pause text <<<"$e"
  jr_expect_wait 30 "the user's edit of $name.txt ($pause s after it arrived) reaches the store" \
    has_text "$jr_store/$name.txt" "$text"
done
sleep 1.1  # the administrator's next edit falls in a later second
for e in "${edits[@]}"; do read -r name _ <<<"$e"; jr_write store "$name.txt" "the administrator's later edit of $name"; done

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
jr_expect "no conflict copy: no file was changed on both sides at once" \
  test -z "$(find "$jr_store" "$jr_sync" -name '*(conflict *')"
for e in "${edits[@]}"; do
  read -r name _ <<<"$e"
  jr_expect "the administrator's later edit of $name.txt is in the sync folder" \
    has_text "$jr_sync/$name.txt" "the administrator's later edit of $name"
done
jr_end
