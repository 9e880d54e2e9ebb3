#!/usr/bin/env bash
# large_file.sh: a 1 GiB file travels from the store to the sync folder and
# another from the sync folder to the store. Each transfer is cut in the middle
# by killing kqsyncd; the restarted server completes it in a later cycle. The
# client receives into big.bin.kqpart and removes it when the push is cut off;
# big.bin appears only whole. The copies must be equal (SHA-256) and the peak
# memory of kqsyncd and kqfilesync must stay far below the file size.
# Usage: tests/e2e/large_file.sh [SCRATCH_FOLDER]
set -euo pipefail
source "$(dirname "$0")/lib.sh"
kq_isolate "$0" "$@"  # a network namespace of its own: the watcher port is not shared
kq_check_programs
kq_scratch=${1:-$(mktemp -d /tmp/kq-e2e-large.XXXXXX)}
trap kq_finish EXIT
wait_s=${KQ_E2E_WAIT:-45}
size_mb=${KQ_E2E_LARGE_MB:-1024}
rss_limit_kb=$((200 * 1024))

data=$kq_scratch/data store=$kq_scratch/store sync=$kq_scratch/sync
mkdir -p "$kq_scratch" "$sync" "$store"
"$KQSYNCD" --data "$data" account add --contract 7302 --key E2EKEY7302 --store "$store" >/dev/null

file_size() { stat -c %s "$1" 2>/dev/null || echo 0; }
# partly_there FILE: FILE exists with at least 32 MiB and less than the whole.
partly_there() { local n; n=$(file_size "$1"); [ "$n" -ge $((32 << 20)) ] && [ "$n" -lt $((size_mb << 20)) ]; }
temp_partly_there() {
  local f
  for f in "$store"/.kqsyncd.tmp/*; do [ -f "$f" ] && partly_there "$f" && return 0; done
  return 1
}
# Bytes received so far: into the sync folder, and into the store.
down_bytes() { echo $(($(file_size "$sync/big.bin.kqpart") + $(file_size "$sync/big.bin"))); }
up_bytes() {
  local f n=$(file_size "$store/up.bin")
  for f in "$store"/.kqsyncd.tmp/*; do [ -f "$f" ] && n=$((n + $(file_size "$f"))); done
  echo $n
}
same_hash() { [ "$(sha256sum <"$1")" = "$(sha256sum <"$2")" ]; }
full_size() { [ "$(file_size "$1")" -eq $((size_mb << 20)) ]; }
kill_server() { kill -KILL "$kq_server_pid"; wait "$kq_server_pid" 2>/dev/null || true; kq_forget "$kq_server_pid"; }
check_rss() {
  local who=$1 pid=$2 kb
  kb=$(kq_peak_rss_kb "$pid")
  echo "   peak RSS of $who: $((kb / 1024)) MiB"
  kq_check "$who stays below $((rss_limit_kb / 1024)) MiB" test "$kb" -lt $rss_limit_kb
}

echo "== writing a ${size_mb} MiB file"
head -c $((size_mb << 20)) /dev/urandom >"$kq_scratch/big.src"
kq_start_server "$data"
kq_start_client "$kq_scratch/prog" "$sync" 7302 E2EKEY7302
kq_wait "$wait_s" "the client connects" log_has "$sync/_log/Filesync.log" "Connected to Korvalinq Server!"

echo "== store to sync folder, the server killed in the middle"
cp "$kq_scratch/big.src" "$kq_scratch/store-big.part"
mv "$kq_scratch/store-big.part" "$store/big.bin"
kq_wait "$wait_s" "the push is under way" partly_there "$sync/big.bin.kqpart"
kq_check "the file appears only when whole" test ! -e "$sync/big.bin"
at=$(file_size "$sync/big.bin.kqpart")
kill_server
echo "   killed kqsyncd at $((at >> 20)) MiB"
kq_start_server "$data"
kq_wait 10 "the client removes the cut-off file" log_has "$sync/_log/Filesync.log" \
  "Transfer cut off by the closed connection, partial file removed: ${sync}/big.bin.kqpart"
kq_wait_progress 1200 120 "the next cycle completes the file" down_bytes full_size "$sync/big.bin"
kq_wait 30 "the copy is equal (SHA-256)" same_hash "$store/big.bin" "$sync/big.bin"
check_rss kqsyncd "$kq_server_pid"

echo "== sync folder to store, the server killed in the middle"
mv "$kq_scratch/big.src" "$sync/up.bin"
kq_wait "$wait_s" "the fetch is under way" temp_partly_there
kill_server
kq_start_server "$data"
kq_wait_progress 1200 120 "the next cycle completes the file" up_bytes full_size "$store/up.bin"
kq_wait 30 "the copy is equal (SHA-256)" same_hash "$sync/up.bin" "$store/up.bin"
check_rss kqsyncd "$kq_server_pid"
check_rss kqfilesync "$kq_client_pid"

kq_check "no conflict copies" test -z "$(find "$store" "$sync" -name '*conflict*')"
kq_check "no temporary file is left in the sync folder" test -z "$(find "$sync" -name '*.kqpart')"
kq_check "no temporary file is left in the store" test -z "$(find "$store/.kqsyncd.tmp" -type f 2>/dev/null)"
kq_check "nothing else appeared" test "$(find "$store" "$sync" -name '*.bin' | wc -l)" -eq 4
echo "large_file: all passed"
