#!/usr/bin/env bash
# win-system-test.sh [BUILD]: system test of KQFilesyncClient.exe under Wine.
# The real client runs beside a "filesync.cfg" whose sync folder lies under Z:\,
# against a scripted sync server on loopback and a stand-in watcher service on
# 127.0.0.1:11111, and is driven from outside its process by ui_driver.exe.
# Screenshots of the main window and of every dialog stay in BUILD/system-test/shots.
set -uo pipefail
cd "$(dirname "$0")/.."
# The watcher port 11111 is fixed: run in a network namespace of our own, so other
# programs on this machine that use the port neither disturb nor see the test.
if [ -z "${KQ_SYSTEM_TEST_NETNS:-}" ] && unshare --net --map-root-user true 2>/dev/null; then
  KQ_SYSTEM_TEST_NETNS=1 exec unshare --net --map-root-user bash "$0" "$@"
fi
if [ -n "${KQ_SYSTEM_TEST_NETNS:-}" ]; then
  ip link set lo up
else
  echo "note: no network namespace available; the test shares 127.0.0.1:11111 with this machine"
fi
build=${1:-build/win}
if [ ! -f "$build/KQFilesyncClient.exe" ] || [ ! -f "$build/ui_driver.exe" ]; then
  bash scripts/build.sh win || exit 1
fi
build=$(cd "$build" && pwd)
source scripts/wine-env.sh "$build"
wineserver -k >/dev/null 2>&1 || true  # its sockets must live in this namespace

work=$build/system-test
rm -rf "$work"
mkdir -p "$work/app" "$work/sync/docs" "$work/outbox" "$work/shots"
cp "$build/KQFilesyncClient.exe" "$work/app/"
printf 'hello\n' >"$work/sync/a.txt"
printf 'to be deleted\n' >"$work/sync/docs/b.txt"
printf 'not for the server\n' >"$work/sync/note.bak"

failures=0
pass() { echo "ok   - $*"; }
fail() { echo "FAIL - $*"; failures=$((failures + 1)); }
check() { local name=$1; shift; if "$@"; then pass "$name"; else fail "$name"; fi; }

# Local path text of a Linux path: Z: and backslashes.
winpath() { printf 'Z:%s' "${1//\//\\}"; }
sync_win=$(winpath "$work/sync")
log=$work/sync/_log/Filesync.log

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
key=abcdefghijklmnopqrstuvwx
printf '{"KQFilsyncConfig":[{"Host":"127.0.0.1","port":"%s","protocol":"00003","contract":"1234","API-key":"%s","KQDir":"%s","Reconnect":"1"}]}' \
  "$port" "$key" "${sync_win//\\/\\\\}" >"$work/app/filesync.cfg"

display=
for n in $(seq 90 99); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=:$n; break; fi
done
[ -n "$display" ] || { echo "no free X display"; exit 1; }
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
pids=()
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
sleep 1

quiet() { grep -v 'wine32 is missing\|multiarch\|dpkg --add-architecture\|apt-get install wine32\|FS volume label' >&2; }
drive() { wine "$build/ui_driver.exe" "$@" 2> >(quiet); }
shot() { import -window root "$work/shots/$1.png"; }
wait_log() {  # wait_log TEXT SECONDS
  local end=$((SECONDS + $2))
  while [ $SECONDS -lt $end ]; do
    grep -qF -- "$1" "$log" 2>/dev/null && return 0
    sleep 0.2
  done
  return 1
}
in_log() { grep -qF -- "$1" "$log"; }
send_watcher() {  # one watcher message: action digit and path
  local name; name=$(date +%s%N)
  printf '%s%s' "$1" "$2" >"$work/outbox/.$name" && mv "$work/outbox/.$name" "$work/outbox/$name"
}
main="Korvalinq Drive Client"

echo "# start: client in the tray, no server, no watcher"
wine "$work/app/KQFilesyncClient.exe" 2> >(quiet) &
client=$!
check "main window created" drive wait-window "$main" 15000
check "main window starts hidden" test "$(drive wait-visible "$main" 300; echo $?)" = 1
box=$(drive watch-window "Korvalinq Drive" 20000)
box=${box%$'\r'}
check "socket error box shown and closed while the link is down ($box)" test "$box" = "seen closed"
check "refused connection logged" wait_log "Client socket error! Code: 10061" 10
check "watcher attempts logged" in_log "Connecting to service..."

