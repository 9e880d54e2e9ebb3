#!/usr/bin/env bash
# win_status_test.sh [WIN_BUILD] [NATIVE_BUILD]: what the Windows user sees when
# something is wrong, with KQFilesyncClient.exe under Wine against the real
# kqsyncd on loopback, in a network namespace of its own:
#   - a wrong API key: the refusal in status panel 0 and the tray tip within
#     30 s, one notice, and attempts that slow down (read from the log's times);
#   - the right key written by a new set-up: the client connects at once;
#   - a local Жук.txt (code page 1252) in the "Not synchronised" list with its
#     reason, and as itself in the main window's file list;
#   - "MB left" counted by the client while a file comes in (the server held
#     with SIGSTOP mid-transfer), and the server's figure again after it;
#   - every status panel inside the main window at its first size;
#   - a start without "filesync.cfg" and without "install": a box offers the set-up.
# Screenshots stay in WIN_BUILD/status-test/shots.
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

work=$build/status-test
rm -rf "$work"
mkdir -p "$work/app" "$work/bare" "$work/sync" "$work/store" "$work/data" "$work/shots"
cp "$build/KQFilesyncClient.exe" "$work/app/"
cp "$build/KQFilesyncClient.exe" "$work/bare/"
printf 'hello\n' >"$work/sync/a.txt"
printf 'a beetle\n' >"$work/sync/Жук.txt"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
sync_win=$(winpath "$work/sync")
log=$work/sync/_log/Filesync.log
right=K0RVAL1NQTESTKEY00004711
config() {  # config KEY: the configuration the installer writes
  printf '{"KQFilsyncConfig":[{"Host":"127.0.0.1","port":"21234","protocol":"00003","contract":"1234","API-key":"%s","KQDir":"%s","Reconnect":"1"}]}' \
    "$1" "${sync_win//\\/\\\\}" >"$work/app/filesync.cfg"
}
config K0RVAL1NQTESTKEY0000471
"$kqsyncd" --data "$work/data" account add --contract 1234 --key "$right" --store "$work/store" >/dev/null

display=
for n in $(seq 70 79); do
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
shot() { import -window root "$work/shots/$1.png"; }
wait_for() {  # wait_for SECONDS COMMAND...
  local end=$((SECONDS + $1)); shift
  while [ $SECONDS -lt $end ]; do "$@" && return 0; sleep 0.5; done
  return 1
}
main="Korvalinq Drive Client"
text_is() { [ "$(drive get-text "$main" "$1" | tr -d '\r')" = "$2" ]; }
text_has() { drive get-text "$main" "$1" | tr -d '\r' | grep -qF -- "$2"; }
refusal="The server refused contract 1234 and this API key: run the installer again to correct them"

