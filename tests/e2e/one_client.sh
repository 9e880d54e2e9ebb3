#!/usr/bin/env bash
# one_client.sh: one kqsyncd, one kqfilesync and its zrservice on loopback.
# A populated store reaches an empty sync folder; then edits, deletions, file and
# folder renames, excluded files and non-ASCII names travel from the sync folder
# to the store, and edits and deletions (under each deletion policy) from the
# store to the sync folder.
# Usage: tests/e2e/one_client.sh [SCRATCH_FOLDER]
set -euo pipefail
source "$(dirname "$0")/lib.sh"
kq_isolate "$0" "$@"  # a network namespace of its own: the watcher port is not shared
kq_check_programs
kq_scratch=${1:-$(mktemp -d /tmp/kq-e2e-one.XXXXXX)}
trap kq_finish EXIT
wait_s=${KQ_E2E_WAIT:-45}  # the client's first attempt comes 10 s after its start

data=$kq_scratch/data store=$kq_scratch/store sync=$kq_scratch/sync
clog=$sync/_log/Filesync.log
mkdir -p "$kq_scratch" "$sync"
"$KQSYNCD" --data "$data" account add --contract 7301 --key E2EKEY7301 --store "$store" >/dev/null

echo "== a populated store reaches an empty sync folder"
mkdir -p "$store/docs/deep" "$store/emptydir" "$store/Café" "$store/olddir/inner"
echo "report" >"$store/docs/report.txt"
echo "deep" >"$store/docs/deep/d.txt"
echo "one" >"$store/one.txt"
echo "crème brûlée" >"$store/Café/naïve résumé.txt"
echo "inner" >"$store/olddir/inner/i.txt"
for p in 0 1 2; do echo "policy $p" >"$store/pol$p.txt"; done
echo "editor scratch" >"$store/draft.tmp"
echo "lock" >"$store/~lock.txt"
head -c 3000000 /dev/urandom >"$store/big.bin"
kq_start_server "$data"
kq_start_client "$kq_scratch/prog" "$sync" 7301 E2EKEY7301
kq_wait "$wait_s" "store files reach the sync folder" same_content "$store/docs/report.txt" "$sync/docs/report.txt"
kq_wait 20 "a 3 MB file arrives whole" same_content "$store/big.bin" "$sync/big.bin"
kq_wait 20 "a non-ASCII folder and file name arrive" same_content "$store/Café/naïve résumé.txt" "$sync/Café/naïve résumé.txt"
kq_wait 20 "nested file and empty folder arrive" bash -c "[ -f '$sync/docs/deep/d.txt' ] && [ -d '$sync/emptydir' ]"
kq_check "excluded store files stay in the store" bash -c "[ ! -e '$sync/draft.tmp' ] && [ ! -e '$sync/~lock.txt' ]"

echo "== changes in the sync folder reach the store"
echo "edited in the sync folder" >"$sync/docs/report.txt"
kq_wait 30 "an edit reaches the store" has_text "$store/docs/report.txt" "edited in the sync folder"
echo "temporary" >"$sync/notes.tmp"
echo "office lock" >"$sync/~\$report.docx"
echo "grüße" >"$sync/Übersicht für Jürgen.txt"
kq_wait 30 "a new file with a non-ASCII name reaches the store" has_text "$store/Übersicht für Jürgen.txt" "grüße"
rm "$sync/docs/deep/d.txt"
kq_wait 30 "a deletion reaches the store" absent "$store/docs/deep/d.txt"
mv "$sync/one.txt" "$sync/renamed.txt"
kq_wait 30 "a file rename reaches the store" has_text "$store/renamed.txt" "one"
kq_wait 10 "the old file name is gone from the store" absent "$store/one.txt"
mv "$sync/docs" "$sync/papers"
kq_wait 30 "a folder rename reaches the store" has_text "$store/papers/report.txt" "edited in the sync folder"
kq_wait 10 "the old folder name is gone from the store" absent "$store/docs"
kq_check "excluded files stay out of the store" bash -c "[ ! -e '$store/notes.tmp' ] && [ ! -e '$store/~\$report.docx' ]"
kq_check "excluded files stay in the sync folder" bash -c "[ -f '$sync/notes.tmp' ] && [ -f '$sync/~\$report.docx' ]"

echo "== changes in the store reach the sync folder"
echo "from the store" >"$store/admin.txt"
kq_wait 30 "a file written in the store reaches the sync folder" has_text "$sync/admin.txt" "from the store"
sleep 2  # a new second, so that the edit has a newer date
echo "edited in the store" >"$store/admin.txt"
kq_wait 30 "an edit in the store reaches the sync folder" has_text "$sync/admin.txt" "edited in the store"

echo "== deletions in the store under each deletion policy"
kq_ini_policy "$sync" 0
rm "$store/pol0.txt"
kq_wait 30 "policy 0: the file moves to the trash" has_text "$sync/_trash/pol0.txt" "policy 0"
kq_check "policy 0: the file left the sync folder" absent "$sync/pol0.txt"
rm -r "$store/olddir"
kq_wait 30 "policy 0: a folder moves to the trash" has_text "$sync/_trash/olddir/inner/i.txt" "inner"
kq_check "policy 0: the folder left the sync folder" absent "$sync/olddir"
kq_ini_policy "$sync" 1
rm "$store/pol1.txt"
kq_wait 30 "policy 1: the deletion is ordered" log_has "$clog" "filepath to delete=${sync}/pol1.txt"
kq_ini_policy "$sync" 2
rm "$store/pol2.txt"
kq_wait 30 "policy 2: the file is deleted" absent "$sync/pol2.txt"
kq_check "policy 2: nothing in the trash" absent "$sync/_trash/pol2.txt"
kq_check "policy 1: the file is kept in the sync folder" has_text "$sync/pol1.txt" "policy 1"
kq_wait_cycles "$clog" 4  # a few more cycles
kq_check "policy 1: the kept file does not come back into the store" absent "$store/pol1.txt"
kq_check "policy 1: the deletion is ordered once, not every cycle" \
  test "$(grep -c 'deleted /pol1.txt on the client' "$data/kqsyncd.log")" -eq 1
kq_check "nothing deleted came back" bash -c "[ ! -e '$store/pol0.txt' ] && [ ! -e '$store/pol2.txt' ] && [ ! -e '$store/olddir' ] && [ ! -e '$sync/docs' ]"
kq_check "the trash stays out of the store" absent "$store/_trash"

kq_stop "$kq_client_pid" "$kq_watcher_pid" "$kq_server_pid"
kq_forget "$kq_client_pid" "$kq_watcher_pid" "$kq_server_pid"
kq_check "kqsyncd logged a clean stop" log_has "$data/kqsyncd.log" "stopped"
# The listing logs "ANLST Error: can not read file!" for every folder it lists.
kq_check "no error in the client log" bash -c "! grep -E 'Error|ERROR' '$clog' | grep -vF 'ANLST Error: can not read file!'"
echo "one_client: all passed"
