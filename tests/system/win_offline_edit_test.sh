#!/usr/bin/env bash
# win_offline_edit_test.sh [WIN_BUILD] [NATIVE_BUILD]: a file edited while
# KQFilesyncClient.exe was stopped reaches the real kqsyncd after the client
# starts again. The client runs under Wine against kqsyncd on loopback, in a
# network namespace of its own; it is ended with its "Exit" menu item.
set -u
cd "$(dirname "$0")/../.."
if [ -z "${KQ_SYSTEM_TEST_NETNS:-}" ] && unshare --net --map-root-user true 2>/dev/null; then
  KQ_SYSTEM_TEST_NETNS=1 exec unshare --net --map-root-user bash "$0" "$@"
fi
[ -z "${KQ_SYSTEM_TEST_NETNS:-}" ] || ip link set lo up
build=$(cd "${1:-build/win}" && pwd)
kqsyncd=$(cd "${2:-build/native}" && pwd)/server/kqsyncd
[ -x "$kqsyncd" ] || { echo "no kqsyncd at $kqsyncd"; exit 1; }
source scripts/wine-env.sh "$build"
wineserver -k >/dev/null 2>&1 || true

work=$build/offline-edit-test
rm -rf "$work"
mkdir -p "$work/app" "$work/sync" "$work/store" "$work/data"
cp "$build/KQFilesyncClient.exe" "$work/app/"
printf 'written before the first start\n' >"$work/sync/a.txt"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
sync_win=$(winpath "$work/sync")
log=$work/sync/_log/Filesync.log
key=OFFLINEKEY1234
printf '{"KQFilsyncConfig":[{"Host":"127.0.0.1","port":"21234","protocol":"00003","contract":"1234","API-key":"%s","KQDir":"%s","Reconnect":"1"}]}' \
  "$key" "${sync_win//\\/\\\\}" >"$work/app/filesync.cfg"
"$kqsyncd" --data "$work/data" account add --contract 1234 --key "$key" --store "$work/store" >/dev/null

display=
for n in $(seq 80 89); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=:$n; break; fi
done
[ -n "$display" ] || { echo "no free X display"; exit 1; }
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
"$kqsyncd" --data "$work/data" serve --host 127.0.0.1 --cycle 1 --timeout 30 >>"$work/data/kqsyncd.log" 2>&1 &
server=$!
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$server" "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT

failures=0
pass() { echo "ok   - $*"; }
fail() { echo "FAIL - $*"; failures=$((failures + 1)); }
check() { local name=$1; shift; if "$@"; then pass "$name"; else fail "$name"; fi; }
quiet() { grep -v 'wine32 is missing\|multiarch\|dpkg --add-architecture\|apt-get install wine32\|FS volume label' >&2; }
drive() { wine "$build/ui_driver.exe" "$@" 2> >(quiet); }
wait_for() {  # wait_for SECONDS COMMAND...
  local end=$((SECONDS + $1)); shift
  while [ $SECONDS -lt $end ]; do "$@" && return 0; sleep 0.5; done
  return 1
}
same() { cmp -s "$1" "$2"; }
main="Korvalinq Drive Client"
run_client() {
  wine "$work/app/KQFilesyncClient.exe" 2> >(quiet) &
  client=$!
  check "main window created ($1)" drive wait-window "$main" 20000
}
exit_client() {
  drive menu 40005
  check "Exit ends the program ($1)" drive wait-gone "$main" 15000
  wait_for 15 bash -c "! kill -0 $client 2>/dev/null"
}

echo "# first run: the file reaches the store, the client remembers it"
run_client "first run"
check "a.txt in the store" wait_for 90 same "$work/sync/a.txt" "$work/store/a.txt"
check "a server cycle ended" wait_for 30 grep -qF "Modification queue: 0" "$log"
exit_client "first run"
check "the list of known files names a.txt" grep -qF "$(printf '\ta.txt')" "$work/sync/_config/KnownFiles.dat"

echo "# while the client is stopped"
printf 'edited while the client was stopped, a longer text\n' >"$work/sync/a.txt"

echo "# second run: the edit is found at start and sent"
run_client "second run"
check "the edit is found at start" wait_for 30 grep -qF "Changed while the client was stopped: a.txt" "$log"
check "the edit reaches the store" wait_for 90 same "$work/sync/a.txt" "$work/store/a.txt"
exit_client "second run"

echo
if [ "$failures" -eq 0 ]; then echo "win_offline_edit_test: all checks passed"; else echo "win_offline_edit_test: $failures failed"; fi
[ "$failures" -eq 0 ]