echo "# server and watcher come up: the client connects by itself"
python3 tests/system/fake_watcher.py "$work/outbox" &
pids+=($!)
python3 tests/system/fake_sync_server.py --port "$port" --init "KQFILESYNC000031234$key" \
  --go "$work/go" --pushed "pushed by the server" --result "$work/server.json" &
pids+=($!)
check "connected to the server" wait_log "Connected to Korvalinq Server!" 25
check "working path logged" wait_log "Working path: $sync_win" 5
check "connected to the watcher" wait_log "Connected to service!" 15

echo "# main window from the tray"
drive tray-click
check "tray click shows the main window" drive wait-visible "$main" 5000
read -r sw sh < <(drive screen | tr -d '\r')
read -r l t r b < <(drive rect "$main" | tr -d '\r')
check "placed at the bottom right ($l $t $r $b of $sw x $sh)" test "$r" = "$sw" -a "$b" = "$((sh - 40))"
check "client area 930 x 578" test "$(drive client-size "$main" | tr -d '\r')" = "930 578"
sleep 0.5; shot main
drive close "$main"
check "closing only hides" drive wait-hidden "$main" 5000
check "still running after close" drive wait-window "$main" 100
drive tray-click
check "shown again from the tray" drive wait-visible "$main" 5000

echo "# Settings"
drive menu 40004
check "Settings shown" drive wait-visible Settings 5000
check "no file: first option selected" test "$(drive checked Settings 1031 | tr -d '\r')" = 1
sleep 0.3; shot settings
drive click Settings 1033
drive click Settings 1041
check "OK closes Settings" drive wait-hidden Settings 5000
check "filedeletion written" grep -q '^filedeletion=2' "$work/sync/_config/Filesync.ini"

echo "# exceptions editor"
drive menu 40003
check "Exceptions shown" drive wait-visible Exceptions 5000
check "missing lists logged" wait_log "Error on loading exceptions..." 5
check "initial extensions" test "$(drive get-text Exceptions 1011 | tr -d '\r' | paste -sd,)" = ".tmp,.TMP"
check "initial prefixes" test "$(drive get-text Exceptions 1012 | tr -d '\r')" = "~"
sleep 0.3; shot exceptions
drive replace-text Exceptions 1011 '.tmp\n.TMP\n.bak'
drive click Exceptions 1042
check "Save closes the editor" drive wait-hidden Exceptions 5000
check "exstensions.dat written" test "$(od -An -c "$work/sync/_config/exstensions.dat" | tr -s ' \n' ' ')" = " . t m p \r \n . T M P \r \n . b a k \r \n "
check "exceptions.dat written" test "$(od -An -c "$work/sync/_config/exceptions.dat" | tr -s ' \n' ' ')" = " ~ \r \n "
check "_config hidden and system" test "$(python3 -c "import os;print(os.getxattr('$work/sync/_config','user.DOSATTRIB').decode())")" = 0x6
send_watcher 3 "$sync_win\\note.bak"
send_watcher 3 "$sync_win\\a.txt"
check "filter changed: .bak excluded" wait_log "Will not add to the queue due to an exception found for file: $sync_win\\note.bak" 10
check "a.txt queued" wait_log "Saving to queue (modification handling): $sync_win\\a.txt" 10

echo "# one synchronisation round"
touch "$work/go"
for _ in $(seq 1 150); do [ -f "$work/server.json" ] && break; sleep 0.2; done
if [ -f "$work/server.json" ]; then
  python3 - "$work/server.json" <<'EOF'
import json, sys
result = json.load(open(sys.argv[1]))
for step in result["steps"]:
    print(("ok   - server: " if step["ok"] else "FAIL - server: ") + step["step"] +
          ("" if step["ok"] else " (" + step["detail"] + ")"))
for failure in result["failures"]:
    if not any(failure.startswith(s["step"] + ":") for s in result["steps"]):
        print("FAIL - server: " + failure)
sys.exit(1 if result["failures"] else 0)
EOF
  [ $? -eq 0 ] || failures=$((failures + 1))
  check "change report names a.txt as modified" python3 -c "
import json,sys; a=json.load(open('$work/server.json')).get('anchg','')
sys.exit(0 if '/a.txt' in a.replace('\\\\/','/') and 'MODIFIED' in a else 1)"
  check "listing names the pushed file" grep -q 'pushed.txt' "$work/server.json"
  # The subfolder's entries stand behind the folder argument's own slash.
  check "subfolder listing text" python3 -c "
