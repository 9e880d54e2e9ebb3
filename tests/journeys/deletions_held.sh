#!/usr/bin/env bash
# deletions_held.sh: the user deletes 200 files and a 1,000-file folder while
# the client runs without its watcher, so kqsyncd learns of it only from the
# client's listings. The mass-deletion guard holds the deletions: nothing is
# deleted in the store and nothing is pushed back into the sync folder, cycle
# after cycle, and `kqsyncd deletions list` shows them. The administrator
# rejects them: the files go back to the sync folder. The user deletes them
# again; the administrator confirms: they are gone from both sides and kept
# among the store's versions.
# Usage: tests/journeys/deletions_held.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"
loose=200 inside=1000
held_line="deletions held ("

# write_many: the administrator's 1,200 files, written at once and recorded in
# one pass (one jr_write each would take minutes on a busy machine).
write_many() {
  local i
  mkdir -p "$jr_store"/big/part-{0..9}
  for i in $(seq 1 $loose); do printf 'loose file %s' $i >"$jr_store/loose-$i.txt"; done
  for i in $(seq 1 $inside); do printf 'file %s of the big folder' $i >"$jr_store/big/part-$((i % 10))/file-$i.txt"; done
  (cd "$jr_store" && find loose-*.txt big -type f -print0 | xargs -0 sha256sum) |
    while read -r sha path; do
      jr_seen "$sha" "$(jr_size "$jr_store/$path")" store "$path"
      jr_event write store "$path" "$sha"
    done
}
jr_write store keep.txt "stays on both sides"
write_many
jr_start
kq_stop "$kq_watcher_pid"
kq_forget "$kq_watcher_pid"
echo "== the watcher is stopped"

count_files() { find "$1" -path "$1/_*" -prune -o -type f \( -name 'loose-*' -o -path '*/big/*' \) -print | wc -l; }
held_lines() { grep -cF "$held_line" "$jr_slog"; }
more_than() { [ "$("$1")" -gt "$2" ]; }
count_is() { [ "$(count_files "$1")" -eq "$2" ]; }
cycles_at_least() { [ "$(kq_cycles "$jr_clog")" -ge "$1" ]; }
deletions() { "$KQSYNCD" --data "$jr_data" deletions "$1" --contract $jr_contract; }

# delete_all: the user deletes the loose files and the big folder in one go,
# as far as the client can tell: it sees the whole deletion in its next listing.
delete_all() {
  jr_pause_waiting client
  rm -rf "$jr_sync"/loose-*.txt "$jr_sync/big"
  jr_resume client
}

# expect_held: the guard holds the deletions and keeps holding them.
expect_held() {
  local before=$1
  jr_expect_wait 60 "kqsyncd holds the deletions and says so" more_than held_lines "$before"
  jr_expect "its log says what to do" \
    grep -qF "deletions held (" "$jr_slog"
  grep -F "$held_line" "$jr_slog" | tail -n 1 | sed 's/^/   /'
  local cycles
  cycles=$(kq_cycles "$jr_clog")
  kq_wait 60 "five more cycles pass" cycles_at_least $((cycles + 5)) >/dev/null
  jr_expect "nothing is deleted in the store" test "$(count_files "$jr_store")" -eq $((loose + inside))
  jr_expect "nothing is pushed back into the sync folder" test "$(count_files "$jr_sync")" -eq 0
  jr_expect "the held deletions are listed: the loose files and the folder" \
    test "$(deletions list | tee "$kq_scratch/held.txt" | wc -l)" -eq $((loose + 1))
  jr_expect "the folder is listed as one held deletion" grep -qxF /big "$kq_scratch/held.txt"
}

# The pushes of the first synchronisation are confirmed by a listing before the
# user deletes anything: a deletion right after a download is another case.
listed_files() { grep -F ' : ANLST listing: ' "$jr_clog" | tail -n 1 | sed -n 's/.*(\([0-9]*\) files.*/\1/p'; }
listing_holds_all() { [ "$(listed_files)" -ge $((loose + inside)) ] 2>/dev/null; }
kq_wait 120 "a listing holds every pushed file" listing_holds_all >/dev/null

echo "== the user deletes $loose files and a folder of $inside files"
delete_all
expect_held 0

echo "== the administrator rejects them"
out=$(deletions reject)
echo "   $out"
jr_expect "the reject is taken" grep -qF "held deletion(s) of contract $jr_contract rejected" <<<"$out"
jr_expect_wait 120 "every file is back in the sync folder" count_is "$jr_sync" $((loose + inside))
jr_expect "the store kept them all" test "$(count_files "$jr_store")" -eq $((loose + inside))
jr_expect "nothing is held any more" test -z "$(deletions list)"

echo "== the user deletes them again; the administrator confirms"
kq_wait 120 "a listing holds every file pushed back" listing_holds_all >/dev/null
before=$(held_lines)
for f in "$jr_sync"/loose-*.txt; do jr_event delete sync "${f#"$jr_sync"/}" -; done
while IFS= read -r f; do jr_event delete sync "${f#"$jr_sync"/}" -; done < <(find "$jr_sync/big" -type f)
delete_all
expect_held "$before"
out=$(deletions confirm)
echo "   $out"
jr_expect "the confirmation is taken" grep -qF "held deletion(s) of contract $jr_contract confirmed" <<<"$out"
jr_fault_over
jr_expect_wait 60 "the deletions reach the store" count_is "$jr_store" 0
jr_expect "they stay gone from the sync folder" test "$(count_files "$jr_sync")" -eq 0
jr_expect "the deleted files are among the versions" \
  test "$("$KQSYNCD" --data "$jr_data" versions list --contract $jr_contract | grep -cE '/(loose-[0-9]+\.txt|big/part-[0-9]/file-[0-9]+\.txt)$')" -eq $((loose + inside))
jr_expect "nothing is held any more" test -z "$(deletions list)"
jr_verify
jr_end
