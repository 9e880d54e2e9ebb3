#!/usr/bin/env bash
# restart_after_push.sh: kqsyncd goes down right after it pushed files to the
# client, before any later listing showed them there, and then the
# administrator edits those files in the store. The pushed copies must still
# be known as the store's content after the restart: the edits reach the
# client and replace its copies, with no conflict copy on either side. Twice:
#   sigterm   the server is stopped (SIGTERM) as soon as both sides agree;
#   kill      the server is killed (kill -9) as soon as the last file arrived.
# The server's pause between cycles (60 s) is longer than the checks take
# after the pushes, so that no listing follows them before the server goes
# down.
# Usage: tests/journeys/restart_after_push.sh [SCRATCH_FOLDER]
#   KQ_PUSHED_FILES=N pushes N files a round instead of 200 (a larger run by
#   hand; the test command keeps 200).
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"
jr_server_options=(--cycle 60)
files=${KQ_PUSHED_FILES:-200}
edits=100

jr_write store seed.txt "the first file"
jr_start

no_conflicts() { ! find "$jr_store" "$jr_sync" -name '*(conflict *' | grep -q .; }
# edited_everywhere ROUND: every edit of ROUND is in the sync folder.
edited_everywhere() {
  local i
  for ((i = 0; i < edits; i++)); do
    [ "$(cat "$jr_sync/$1/f$i.txt" 2>/dev/null)" = "edited in the store after the restart: $1 $i" ] || return 1
  done
}
all_arrived() {
  local i
  for ((i = 0; i < files; i++)); do [ -f "$jr_sync/$1/f$i.txt" ] || return 1; done
}

for round in sigterm kill; do
  echo "== $files new store files are pushed, then the server goes down ($round)"
  # Written aside and moved into the store in one step: one cycle pushes them all.
  mkdir -p "$kq_scratch/staging/$round"
  for ((i = 0; i < files; i++)); do printf '%s' "pushed before the restart: $round $i" >"$kq_scratch/staging/$round/f$i.txt"; done
  mv "$kq_scratch/staging/$round" "$jr_store/$round"
  for ((i = 0; i < files; i++)); do jr_wrote store "$round/f$i.txt"; done
  if [ $round = sigterm ]; then
    jr_wait_fast 300 "the files reach the client" jr_agree || jr_abort "the files do not arrive"
    kq_stop "$kq_server_pid"
    kq_forget "$kq_server_pid"
  else
    jr_wait_fast 300 "the files reach the client" all_arrived $round || jr_abort "the files do not arrive"
    jr_kill_server
  fi
  jr_expect "the server pushed every file before it went down" \
    test "$(grep -c "pushed /$round/" "$jr_slog")" -ge "$files"
  echo "== the administrator edits $edits of them while the server is down; it starts again"
  for ((i = 0; i < edits; i++)); do
    jr_write store "$round/f$i.txt" "edited in the store after the restart: $round $i"
  done
  jr_restart_server
  jr_fault_over
  jr_expect_wait 90 "the store's edits replace the client's copies" edited_everywhere $round
  jr_expect "no conflict copy on either side" no_conflicts
  jr_expect "the server saw no conflict" test "$(grep -c 'conflict on' "$jr_slog")" -eq 0
done
jr_verify
jr_end
