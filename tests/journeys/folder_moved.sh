#!/usr/bin/env bash
# folder_moved.sh: the sync folder goes away for 15 s and comes back, twice:
# the user moves it elsewhere and back, then the disk that holds it is
# unplugged (unmounted) and plugged in again. While it is away nothing is
# deleted in the store and the client does not make a new, empty sync folder;
# once it is back nothing is deleted on the client either.
# Usage: tests/journeys/folder_moved.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"

disk=$kq_scratch/disk
mkdir -p "$disk" "$kq_scratch/disk-content"
mount --bind "$kq_scratch/disk-content" "$disk" || jr_abort "cannot mount the sync folder's disk"
jr_set_sync "$disk/sync"
jr_write store docs/report.txt "the report"
jr_write store docs/deep/notes.txt "notes"
jr_write store photo.jpg "not really a photo"
jr_write sync mine.txt "the user's own file"
jr_write sync work/plan.txt "the user's plan"
jr_start
store_files=$(cd "$jr_store" && find . -type f ! -path './.kqsyncd*' | sort)
store_intact() { [ "$(cd "$jr_store" && find . -type f ! -path './.kqsyncd*' | sort)" = "$store_files" ]; }
# away_for SECONDS: the store keeps every file, and nobody makes the sync folder again.
away_for() {
  local end=$((SECONDS + $1)) intact=1
  while [ $SECONDS -lt $end ]; do store_intact || intact=0; sleep 0.5; done
  jr_expect "the store keeps every file while the sync folder is away" test $intact = 1
  jr_expect "the client does not make a new sync folder" absent "$jr_sync"
}

# put_back FROM: FROM becomes the sync folder again. A folder that was made
# meanwhile (by a program that should not have) is moved aside first, as the
# user would, since mv would otherwise put the folder inside it.
put_back() {
  local try
  for try in 1 2 3 4 5; do
    [ ! -e "$jr_sync" ] || mv -T "$jr_sync" "$jr_sync-made-while-away.$try"
    mv -T "$1" "$jr_sync" 2>/dev/null && return 0
  done
  jr_abort "cannot put the sync folder back"
}

echo "== the sync folder is moved away, then back"
mv "$jr_sync" "$jr_sync.away"
away_for 15
put_back "$jr_sync.away"
jr_fault_over
jr_expect_wait 60 "the sides agree again" jr_agree

echo "== the disk of the sync folder is unplugged, then plugged in again"
umount -l "$disk" || jr_abort "cannot unmount the sync folder's disk"
away_for 15
[ ! -e "$jr_sync" ] || mv -T "$jr_sync" "$kq_scratch/sync-made-while-unplugged"
mount --bind "$kq_scratch/disk-content" "$disk" || jr_abort "cannot mount the sync folder's disk again"
jr_fault_over
jr_verify
jr_end
