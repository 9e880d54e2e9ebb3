#!/usr/bin/env bash
# store_missing.sh: the store folder is missing for 12 s (moved away), then
# present but empty for 12 s (as the mount point of a disk that is not
# mounted), and each time comes back. Meanwhile the user adds a file. No store
# file is taken as deleted, nothing is deleted on the client, and the user's
# new file reaches the store once it is back.
# Usage: tests/journeys/store_missing.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"

jr_write store docs/report.txt "the report"
jr_write store photo.jpg "not really a photo"
jr_write sync mine.txt "the user's own file"
jr_start
sync_files=$(cd "$jr_sync" && find . -type f ! -path './_*' | sort)
sync_intact() { [ "$(cd "$jr_sync" && find . -type f ! -path './_*' ! -path './during-*' | sort)" = "$sync_files" ]; }
watch_sync() {
  local end=$((SECONDS + $1)) intact=1
  while [ $SECONDS -lt $end ]; do sync_intact || intact=0; sleep 0.5; done
  [ $intact = 1 ]
}

for how in missing empty; do
  echo "== the store folder is $how for 12 s"
  mv "$jr_store" "$jr_store.away"
  [ $how = missing ] || mkdir "$jr_store"
  jr_write sync "during-$how.txt" "written while the store was $how"
  jr_expect "the client keeps every file while the store is $how" watch_sync 12
  # A folder that is not empty (written by a program that should not have) is
  # moved aside; an empty one is replaced in the same rename that brings the
  # store back, so it is never missing in between.
  [ ! -d "$jr_store" ] || [ -z "$(ls -A "$jr_store")" ] || mv "$jr_store" "$kq_scratch/store.made-while-$how"
  mv -T "$jr_store.away" "$jr_store"
  jr_fault_over
  jr_expect_wait 60 "the file written meanwhile reaches the store" has_text "$jr_store/during-$how.txt" "written while the store was $how"
done
jr_verify
jr_end
