#!/usr/bin/env bash
# both_sides_edit.sh: the user and the administrator change the same files at
# the same moment: edits of different sizes, edits of the same size, and a
# new file created on both sides with different contents. Both versions of
# each must be kept (one under the name, the other as a conflict copy) and
# reach both sides.
# Usage: tests/journeys/both_sides_edit.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"

jr_write store sizes.txt "the original"
jr_write store same.txt "original 0123"
jr_write store docs/report.txt "the first report"
jr_start

echo "== both sides at once"
jr_write sync sizes.txt "the user's much longer edit of the file"
jr_write store sizes.txt "admin's"
jr_write sync same.txt "user edit 456"
jr_write store same.txt "admin edit 78"
jr_write sync docs/report.txt "the user's report"
jr_write store docs/report.txt "the administrator's report, longer"
jr_write sync new.txt "created by the user"
jr_write store new.txt "created in the store at the same time"
jr_fault_over
both_kept() {
  local f=$1 a=$2 b=$3
  grep -rlxF -- "$a" "$jr_store/$(dirname "$f")" >/dev/null 2>&1 && grep -rlxF -- "$b" "$jr_store/$(dirname "$f")" >/dev/null 2>&1
}
jr_expect_wait 60 "both versions of sizes.txt are in the store" both_kept sizes.txt "the user's much longer edit of the file" "admin's"
jr_expect_wait 30 "both versions of same.txt are in the store" both_kept same.txt "user edit 456" "admin edit 78"
jr_expect_wait 30 "both versions of docs/report.txt are in the store" both_kept docs/report.txt "the user's report" "the administrator's report, longer"
jr_expect_wait 30 "both versions of new.txt are in the store" both_kept new.txt "created by the user" "created in the store at the same time"
jr_verify
jr_end
