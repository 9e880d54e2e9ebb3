#!/usr/bin/env bash
# deletions_spread.sh: deletions that the client's listings show bit by bit,
# the client running without its watcher. First a folder of 100 files is
# removed while a listing is taken: that listing sees 30 files gone (an rm -r
# under way), the next one the whole folder. The 30 are not deleted on the
# strength of one listing, and the whole folder is held by the mass-deletion
# guard. Then the user deletes 30 loose files, which go, and 30 more a moment
# later: spread over listings, the 60 are counted together and the second 30
# are held. The administrator confirms both: gone everywhere, kept as versions.
# Usage: tests/journeys/deletions_spread.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"
jr_server_options=(--listen 127.0.0.1:$jr_server_port)
in_folder=100 loose=80

jr_start_forwarder

# write_many: the administrator's files, written at once and recorded in one pass.
write_many() {
  local i
  mkdir -p "$jr_store/big"
  for i in $(seq 1 $in_folder); do printf 'file %s of the folder' "$i" >"$jr_store/big/f-$(printf %03d "$i").txt"; done
  for i in $(seq 1 $loose); do printf 'loose file %s' "$i" >"$jr_store/loose-$(printf %02d "$i").txt"; done
  (cd "$jr_store" && find big loose-*.txt -type f -print0 | xargs -0 sha256sum) |
    while read -r sha path; do
      jr_seen "$sha" "$(jr_size "$jr_store/$path")" store "$path"
      jr_event write store "$path" "$sha"
    done
}
count() { find "$1" -path "$1/_*" -prune -o -type f -path "$1/$2" -print 2>/dev/null | wc -l; }
count_is() { [ "$(count "$1" "$2")" -eq "$3" ]; }
held_lines() { grep -cE "[0-9]+ deletions? held \(" "$jr_slog"; }
more_than() { [ "$("$1")" -gt "$2" ]; }
deletions() { "$KQSYNCD" --data "$jr_data" deletions "$1" --contract $jr_contract; }
listings() { grep -cF ' : ANLST listing: ' "$jr_clog"; }
listed_files() { grep -F ' : ANLST listing: ' "$jr_clog" | tail -n 1 | sed -n 's/.*(\([0-9]*\) files.*/\1/p'; }
listing_holds() { [ "$(listed_files)" -ge "$1" ] 2>/dev/null; }

# user_rm PATH...: the user deletes these files (relative to the sync folder).
user_rm() {
  local p
  for p in "$@"; do jr_event delete sync "$p" -; rm -f "$jr_sync/$p"; done
}

jr_write store keep.txt "stays on both sides"
write_many
jr_start
kq_stop "$kq_watcher_pid"
kq_forget "$kq_watcher_pid"
echo "== the watcher is stopped"
kq_wait 120 "a listing holds every file" listing_holds $((in_folder + loose + 1)) >/dev/null ||
  jr_abort "no listing holds every file"

echo "== a listing catches the folder's removal under way"
jr_pause_waiting client
user_rm $(printf 'big/f-%03d.txt\n' $(seq 1 30))
kill -WINCH $jr_forwarder  # the server's next request waits once the client answered one listing
jr_resume client
kq_wait 60 "the client answers one listing that lacks 30 of the folder's files" \
  log_has "$kq_scratch/forwarder.log" "holding: a listing answer passed" || jr_abort "no listing was answered"
jr_expect_wait 30 "kqsyncd says the 30 wait for the next listing" \
  grep -qF "30 entries (30 files) are gone from the client's last listing; deleted in the store only if the next listing lacks them too" "$jr_slog"
jr_expect "nothing is deleted in the store on the strength of one listing" count_is "$jr_store" 'big/*' $in_folder
jr_pause_waiting client
for f in "$jr_sync"/big/*; do jr_event delete sync "${f#"$jr_sync"/}" -; done
rm -rf "$jr_sync/big"
kill -WINCH $jr_forwarder
jr_resume client
jr_expect_wait 60 "kqsyncd holds the folder's deletion" more_than held_lines 0
jr_expect "the guard counted the whole folder" grep -qF "are gone from the client's listings within 5 minutes" "$jr_slog"
kq_wait_cycles "$jr_clog" 3 >/dev/null
jr_expect "nothing of the folder is deleted in the store" count_is "$jr_store" 'big/*' $in_folder
jr_expect "nothing of it is pushed back" count_is "$jr_sync" 'big/*' 0
jr_expect "the folder is the held deletion" test "$(deletions list)" = /big
out=$(deletions confirm)
echo "   $out"
jr_expect_wait 60 "the confirmed folder's deletion reaches the store" count_is "$jr_store" 'big/*' 0

echo "== the user deletes 30 loose files, then 30 more"
jr_pause_waiting client
user_rm $(printf 'loose-%02d.txt\n' $(seq 1 30))
jr_resume client
jr_expect_wait 60 "the first 30 deletions reach the store" count_is "$jr_store" 'loose-*' $((loose - 30))
held_before=$(held_lines)
jr_pause_waiting client
user_rm $(printf 'loose-%02d.txt\n' $(seq 31 60))
jr_resume client
jr_expect_wait 60 "kqsyncd holds the second 30: with the first, more than the guard takes" \
  more_than held_lines "$held_before"
kq_wait_cycles "$jr_clog" 3 >/dev/null
jr_expect "the second 30 stay in the store" count_is "$jr_store" 'loose-*' $((loose - 30))
jr_expect "and are not pushed back" count_is "$jr_sync" 'loose-*' $((loose - 60))
jr_expect "they are the held deletions" test "$(deletions list | grep -cE '^/loose-(3[1-9]|[45][0-9]|60)\.txt$')" -eq 30
out=$(deletions confirm)
echo "   $out"
jr_fault_over
jr_expect_wait 60 "the confirmed deletions reach the store" count_is "$jr_store" 'loose-*' $((loose - 60))
jr_expect "every deleted file is among the versions" \
  test "$("$KQSYNCD" --data "$jr_data" versions list --contract $jr_contract | grep -cE '/(big/f-[0-9]+|loose-[0-9]+)\.txt$')" -eq $((in_folder + 60))
jr_expect "nothing is held any more" test -z "$(deletions list)"
jr_verify
jr_end
