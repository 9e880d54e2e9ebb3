#!/usr/bin/env bash
# migrate.sh: an installation on SQLite (one kqsyncd, its data folder) with a
# client in step, files on both sides and previous versions kept, is moved
# into PostgreSQL with `kqsyncd migrate` while the client keeps running. A
# node on the database then serves the same store and the same client: it
# fetches nothing again, pushes nothing again, makes no conflict, lists the
# same versions, and new changes go both ways.
# Usage: tests/cluster/migrate.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
cl_begin "$@"
cl_clients=(1)
old=$kq_scratch/sqlite-data
files=30
mkdir -p "$old"

for ((i = 0; i < files; i++)); do cl_write_store "from-store/f$i.txt" "store file $i"; done
cl_write_store edited.txt "version 0"
cl_use 1
for ((i = 0; i < files; i++)); do jr_write sync "from-client/f$i.txt" "client file $i"; done

echo "== the installation on SQLite"
"$KQSYNCD" --data "$old" account add --contract $jr_contract --key $jr_key --store "$jr_store" >/dev/null ||
  jr_abort "the account cannot be added"
jr_start_sampler
cl_sampler_pid[1]=$jr_sampler_pid
kq_start_server "$old" 127.0.0.1
old_pid=$kq_server_pid
cl_start_client 1
kq_wait 60 "the first synchronisation completes" cl_agree || { cl_show_difference; jr_abort "no first synchronisation"; }
# Edits at the client: the store keeps each version it replaces.
for v in 1 2 3; do
  jr_write sync edited.txt "version $v"
  jr_expect_wait 60 "version $v reaches the store" has_text "$jr_store/edited.txt" "version $v"
done
"$KQSYNCD" --data "$old" versions list --contract $jr_contract >"$kq_scratch/versions-before.txt" ||
  jr_abort "the versions cannot be listed"
jr_expect "the old installation keeps 3 versions of edited.txt" \
  test "$(grep -c 'edited.txt' "$kq_scratch/versions-before.txt")" -ge 3
kq_stop "$old_pid"
kq_forget "$old_pid"

echo "== migrate into the database; a node on it takes over the same port"
jr_expect "migrate succeeds" \
  "$KQSYNCD" --data "$kq_scratch/nodeA" migrate --from-data "$old" --db "$cl_db"
"$KQSYNCD" --db "$cl_db" versions list --contract $jr_contract >"$kq_scratch/versions-after.txt" 2>&1
jr_expect "the database lists the same versions (times, sizes, contents, paths)" \
  diff <(sort "$kq_scratch/versions-before.txt") <(sort "$kq_scratch/versions-after.txt")
cl_node_port[A]=2$jr_contract
cl_start_node A
jr_fault_over
jr_expect_wait 60 "the client is accepted by the node on the database" log_has "$(cl_node_log A)" "client accepted"
kq_wait_cycles "$jr_clog" 3 || jr_fail "the client does not end 3 cycles with the node on the database"
jr_expect "the node fetched nothing again" test "$(cl_log_count A 'fetched /')" -eq 0
jr_expect "the node pushed nothing again" test "$(cl_log_count A 'pushed ')" -eq 0
jr_expect "the node saw no conflict" test "$(cl_log_count A 'conflict on ')" -eq 0

echo "== new changes go both ways"
jr_write sync after/from-client.txt "written at the client after the move"
cl_write_store after/from-store.txt "written in the store after the move"
jr_expect_wait 60 "the client's new file reaches the store" \
  has_text "$jr_store/after/from-client.txt" "written at the client after the move"
jr_expect_wait 60 "the store's new file reaches the client" \
  has_text "$jr_sync/after/from-store.txt" "written in the store after the move"
cl_verify
jr_expect "no conflict copy anywhere" test -z "$(find "$jr_store" "$jr_sync" -name '*(conflict *')"
jr_end
