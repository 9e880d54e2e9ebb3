#!/usr/bin/env bash
# e2e.sh: end-to-end synchronisation with real processes on loopback: kqsyncd,
# kqfilesync and zrservice (watcher port 127.0.0.1:11111). Two phases:
#   1. store -> empty sync folder, then an edit, a deletion and a folder rename
#      in the sync folder, and a file written into the store;
#   2. sync folder -> empty store.
# Usage: scripts/e2e.sh [SCRATCH_FOLDER]   (programs from build/native, or
# $KQSYNCD, $KQFILESYNC, $ZRSERVICE)
set -euo pipefail
source "$(dirname "$0")/../tests/e2e/lib.sh"
kq_check_programs
scratch=${1:-$(mktemp -d /tmp/kq-e2e.XXXXXX)}
mkdir -p "$scratch"
trap 'status=$?; kq_stop_all || true; [ $status -eq 0 ] || { echo "logs in $scratch" >&2; }; exit $status' EXIT
wait_s=${KQ_E2E_WAIT:-60}  # the client connects within its 10 s reconnect timer

echo "== phase 1: store to an empty sync folder, then changes both ways"
data=$scratch/data1 store=$scratch/store1 sync=$scratch/sync1
"$KQSYNCD" --data "$data" account add --contract 1234 --key E2EKEY1234 --store "$store" >/dev/null
mkdir -p "$store/docs/deep" "$store/emptydir" "$sync"
echo "report" >"$store/docs/report.txt"
echo "deep" >"$store/docs/deep/d.txt"
head -c 3000000 /dev/urandom >"$store/big.bin"
kq_start_server "$data"
kq_start_client "$scratch/prog1" "$sync" 1234 E2EKEY1234
kq_wait "$wait_s" "store files reach the sync folder" same_content "$store/docs/report.txt" "$sync/docs/report.txt"
kq_wait 20 "big file arrives whole" same_content "$store/big.bin" "$sync/big.bin"
kq_wait 20 "nested file and empty folder arrive" bash -c "[ -f '$sync/docs/deep/d.txt' ] && [ -d '$sync/emptydir' ]"

echo "edited in the sync folder" >"$sync/docs/report.txt"
kq_wait 30 "an edit reaches the store" has_text "$store/docs/report.txt" "edited in the sync folder"
rm "$sync/docs/deep/d.txt"
kq_wait 30 "a deletion reaches the store" absent "$store/docs/deep/d.txt"
mv "$sync/docs" "$sync/papers"
kq_wait 30 "a folder rename reaches the store" has_text "$store/papers/report.txt" "edited in the sync folder"
kq_wait 10 "the old folder name is gone from the store" absent "$store/docs"
echo "from the store" >"$store/admin.txt"
kq_wait 30 "a file written in the store reaches the sync folder" has_text "$sync/admin.txt" "from the store"
rm "$store/admin.txt"
kq_wait 30 "a deletion in the store reaches the sync folder" absent "$sync/admin.txt"
kq_wait 10 "nothing came back" absent "$sync/docs"
kq_stop "$kq_client_pid" "$kq_watcher_pid" "$kq_server_pid"
kq_pids=()
grep -q "stopped" "$data/kqsyncd.log" || { echo "kqsyncd did not log a clean stop" >&2; exit 1; }

echo "== phase 2: sync folder to an empty store"
data=$scratch/data2 store=$scratch/store2 sync=$scratch/sync2
"$KQSYNCD" --data "$data" account add --contract 5678 --key E2EKEY5678 --store "$store" >/dev/null
mkdir -p "$sync/sub"
echo "local one" >"$sync/one.txt"
echo "local two" >"$sync/sub/two.txt"
kq_start_server "$data"
kq_start_client "$scratch/prog2" "$sync" 5678 E2EKEY5678
kq_wait "$wait_s" "sync folder files reach the store" has_text "$store/one.txt" "local one"
kq_wait 20 "nested file reaches the store" has_text "$store/sub/two.txt" "local two"
kq_wait 20 "the client's log is kept by the server" test -s "$data/logs/5678/Filesync.log"
kq_wait 5 "the client's own folders stay out of the store" bash -c "[ ! -e '$store/_log' ] && [ ! -e '$store/_config' ]"
kq_stop "$kq_client_pid" "$kq_watcher_pid" "$kq_server_pid"
kq_pids=()
echo "e2e: all passed"
