#!/usr/bin/env bash
# deleted_after_download.sh: the user deletes a file moments after it arrived
# from the store (0.2, 1 and 3 seconds after). Each deletion is the user's: it
# reaches the store, the file does not come back, and nothing else goes.
# Then the watcher stops, and the user deletes 20 files the moment they have
# all arrived, before any listing of the client's could show them: kqsyncd
# learns of it only from listings, and still the deletions reach the store and
# the files stay gone however often pushes are tried again.
# Usage: tests/journeys/deleted_after_download.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"

jr_write store keep.txt "this file stays on both sides"
jr_write store docs/keep2.txt "this one too"
# A shelf of files that stay, so that the 20 deleted later are well below the
# mass-deletion guard (half of the store's files).
mkdir -p "$jr_store/shelf"
for i in $(seq 1 60); do printf 'shelf file %s' "$i" >"$jr_store/shelf/s-$i.txt"; done
(cd "$jr_store" && find shelf -type f -print0 | xargs -0 sha256sum) | while read -r sha path; do
  jr_seen "$sha" "$(jr_size "$jr_store/$path")" store "$path"
  jr_event write store "$path" "$sha"
done
jr_start

for delay in 0.2 1 3; do
  f=fresh-$delay.txt
  jr_write store "$f" "arrives, and the user deletes it $delay s later"
  kq_wait 30 "$f arrives" same_content "$jr_store/$f" "$jr_sync/$f" || jr_abort "$f never arrived"
  sleep "$delay"  # the user's pause before deleting it
  jr_rm sync "$f"
done
for delay in 0.2 1 3; do
  jr_expect_wait 30 "the deletion of fresh-$delay.txt reaches the store" absent "$jr_store/fresh-$delay.txt"
done

kq_stop "$kq_watcher_pid"
kq_forget "$kq_watcher_pid"
echo "== the watcher is stopped"
batch=20
arrived() { find "$jr_sync/batch" -maxdepth 1 -type f -name 'f-*.txt' 2>/dev/null | wc -l; }
all_arrived() { [ "$(arrived)" -eq $batch ]; }
none_in() { [ -z "$(find "$1/batch" -maxdepth 1 -type f -name 'f-*' 2>/dev/null)" ]; }
for i in $(seq 1 $batch); do jr_write store "batch/f-$i.txt" "file $i, deleted the moment it arrives"; done
jr_wait_fast 90 "the $batch files arrive" all_arrived || jr_abort "the files never all arrived"
jr_pause client
for i in $(seq 1 $batch); do jr_rm sync "batch/f-$i.txt"; done
jr_resume client
jr_fault_over
jr_expect_wait 60 "the $batch deletions reach the store" none_in "$jr_store"
# A push that seemed not to take is tried again after 10 s, then 20 s: the
# files must not come back with it.
kq_wait_cycles "$jr_clog" 3 >/dev/null
sleep 25
kq_wait_cycles "$jr_clog" 2 >/dev/null
jr_expect "the files do not come back to the sync folder" none_in "$jr_sync"
jr_expect "the store keeps them among its versions" \
  test "$("$KQSYNCD" --data "$jr_data" versions list --contract $jr_contract | grep -c '/batch/f-')" -eq $batch
jr_verify
jr_end
