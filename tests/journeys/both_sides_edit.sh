#!/usr/bin/env bash
# both_sides_edit.sh: the user and the administrator change the same files at
# the same moment: edits of different sizes, edits of the same size, and a
# new file created on both sides with different contents. The client is
# stopped (SIGSTOP) while both sides write, so that neither edit can travel
# before the other is made, however busy the machine; then it goes on. Twice,
# with the server stopped too in its pause between two cycles:
#   store-seen-first  the server goes on first and picks up the administrator's
#                     edits before it hears of the user's;
#   client-first      the server goes on first, scans the store before the
#                     edits are made and waits for the client's answer (its
#                     RQCHG lies unread at the client); the edits come then.
# Both versions of each must be kept (one under the name, the other as a
# conflict copy) and reach both sides.
# Usage: tests/journeys/both_sides_edit.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"
# A pause between cycles long enough to stop the server in; a client stopped
# for a while is not given up (each round must play on one connection).
jr_server_options=(--cycle 4 --timeout 600)

# name | the store's text before (none: created on both sides) | the user's | the administrator's
edits=(
  "sizes.txt|the original|the user's much longer edit of the file|admin's"
  "same.txt|original 0123|user edit 456|admin edit 78"
  "docs/report.txt|the first report|the user's report|the administrator's report, longer"
  "new.txt||created by the user|created in the store at the same time"
)
rounds=(store-seen-first client-first)
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

cycle_ended() { [ "$(kq_cycles "$jr_clog")" -gt "$1" ]; }

# server_waits: the server has sent the next cycle's first request, which lies
# unread at the stopped client: it has scanned the store and waits for an answer.
server_waits() {
  local port
  port=$(grep -oE 'listening on 127\.0\.0\.1:[0-9]+' "$jr_slog" | tail -n 1 | cut -d: -f2)
  ss -Htn "( dport = :$port )" | awk '$1 == "ESTAB" && $2 > 0 {found = 1} END {exit !found}'
}

for r in "${rounds[@]}"; do
  echo "== both sides at once ($r)"
  # Right after the client read RQFLS the server is in its pause; stopped
  # there, it scans the store as soon as it goes on, before it asks the
  # client anything.
  cycles=$(kq_cycles "$jr_clog")
  jr_wait_fast 60 "a cycle ends" cycle_ended "$cycles" || jr_abort "no cycle ends"
  jr_pause server
  jr_pause client
  if [ "$r" = client-first ]; then
    jr_resume server
    jr_wait_fast 30 "the server has scanned the store and waits for the stopped client" server_waits ||
      jr_abort "the server does not ask the client"
  fi
  for e in "${edits[@]}"; do
    IFS='|' read -r name _ user admin <<<"$e"
    jr_write sync "$r/$name" "$user"
    jr_write store "$r/$name" "$admin"
  done
  if [ "$r" = store-seen-first ]; then
    jr_resume server
    kq_wait 20 "the server picks up the administrator's edits while the client is stopped" store_seen "$r" ||
      jr_abort "the server does not see the store's edits"
  fi
  jr_resume client
  jr_fault_over
  # The sides differ (the user's texts against the administrator's) until the
  # server has dealt with every edit; once they agree, both texts of each file
  # must be there.
  jr_expect_wait 60 "the sides agree" jr_agree
  for e in "${edits[@]}"; do
    IFS='|' read -r name _ user admin <<<"$e"
    jr_expect "both versions of $r/$name are in the store" both_kept "$(dirname "$r/$name")" "$user" "$admin"
  done
done
jr_expect "the rounds played on one connection (the server never gave up the stopped client)" \
  test "$(grep -c 'client accepted' "$jr_slog")" -eq 1
jr_verify
jr_end
