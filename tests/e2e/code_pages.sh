#!/usr/bin/env bash
# code_pages.sh: kqsyncd serving clients of code page 1251 (--codepage 1251) and
# kqfilesync with its watcher in that code page (KQFILESYNC_CODEPAGE=1251).
# Cyrillic names travel both ways; a name outside the code page and a name
# Windows cannot hold stay where they are, reported once by the client, never
# turned into another path.
# Usage: tests/e2e/code_pages.sh [SCRATCH_FOLDER]
set -euo pipefail
source "$(dirname "$0")/lib.sh"
kq_isolate "$0" "$@"  # a network namespace of its own: the watcher port is not shared
kq_check_programs
kq_scratch=${1:-$(mktemp -d /tmp/kq-e2e-cp.XXXXXX)}
trap kq_finish EXIT
wait_s=${KQ_E2E_WAIT:-45}
export KQFILESYNC_CODEPAGE=1251

data=$kq_scratch/data store=$kq_scratch/store sync=$kq_scratch/sync
clog=$sync/_log/Filesync.log
mkdir -p "$kq_scratch" "$sync"
"$KQSYNCD" --data "$data" account add --contract 7302 --key E2EKEY7302 --store "$store" >/dev/null
mkdir -p "$store/Документы"
echo "отчёт" >"$store/Документы/Отчёт.txt"
echo "japanese" >"$store/日本.txt"
echo "western" >"$sync/café.txt"
echo "slash" >"$sync/back\\slash.txt"
"$KQSYNCD" --data "$data" serve --host 127.0.0.1 --cycle 1 --timeout 30 --codepage 1251 >>"$data/kqsyncd.log" 2>&1 &
kq_pids+=($!)
kq_start_client "$kq_scratch/prog" "$sync" 7302 E2EKEY7302
kq_wait "$wait_s" "a Cyrillic name reaches the sync folder" same_content "$store/Документы/Отчёт.txt" "$sync/Документы/Отчёт.txt"
echo "снег" >"$sync/Снег.txt"
kq_wait 30 "a Cyrillic name reaches the store" same_content "$sync/Снег.txt" "$store/Снег.txt"
reported() { [ "$(grep -cF -- "$1" "$clog")" = 1 ]; }
kq_wait 20 "a name outside the code page is reported once" \
  reported "/café.txt (characters outside the code page 1251)"
kq_check "a backslash in a Linux name is reported once" \
  reported "/back\\slash.txt (a backslash in a name)"  # the log shows the real path, backslash and all
kq_wait_cycles "$clog" 3  # further cycles: still one report per name
kq_check "still reported once" reported "/café.txt (characters outside the code page 1251)"
kq_check "neither reaches the store, under any name" \
  bash -c "[ -z \"\$(cd '$store' && ls | grep -v '^Документы\$' | grep -v '^Снег.txt\$' | grep -v '^日本.txt\$')\" ]"
kq_check "no folder 'back' made of the backslash name" absent "$store/back"
kq_check "the store's name outside the code page is not offered" absent "$sync/日本.txt"
kq_check "the files stay in the sync folder" bash -c "[ -f '$sync/café.txt' ] && [ -f '$sync/back\\slash.txt' ]"
echo "code_pages: all checks passed"
