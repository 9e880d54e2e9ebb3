#!/usr/bin/env bash
# type_swaps.sh: a file replaced by a folder of the same name, or a folder by a
# file, on either side. The side that made the swap wins on both sides; what it
# replaced is kept: among the store's versions when the user swapped, in the
# client's _trash when the administrator did. Then a swap on both sides at
# once: the user makes a folder of a file while the administrator edits that
# file (the client and the server stopped while both write, the server going
# on first); the folder keeps the name and the administrator's file is kept
# beside it under a conflict name, on both sides. Nothing is skipped for ever
# and the client never fails to write into a path of the other kind.
# Usage: tests/journeys/type_swaps.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"
# A pause between cycles long enough to stop the server in.
jr_server_options=(--cycle 4 --timeout 600)

# name | who swaps (sync: the user, store: the administrator) | the kind before
swaps=(
  "user-file-to-folder.txt|sync|file"
  "user-folder-to-file|sync|folder"
  "admin-file-to-folder.txt|store|file"
  "admin-folder-to-file|store|folder"
)
old_text() { echo "the $1 before the swap"; }
old_inner() { echo "inside $1 before the swap"; }
new_text() { echo "what $1 holds after the swap"; }

for s in "${swaps[@]}"; do
  IFS='|' read -r name _ kind <<<"$s"
  if [ "$kind" = file ]; then
    jr_write store "$name" "$(old_text "$name")"
  else
    jr_write store "$name/inner.txt" "$(old_inner "$name")"
    jr_write store "$name/sub/deep.txt" "deep in $name"
  fi
done
jr_write store both.txt "the file both sides change"
jr_write store keep.txt "a file nobody touches"
jr_start

sha_of() { printf '%s' "$1" | sha256sum | cut -c1-64; }
in_versions() { jr_versions | grep -qx "$(sha_of "$1")"; }
in_trash() { [ -f "$jr_sync/_trash/$1" ] && [ "$(cat "$jr_sync/_trash/$1")" = "$2" ]; }
is_folder_on_both() { [ -d "$jr_store/$1" ] && [ -d "$jr_sync/$1" ]; }
is_file_on_both() { [ -f "$jr_store/$1" ] && [ -f "$jr_sync/$1" ]; }

# swap SIDE NAME KIND: the user or the administrator replaces the item NAME of
# KIND by one of the other kind, in one go.
swap() {
  local root
  root=$(jr_root "$1")
  if [ "$3" = file ]; then
    jr_rm "$1" "$2"
    mkdir "$root/$2"
    jr_event mkdir "$1" "$2" -
    jr_write "$1" "$2/inner.txt" "$(new_text "$2")"
  else
    jr_rm "$1" "$2/inner.txt"
    jr_rm "$1" "$2/sub/deep.txt"
    rm -r "${root:?}/$2"
    jr_write "$1" "$2" "$(new_text "$2")"
  fi
}

echo "== the four swaps"
for s in "${swaps[@]}"; do
  IFS='|' read -r name side kind <<<"$s"
  swap "$side" "$name" "$kind"
done
jr_fault_over
jr_expect_wait 60 "the sides agree after the four swaps" jr_agree || jr_show_difference
for s in "${swaps[@]}"; do
  IFS='|' read -r name side kind <<<"$s"
  if [ "$kind" = file ]; then
    jr_expect "$name is a folder on both sides" is_folder_on_both "$name"
    jr_expect "$name/inner.txt holds the swapping side's text on both sides" \
      same_content "$jr_store/$name/inner.txt" "$jr_sync/$name/inner.txt"
    replaced=("$name" "$(old_text "$name")")
  else
    jr_expect "$name is a file on both sides" is_file_on_both "$name"
    jr_expect "$name holds the swapping side's text on both sides" same_content "$jr_store/$name" "$jr_sync/$name"
    replaced=("$name/inner.txt" "$(old_inner "$name")")
  fi
  if [ "$side" = sync ]; then
    jr_expect "the store's replaced /${replaced[0]} is among the versions" in_versions "${replaced[1]}"
  else
    jr_expect "the client's replaced /${replaced[0]} is in its _trash" in_trash "${replaced[0]}" "${replaced[1]}"
  fi
done

echo "== a swap on both sides at once"
server_paused() { [ "$(kq_cycles "$jr_clog")" -gt "$1" ]; }
conflict_copies() { find "$jr_store" "$jr_sync" -maxdepth 1 -name 'both (conflict *).txt' | wc -l; }
admin_text_beside() {
  local f
  for f in "$jr_store"/both\ \(conflict\ *\).txt "$jr_sync"/both\ \(conflict\ *\).txt; do
    [ -f "$f" ] && [ "$(cat "$f")" = "the administrator's edit" ] || return 1
  done
  [ "$(conflict_copies)" -eq 2 ]
}
cycles=$(kq_cycles "$jr_clog")
jr_wait_fast 60 "a cycle ends" server_paused "$cycles" || jr_abort "no cycle ends"
jr_pause server
jr_pause client
jr_rm sync both.txt
mkdir "$jr_sync/both.txt"
jr_event mkdir sync both.txt -
jr_write sync both.txt/inner.txt "the user's folder in place of both.txt"
jr_write store both.txt "the administrator's edit"
jr_resume server
kq_wait 20 "the server picks up the administrator's edit while the client is stopped" \
  log_has "$jr_slog" "store: picked up change of /both.txt" || jr_abort "the server does not see the store's edit"
jr_resume client
jr_fault_over
jr_expect_wait 60 "the sides agree after the swap on both sides" jr_agree || jr_show_difference
jr_expect "both.txt is the user's folder on both sides" is_folder_on_both both.txt
jr_expect "the administrator's edit is kept beside it under a conflict name on both sides" admin_text_beside

no_type_skips() { ! grep -E "skipped /.*(a folder in the store|a file on the client|a folder on the client)" "$jr_slog"; }
no_write_errors() { ! grep -E "ERROR: Can not (open the temporary file|replace)|Error on received" "$jr_clog"; }
jr_expect "kqsyncd skipped no path for its kind" no_type_skips
jr_expect "the client wrote every item over the other kind" no_write_errors
jr_verify
jr_end