echo "# a wrong API key"
wine "$work/app/KQFilesyncClient.exe" 2> >(quiet) &
client=$!
check "main window created" drive wait-window "$main" 20000
started=$SECONDS
check "panel 0 names the refusal" wait_for 30 text_is 2008 "Refused: contract 1234"
check "the tray tip says what to do" wait_for 5 text_is 2009 "Korvalinq Drive: $refusal"
echo "   (shown after $((SECONDS - started)) s)"
check "the log says it" grep -qF -- "$refusal" "$log"
drive tray-click
drive wait-visible "$main" 5000 >/dev/null
sleep 0.5; shot refused
check "slower after three refusals" wait_for 100 grep -qF "Refused 4 times in a row: next attempt in 40 s" "$log"
# The attempts' times: 10 s apart, then at least 20 s after the third refusal.
mapfile -t times < <(grep -F "Auto connecting to Korvalinq Server..." "$log" | cut -c12-19 |
  while IFS=: read -r h m s; do echo $((10#$h * 3600 + 10#$m * 60 + 10#$s)); done)
gaps=()
for ((i = 1; i < ${#times[@]}; i++)); do gaps+=($((times[i] - times[i - 1]))); done
echo "   gaps between attempts: ${gaps[*]}"
check "the first attempts 10 s apart" test "${#gaps[@]}" -ge 3 -a "${gaps[0]:-0}" -lt 20 -a "${gaps[1]:-0}" -lt 20
check "the fourth attempt waits 20 s or more" test "${gaps[2]:-0}" -ge 20
check "one notice for the refusal" test "$(grep -cF -- "Notice: $refusal" "$log")" = 1

echo "# the set-up writes the right key: the client connects at the next tick"
config "$right"
check "connected with the new key" wait_for 25 text_is 2008 127.0.0.1
check "a.txt reaches the store" wait_for 60 cmp -s "$work/sync/a.txt" "$work/store/a.txt"
reason="characters outside the code page 1252"

echo "# the main window's file list"
files=$(drive list-items "$main" 2006 | tr -d '\r')
echo "   files: $(echo $files)"
check "Жук.txt reads as itself in the file list" grep -qxF "Жук.txt" <<<"$files"

echo "# \"MB left\" while a file comes in"
panel() { drive panel-texts "$main" 2008 | tr -d '\r' | sed -n "$(($1 + 1))p"; }
panel_is() { [ "$(panel "$1")" = "$2" ]; }
mib=$((1024 * 1024))
head -c $((512 * mib)) /dev/zero >"$work/big.bin"
mv "$work/big.bin" "$work/store/big.bin"
part=$work/sync/big.bin.kqpart
partial() { [ -s "$part" ]; }
# The server is held as soon as the first bytes are on the client's disk.
end=$((SECONDS + 60))
until partial || [ $SECONDS -ge $end ]; do sleep 0.02; done
kill -STOP "$server"
check "a transfer is under way" partial
# What was on its way is read to the end: the size holds still.
received=-1
until [ "$received" = "$(stat -c %s "$part" 2>/dev/null)" ]; do received=$(stat -c %s "$part" 2>/dev/null); sleep 1.5; done
left=$(((512 * mib - received + mib - 1) / mib))
echo "   received $received bytes; panels: $(drive panel-texts "$main" 2008 | tr -d '\r' | paste -sd '|')"
check "panel 5 shows the client's count: MB left: $left" wait_for 10 panel_is 5 "MB left: $left"
check "panel 1 shows the file under way" bash -c "[[ \"\$1\" == 'Receiving big.bin '*' / 512.0 MB'* ]]" _ "$(panel 1)"
shot mb-left
kill -CONT "$server"
check "big.bin arrives whole" wait_for 300 cmp -s "$work/store/big.bin" "$work/sync/big.bin"
check "then the server's figure again: MB left: 0" wait_for 20 panel_is 5 "MB left: 0"
rm -f "$work/store/big.bin" "$work/sync/big.bin"
check "the tray tip counts the name left out" wait_for 60 text_has 2009 "1 name cannot be synchronised"

echo "# the names that are not synchronised"
drive menu 40013
check "the list is shown" drive wait-visible "Not synchronised" 5000
items=$(drive list-items "Not synchronised" 2101 | tr -d '\r')
echo "   list: $items"
check "Жук.txt reads as itself, with its reason" test "$items" = "$(printf '/Жук.txt\t%s' "$reason")"
sleep 0.5; shot not-synchronised
drive close "Not synchronised"

echo "# the status bar at the window's first size"
read -r cw ch < <(drive client-size "$main" | tr -d '\r')
check "client area 930 x 578 ($cw x $ch)" test "$cw $ch" = "930 578"
mapfile -t rects < <(drive panel-rects "$main" 2008 | tr -d '\r')
check "seven panels" test "${#rects[@]}" = 7
inside=1
for r in "${rects[@]}"; do
  read -r l t rr b <<<"$r"
  [ "$l" -ge 0 ] && [ "$t" -ge 0 ] && [ "$rr" -le "$cw" ] && [ "$b" -le "$ch" ] && [ "$rr" -gt "$l" ] || inside=0
done
check "every panel lies inside the client area (${rects[*]})" test "$inside" = 1
read -r l _ rr _ <<<"${rects[6]}"
check "the last panel holds \"Not synchronised: 1\" (130 px or more)" test $((rr - l)) -ge 130
sleep 0.3; shot main-window
drive menu 40005
check "Exit ends the client" drive wait-gone "$main" 15000

echo "# a start without a configuration"
wine "$work/bare/KQFilesyncClient.exe" 2> >(quiet) &
bare=$!
check "a box offers the set-up" drive wait-visible "Korvalinq Drive" 15000
box_asks() { drive get-text "Korvalinq Drive" 65535 | tr -d '\r' | grep -qF "Run the set-up now?"; }
check "the box asks to run the set-up" box_asks
sleep 0.3; shot not-set-up
drive click "Korvalinq Drive" 7  # No
check "No ends the program" wait_for 15 bash -c "! kill -0 $bare 2>/dev/null"

echo
if [ "$failures" -eq 0 ]; then echo "win_status_test: all checks passed"; else echo "win_status_test: $failures failed"; fi
[ "$failures" -eq 0 ]
