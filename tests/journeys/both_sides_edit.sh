#!/usr/bin/env bash
# both_sides_edit.sh: the user and the administrator change the same files at
# the same moment: edits of different sizes, edits of the same size, and a
# new file created on both sides with different contents. The client is
# stopped (SIGSTOP) while both sides write, so that neither edit can travel
# before the other is made, however busy the machine; then it goes on. Twice:
# once let go at once, once only after the server has picked up the store's
# edits (the server knows of the administrator's versions before it hears of
# the user's). Both versions of each must be kept (one under the name, the
# other as a conflict copy) and reach both sides.
# Usage: tests/journeys/both_sides_edit.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"

# name | the store's text before (none: created on both sides) | the user's | the administrator's
edits=(
  "sizes.txt|the original|the user's much longer edit of the file|admin's"
  "same.txt|original 0123|user edit 456|admin edit 78"
  "docs/report.txt|the first report|the user's report|the administrator's report, longer"
  "new.txt||created by the user|created in the store at the same time"
)
rounds=(at-once store-seen-first)
for r in "${rounds[@]}"; do
  for e in "${edits[@]}"; do
    IFS='|' read -r name before _ <<<"$e"
    [ -z "$before" ] || jr_write store "$r/$name" "$before"
  done
done
jr_start

# both_kept FOLDER A B: texts A and B are both in files of FOLDER in the store.
both_kept() {
  grep -rlxF -- "$2" "$jr_store/$1" >/dev/null 2>&1 && grep -rlxF -- "$3" "$jr_store/$1" >/dev/null 2>&1
}
# store_seen ROUND: the server has picked up every administrator's edit of ROUND.
store_seen() {
  local e name
  for e in "${edits[@]}"; do
    IFS='|' read -r name _ <<<"$e"
    grep -qE "store: picked up (change of|new file) /$1/$name\$" "$jr_slog" || return 1
  done
}

for r in "${rounds[@]}"; do
  echo "== both sides at once ($r)"
  jr_pause client
  for e in "${edits[@]}"; do
    IFS='|' read -r name _ user admin <<<"$e"
    jr_write sync "$r/$name" "$user"
    jr_write store "$r/$name" "$admin"
  done
  if [ "$r" = store-seen-first ]; then
    kq_wait 60 "the server picks up the administrator's edits while the client is stopped" store_seen "$r" ||
      jr_abort "the server does not see the store's edits"
  fi
  jr_resume client
  jr_fault_over
  for e in "${edits[@]}"; do
    IFS='|' read -r name _ user admin <<<"$e"
    jr_expect_wait 60 "both versions of $r/$name are in the store" both_kept "$(dirname "$r/$name")" "$user" "$admin"
  done
  jr_expect_wait 60 "the sides agree" jr_agree
done
jr_verify
jr_end
