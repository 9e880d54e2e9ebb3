#!/usr/bin/env bash
# silent_link.sh: the path between client and server goes dark with the link
# open (no FIN, no RST: a NAT that drops its mapping, a server host that loses
# power). A forwarder between kqfilesync and kqsyncd stops passing bytes in
# both directions and never closes the connection; kqsyncd gives the session
# up after its own time-out; the path comes back for new connections. The
# client notices the silence, says so in its log, connects anew, and the
# changes made on both sides while the path was dark cross.
# Usage: tests/journeys/silent_link.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"
jr_server_options=(--listen 127.0.0.1:$jr_server_port --timeout 20)

# The client gives a silent server 60 s (plus up to one 10 s Reconnect tick)
# from the last byte it heard, which is before the path came back.
jr_agree_limit_s=90

jr_start_forwarder

closes() { grep -cF "connection closed" "$jr_slog"; }
connects() { grep -cF "Connected to Korvalinq Server!" "$jr_clog"; }
disconnects() { grep -cxE '.* : Disconnected' "$jr_clog"; }
more_than() { [ "$("$1")" -gt "$2" ]; }

jr_write store before.txt "synchronised before the path went dark"
jr_start
connects_before=$(connects)
disconnects_before=$(disconnects)
closes_before=$(closes)

echo "== the path goes dark"
kill -USR1 $jr_forwarder
kq_wait 5 "the forwarder freezes the open connection" log_has "$kq_scratch/forwarder.log" "dark:" ||
  jr_abort "the forwarder did not go dark"
dark_at=$SECONDS
jr_write sync from-client.txt "written in the sync folder while the path was dark"
jr_write store from-store.txt "written in the store while the path was dark"
jr_expect_wait 50 "kqsyncd gives the silent session up" more_than closes "$closes_before"
sleep $((35 - (SECONDS - dark_at) > 0 ? 35 - (SECONDS - dark_at) : 0))
jr_expect "the client's link is still open: no FIN or RST reached it" test "$(disconnects)" -eq "$disconnects_before"

echo "== the path is back for new connections"
kill -USR2 $jr_forwarder
jr_fault_over
jr_expect_wait 80 "the client takes the silent link for dead and says why" \
  grep -qE "No data from Korvalinq Server for (6[0-9]|7[0-9]) s: the connection is taken for dead and made anew" "$jr_clog"
jr_expect_wait 30 "the client connects anew" more_than connects "$connects_before"
jr_expect_arrival "the client's change reaches the store" store from-client.txt "$(jr_hash "$jr_sync/from-client.txt")"
jr_expect_arrival "the store's change reaches the client" sync from-store.txt "$(jr_hash "$jr_store/from-store.txt")"
jr_verify
jr_end
