#!/usr/bin/env bash
# win-names-test.sh [BUILD]: KQFilesyncClient.exe under Wine against the real
# kqsyncd (build/native/server/kqsyncd, or $KQSYNCD) in two rounds:
#   1. UnicodeNames off: a name outside the code page on either side is not
#      synchronised; the client reports its own once, with the reason; a path
#      of 300 characters is synchronised both ways.
#   2. UnicodeNames=1 in Filesync.ini and kqsyncd serving with --names unicode:
#      names outside the code page (and beyond the BMP) go both ways.
# Logs stay in BUILD/names-test.
set -uo pipefail
cd "$(dirname "$0")/.."
if [ -z "${KQ_SYSTEM_TEST_NETNS:-}" ] && unshare --net --map-root-user true 2>/dev/null; then
  KQ_SYSTEM_TEST_NETNS=1 exec unshare --net --map-root-user bash "$0" "$@"
fi
if [ -n "${KQ_SYSTEM_TEST_NETNS:-}" ]; then
  ip link set lo up
else
  echo "note: no network namespace available; the test uses 127.0.0.1:21234 of this machine"
fi
build=${1:-build/win}
kqsyncd=${KQSYNCD:-$PWD/build/native/server/kqsyncd}
for f in "$build/KQFilesyncClient.exe" "$kqsyncd"; do
  [ -e "$f" ] || { echo "missing $f (scripts/build.sh win and native)"; exit 1; }
done
build=$(cd "$build" && pwd)
source scripts/wine-env.sh "$build"
wineserver -k >/dev/null 2>&1 || true

work=$build/names-test
rm -rf "$work"
mkdir -p "$work/app" "$work/sync" "$work/store" "$work/data"
cp "$build/KQFilesyncClient.exe" "$work/app/"
key=abcdefghijklmnopqrstuvwx
winpath() { printf 'Z:%s' "${1//\//\\}"; }
sync_win=$(winpath "$work/sync")
printf '{"KQFilsyncConfig":[{"Host":"127.0.0.1","port":"21234","protocol":"00003","contract":"1234","API-key":"%s","KQDir":"%s","Reconnect":"1"}]}' \
  "$key" "${sync_win//\\/\\\\}" >"$work/app/filesync.cfg"
"$kqsyncd" --data "$work/data" account add --contract 1234 --key "$key" --store "$work/store" >/dev/null || exit 1
log=$work/sync/_log/Filesync.log

failures=0
check() { local name=$1; shift; if "$@"; then echo "ok   - $name"; else echo "FAIL - $name"; failures=$((failures + 1)); fi; }
wait_for() {  # wait_for SECONDS COMMAND...
  local end=$((SECONDS + $1)); shift
  until "$@"; do [ $SECONDS -ge $end ] && return 1; sleep 0.5; done
}
same() { cmp -s "$1" "$2"; }

display=
for n in $(seq 80 99); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=:$n; break; fi
done
[ -n "$display" ] || { echo "no free X display"; exit 1; }
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
server= client=
stop() {
  [ -n "$client" ] && kill "$client" 2>/dev/null
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  client= server=
}
trap 'stop; kill $xvfb 2>/dev/null' EXIT
quiet() { grep -v 'wine32 is missing\|multiarch\|dpkg --add-architecture\|apt-get install wine32\|FS volume label' >&2; }
start() {  # start NAMES: kqsyncd with --names NAMES, then the client
  "$kqsyncd" --data "$work/data" serve --host 127.0.0.1 --cycle 1 --timeout 30 --names "$1" >>"$work/kqsyncd.log" 2>&1 &
  server=$!
  wine "$work/app/KQFilesyncClient.exe" 2> >(quiet) &
  client=$!
}

# A 300-character path on each side: folders of 50 characters.
seg=$(printf 'f%.0s' $(seq 1 49))
long_rel="$seg/$seg/$seg/$seg/$seg"
mkdir -p "$work/sync/$long_rel" "$work/store/$long_rel"
printf 'long from the client\n' >"$work/sync/$long_rel/client-side-long-name.txt"
printf 'long from the server\n' >"$work/store/$long_rel/server-side-long-name.txt"
client_long="$sync_win\\${long_rel//\//\\}\\client-side-long-name.txt"
echo "long paths: ${#client_long} characters (client side)"

printf 'from the client\n' >"$work/sync/日本.txt"
printf 'smile\n' >"$work/sync/😀.txt"
printf 'from the server\n' >"$work/store/снег.txt"

echo "# round 1: UnicodeNames off"
start codepage
check "long path from the client reaches the store" \
  wait_for 90 same "$work/sync/$long_rel/client-side-long-name.txt" "$work/store/$long_rel/client-side-long-name.txt"
check "long path from the server reaches the client" \
  wait_for 60 same "$work/store/$long_rel/server-side-long-name.txt" "$work/sync/$long_rel/server-side-long-name.txt"
line="Name not synchronised: $sync_win\\\\u65e5\\u672c.txt (characters outside the code page 1252)"
check "name outside the code page reported" wait_for 30 grep -qF -- "$line" "$log"
check "name beyond the BMP reported" grep -qF -- "$sync_win\\\\ud83d\\ude00.txt (characters outside the code page 1252)" "$log"
sleep 5  # more cycles: still one report per name
check "reported once ($(grep -cF -- "$line" "$log"))" test "$(grep -cF -- "$line" "$log")" = 1
check "the file stays in place" test -f "$work/sync/日本.txt"
check "nothing of it in the store" test -z "$(cd "$work/store" && ls | grep -v '^f' | grep -v 'снег')"
check "the server's name outside the code page is not offered" test ! -e "$work/sync/снег.txt"
stop

echo "# round 2: UnicodeNames=1"
ini=$work/sync/_config/Filesync.ini
if grep -q '^\[Basic\]' "$ini" 2>/dev/null; then
  sed -i 's/^\[Basic\]\r\?$/&\nUnicodeNames=1\r/' "$ini"
else
  mkdir -p "$work/sync/_config" && printf '[Basic]\r\nUnicodeNames=1\r\n' >>"$ini"
fi
start unicode
check "name outside the code page reaches the store" wait_for 60 same "$work/sync/日本.txt" "$work/store/日本.txt"
check "name beyond the BMP reaches the store" wait_for 30 same "$work/sync/😀.txt" "$work/store/😀.txt"
check "server's Cyrillic name reaches the client" wait_for 30 same "$work/store/снег.txt" "$work/sync/снег.txt"
printf 'changed on the server\n' >"$work/store/日本.txt"
check "a change of it in the store reaches the client" wait_for 60 same "$work/store/日本.txt" "$work/sync/日本.txt"
stop

echo
if [ "$failures" -eq 0 ]; then echo "win-names-test: all checks passed"; else echo "win-names-test: $failures failed"; fi
[ "$failures" -eq 0 ]
