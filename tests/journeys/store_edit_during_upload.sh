#!/usr/bin/env bash
# store_edit_during_upload.sh: the user saves a large new version of a file,
# and while its upload is under way the administrator rewrites the same file
# in the store. The client is stopped (SIGSTOP) in the middle of the upload
# while the administrator writes, so that the edit lands before the upload
# ends however busy the machine. Neither version may be lost: the server must
# not install the upload over the administrator's unseen edit; both contents
# end up on both sides (one under the name, the other as a conflict copy).
# Usage: tests/journeys/store_edit_during_upload.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"
size=$((64 << 20))

jr_put store report.bin 1000000
jr_write store notes.txt "a small file beside it"
jr_start

# store_has SHA: the store's report.bin has content SHA.
store_has() { [ "$(jr_hash "$jr_store/report.bin")" = "$1" ]; }

echo "== the user saves a large new version; the administrator edits the store's copy mid-upload"
# On a busy machine the rest of the upload may arrive between the look that
# sees it under way and the client's stop: then the user saves once more.
for attempt in 1 2 3 4 5; do
  jr_put sync report.bin $size
  user_sha=$jr_put_sha
  jr_wait_fast 120 "the upload is under way" jr_receiving store report.bin $((4 << 20)) $size ||
    jr_abort "the upload was not seen under way"
  jr_pause client
  jr_receiving store report.bin $((4 << 20)) $size && break
  [ "$attempt" -lt 5 ] || jr_abort "the upload ended before the client stopped, five times"
  echo "   the upload ended before the client stopped; the user saves again"
  jr_resume client
  kq_wait 300 "the store holds the user's version" store_has "$user_sha" || jr_abort "the upload did not end"
done
echo "   stopped the client with $(jr_received_bytes store report.bin) bytes of the upload in the store"
jr_write store report.bin "the administrator's edit of the report, made while the upload ran"
admin_sha=$(jr_hash "$jr_store/report.bin")
jr_resume client

# holds SIDE SHA: a file of SIDE (conflict copies included) has content SHA.
holds() {
  local f
  while IFS= read -r -d '' f; do
    [ "$(jr_hash "$f")" = "$2" ] && return 0
  done < <(find "$(jr_root "$1")" -name 'report*.bin' -type f -print0)
  return 1
}
both_everywhere() { holds store "$user_sha" && holds store "$admin_sha" && holds sync "$user_sha" && holds sync "$admin_sha"; }
uploaded() { jr_received_bytes store report.bin; }
kq_wait_progress 1200 120 "both versions reach both sides" uploaded both_everywhere ||
  jr_failures=$((jr_failures + 1))
jr_fault_over
jr_expect "the user's version is in the store" holds store "$user_sha"
jr_expect "the administrator's version is in the store" holds store "$admin_sha"
jr_expect "the user's version is in the sync folder" holds sync "$user_sha"
jr_expect "the administrator's version is in the sync folder" holds sync "$admin_sha"
jr_expect "the server kept the administrator's edit beside the upload" \
  grep -qE 'conflict on /report\.bin: .*kept as /report \(conflict ' "$jr_slog"
jr_verify
jr_end