import json,re,sys; text=json.load(open('$work/server.json')).get('anlst_docs','')
entry=r'\"filepath\":\"//docs/(b|pushed)\.txt\",\"size\":\"(14|20)\",\"mdate\":\"\d{4}-\d\d-\d\d\",\"mtime\":\"\d\d\.\d\d\.\d\d\"'
m=re.fullmatch(r'\{\"content\":\[\{'+entry+','+entry+r'\}\]\}', text)
sys.exit(0 if m and {m.group(1), m.group(3)} == {'b','pushed'} else 1)"
else
  fail "server round finished"
fi
check "pushed file on disk" test "$(cat "$work/sync/docs/pushed.txt" 2>/dev/null)" = "pushed by the server"
check "deleted file gone (policy: delete)" test ! -e "$work/sync/docs/b.txt"

echo "# forced synchronisation from the file list's pop-up menu"
check "a.txt selected" drive select "$main" 2006 0
drive menu 40010
check "forced synchronisation logged" wait_log "Force file synchronization: $sync_win\\a.txt" 5
drive menu 40010
check "second time: already queued" wait_log "This file has already been added to the sync queue!" 5
check "and told in a box" drive wait-visible Information 5000
sleep 0.3; shot information
drive close Information
check "box closed" drive wait-gone Information 5000

echo "# Client Log by Alt+F1"
drive alt-f1
check "Client Log shown" drive wait-visible "Client Log" 5000
read -r l t r b < <(drive rect "Client Log" | tr -d '\r')
check "Client Log at the top left" test "$l $t" = "0 0"
read -r cw ch < <(drive client-size "Client Log" | tr -d '\r')
check "Client Log height is the screen's less 100 ($cw x $ch)" test "$ch" = "$((sh - 100))"
check "Client Log holds the session" drive get-text "Client Log" 1011 >"$work/memo.txt"
check "Client Log shows the connection" grep -qF "Connected to Korvalinq Server!" "$work/memo.txt"
sleep 0.3; shot client-log
drive close "Client Log"

echo "# Configuration and About"
drive menu 40002
check "Configuration shown" drive wait-visible Configuration 5000
fields=$(for id in 1001 1002 1003 1004 1005 1006; do drive get-text Configuration $id | tr -d '\r'; done | paste -sd'|')
check "configuration fields ($fields)" test "$fields" = "127.0.0.1|$port|00003|1234|$key|$sync_win"
sleep 0.3; shot configuration
drive click Configuration 1041
check "OK closes Configuration" drive wait-hidden Configuration 5000
drive menu 40009
check "About shown" drive wait-visible About 5000
check "About shows the version" test "$(drive get-text About 1064 | tr -d '\r')" = "Version 0.4.2"
sleep 0.3; shot about
drive click About 1
check "OK closes About" drive wait-hidden About 5000

echo "# second start: the folder action opens the sync folder"
wine "$work/app/KQFilesyncClient.exe" 2> >(quiet)
check "second start ends at once" true
check "Explorer shows the sync folder" drive wait-window sync 10000
drive close sync

echo "# Exit"
drive menu 40005
check "Exit ends the program" drive wait-gone "$main" 10000
for _ in $(seq 1 50); do kill -0 "$client" 2>/dev/null || break; sleep 0.2; done
check "client process ended" test "$(kill -0 "$client" 2>/dev/null; echo $?)" = 1

echo "# an edit made while the client was stopped reaches the real kqsyncd"
wineserver -k >/dev/null 2>&1 || true
if [ -x build/native/server/kqsyncd ]; then
  KQ_SYSTEM_TEST_NETNS=${KQ_SYSTEM_TEST_NETNS:-} bash tests/system/win_offline_edit_test.sh "$build" build/native ||
    failures=$((failures + 1))
  echo "# what the user sees when something is wrong, with the real kqsyncd"
  wineserver -k >/dev/null 2>&1 || true
  KQ_SYSTEM_TEST_NETNS=${KQ_SYSTEM_TEST_NETNS:-} bash tests/system/win_status_test.sh "$build" build/native ||
    failures=$((failures + 1))
  echo "# a folder linked into the sync folder is never synchronised, with the real kqsyncd"
  wineserver -k >/dev/null 2>&1 || true
  KQ_SYSTEM_TEST_NETNS=${KQ_SYSTEM_TEST_NETNS:-} bash tests/system/win_linked_folder_test.sh "$build" build/native ||
    failures=$((failures + 1))
else
  fail "kqsyncd not built (bash scripts/build.sh native)"
fi

echo
if [ "$failures" -eq 0 ]; then echo "win-system-test: all checks passed"; else echo "win-system-test: $failures failed"; fi
[ "$failures" -eq 0 ]
