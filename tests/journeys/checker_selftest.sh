#!/usr/bin/env bash
# checker_selftest.sh: the shared checker itself, without the programs: the
# "synchronisation" is done by hand here, with the faults the checker exists to
# catch (a content that vanished, a file gone that nobody deleted, a deletion
# undone, sides that differ, a content left only in the client's _trash), and
# beside them what it must accept (a content replaced or deleted by hand, a
# file the user deleted on both sides). Each expected line must be printed, and
# nothing else may be reported.
# Usage: tests/journeys/checker_selftest.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"
jr_agree_limit_s=3 jr_settle_s=1

jr_start_sampler
mirror() { mkdir -p "$(dirname "$jr_sync/$1")"; cp "$jr_store/$1" "$jr_sync/$1"; }
jr_write store kept.txt "on both sides"; mirror kept.txt
jr_write store vanished.txt "removed from the store by no hand"
jr_write store replaced.txt "first"; mirror replaced.txt
jr_write sync undone.txt "deleted by the user, then back"; cp "$jr_sync/undone.txt" "$jr_store/undone.txt"
jr_write sync gone.txt "deleted by the user on both sides"; cp "$jr_sync/gone.txt" "$jr_store/gone.txt"
jr_write store differs.txt "the store's text"; jr_write sync differs.txt "the folder's text"
jr_write store trashed.txt "only in the trash at the end"; mirror trashed.txt
# Three rounds of the sampler: the first may have begun before the last write,
# the other two see every file unchanged twice in a row.
jr_sampler_rounds 3 || jr_abort "the sampler does not go round"
jr_expect "the sampler has seen every file" test "$(cut -f3,4 "$jr_rec/seen.tsv" | sort -u | wc -l)" -ge 13 ||
  jr_abort "the sampler records nothing"

rm "$jr_store/vanished.txt"
jr_write store replaced.txt "second"; mirror replaced.txt
jr_rm sync undone.txt
jr_rm sync gone.txt; rm "$jr_store/gone.txt"
mkdir -p "$jr_sync/_trash"; mv "$jr_sync/trashed.txt" "$jr_sync/_trash/"; rm "$jr_store/trashed.txt"
out=$(jr_verify 2>&1)
echo "$out" | sed 's/^/   | /'
jr_failures=0
expected=(
  "FAILED: the store and the sync folder still differ"
  "FAILED: a content is lost: 33 bytes with SHA-256 $(printf 'removed from the store by no hand' | sha256sum | cut -c1-64), last seen at store:/vanished.txt"
  "FAILED: a content is lost: 28 bytes with SHA-256 $(printf 'only in the trash at the end' | sha256sum | cut -c1-64), last seen at"
  "FAILED: /vanished.txt is gone from both sides, yet nobody deleted it"
  "FAILED: /trashed.txt is gone from both sides, yet nobody deleted it"
  "FAILED: /undone.txt was deleted by hand but is back (in the store)"
)
for line in "${expected[@]}"; do
  jr_expect "the checker reports: ${line#FAILED: }" grep -qF -- "$line" <<<"$out"
done
jr_expect "the checker reports nothing else" \
  test "$(grep -c '^FAILED' <<<"$out")" -eq "${#expected[@]}"
jr_expect "the checker does not take the hand's own replacement or deletion as lost" \
  bash -c "! grep -qE 'replaced|gone\\.txt' <<<\"\$1\"" _ "$out"
jr_end
