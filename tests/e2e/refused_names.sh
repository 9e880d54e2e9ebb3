#!/usr/bin/env bash
# refused_names.sh: a store that holds files the client will not take - one its
# exception list excludes, names it cannot hold (a colon, a device name, a
# trailing dot) - followed by ordinary files. The ordinary files all arrive,
# the session never stalls or reconnects, kqsyncd never offers the names the
# client cannot hold and says so once per name, and later store changes still
# arrive.
# Usage: tests/e2e/refused_names.sh [SCRATCH_FOLDER]
set -euo pipefail
# Everything runs in a network namespace of its own (watcher port included).
if [ -z "${KQ_REFUSED_IN_NETNS:-}" ]; then
  exec env KQ_REFUSED_IN_NETNS=1 unshare -n bash "$0" "$@"
fi
ip link set lo up
source "$(dirname "$0")/lib.sh"
kq_check_programs
kq_scratch=${1:-$(mktemp -d /tmp/kq-e2e-refused.XXXXXX)}
trap kq_finish EXIT
wait_s=${KQ_E2E_WAIT:-45}  # the client's first attempt comes 10 s after its start

data=$kq_scratch/data store=$kq_scratch/store sync=$kq_scratch/sync
slog=$data/kqsyncd.log clog=$sync/_log/Filesync.log
mkdir -p "$kq_scratch" "$sync/_config" "$store/c"
"$KQSYNCD" --data "$data" account add --contract 7304 --key E2EKEY7304 --store "$store" >/dev/null

# The user added ".psd" to the client's exception list.
printf '.tmp\r\n.TMP\r\n.psd\r\n' >"$sync/_config/exstensions.dat"
printf '~\r\n' >"$sync/_config/exceptions.dat"

head -c 8000000 /dev/urandom >"$store/a-design.psd"   # refused by the exception list, sent first
echo "colon" >"$store/a:b.txt"
echo "device" >"$store/CON.txt"
echo "dot" >"$store/ends-with-dot."
echo "one" >"$store/b1.txt"
echo "two" >"$store/c/c2.txt"
head -c 2000000 /dev/urandom >"$store/d.bin"
kq_start_server "$data"
kq_start_client "$kq_scratch/prog" "$sync" 7304 E2EKEY7304

echo "== the files after the refused ones arrive"
kq_wait "$wait_s" "an ordinary file after the refused ones arrives" has_text "$sync/b1.txt" "one"
kq_wait 20 "a nested file arrives" has_text "$sync/c/c2.txt" "two"
kq_wait 20 "a 2 MB file arrives whole" same_content "$store/d.bin" "$sync/d.bin"
kq_check "the excluded file was not written" absent "$sync/a-design.psd"
kq_check "no name the client cannot hold was written" \
  bash -c "[ ! -e '$sync/a:b.txt' ] && [ ! -e '$sync/CON.txt' ] && [ ! -e '$sync/ends-with-dot.' ] && [ ! -e '$sync/ends-with-dot' ]"

echo "== the session goes on"
kq_wait_cycles "$clog" 3  # a few more cycles
echo "later" >"$store/later.txt"
kq_wait 30 "a store file written later still arrives" has_text "$sync/later.txt" "later"
kq_check "the store keeps every file" bash -c "[ -s '$store/a-design.psd' ] && [ -f '$store/a:b.txt' ] && [ -f '$store/CON.txt' ]"
kq_check "one connection, never timed out" test "$(grep -c 'client accepted' "$slog")" -eq 1
kq_check "no connection closed" bash -c "! grep -q 'connection closed' '$slog'"
kq_check "a colon name is a failed item, logged once" \
  test "$(grep -c 'failed item /a:b.txt: cannot be synchronised with this client: a drive letter or colon' "$slog")" -eq 1
kq_check "a device name is a failed item, logged once" \
  test "$(grep -c 'failed item /CON.txt: cannot be synchronised with this client: a device name' "$slog")" -eq 1
kq_check "a trailing dot is a failed item, logged once" \
  test "$(grep -c 'failed item /ends-with-dot.: cannot be synchronised with this client: a name ending in a dot or blank' "$slog")" -eq 1
kq_check "the names the client cannot hold were never offered" \
  bash -c "! grep -E 'filepath=.*(a:b\\.txt|CON\\.txt|ends-with-dot)' '$clog'"
offered=$(grep -c 'Ignoring file transfer from Server due restrictions. RQFDA is blocked.' "$clog" || true)
if grep -q 'failed item /a-design.psd: refused by the client' "$slog"; then
  kq_check "the refused file was offered once on the connection" test "$offered" -eq 1
else
  # The refusal came after the last byte was sent: the listings tell, and the
  # retries back off (10 s, then 20 s), far fewer than the cycles.
  kq_check "the refused file was retried with a growing delay" \
    bash -c "[ '$offered' -ge 1 ] && [ '$offered' -le 3 ] && grep -q 'push of /a-design.psd did not take on the client' '$slog'"
fi

kq_stop "$kq_client_pid" "$kq_watcher_pid" "$kq_server_pid"
kq_forget "$kq_client_pid" "$kq_watcher_pid" "$kq_server_pid"
echo "refused_names: all passed"
