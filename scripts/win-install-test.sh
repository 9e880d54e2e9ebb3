#!/usr/bin/env bash
# win-install-test.sh: the Windows installation journey under Wine, in a fresh
# prefix with its own X display.
#   1. the installer's input checks (host "ab", empty contract, empty API key,
#      empty sync folder after a cancelled folder browser);
#   2. "Configure" with valid values: program folder, filesync.cfg, the removed
#      source filesync.cfg, registry values, both shortcuts, the service
#      ZRService running and answering on 127.0.0.1:11111;
#   3. "Next" starts the installed client, which connects to kqsyncd and
#      synchronises both ways (store -> sync folder, sync folder -> store);
#   4. uninstall.exe, started from its folder as the uninstall entry does,
#      removes everything but the sync folder.
# Needs: bash scripts/build.sh win (build/win/dist, the UI driver) and
# bash scripts/build.sh native (kqsyncd). Artefacts (screenshots of both
# installer pages, logs) stay in build/win-install-test.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
dist=$root/build/win/dist
driver_exe=$root/build/win/tests/system/installer_driver.exe
kqsyncd=${KQSYNCD:-$root/build/native/server/kqsyncd}
for f in "$dist/KQFilesyncClient.exe" "$dist/zrservice.exe" "$dist/uninstall.exe" "$driver_exe" "$kqsyncd"; do
  [ -e "$f" ] || { echo "missing $f (build with scripts/build.sh win and native)" >&2; exit 2; }
done

out=$root/build/win-install-test
rm -rf "$out"
mkdir -p "$out/dist" "$out/store" "$out/data"
cp "$dist"/*.exe "$out/dist/"
cp "$driver_exe" "$out/"

export WINEPREFIX=$out/wineprefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
contract=4711
key=K0RVAL1NQTESTKEY00004711
user_c=$WINEPREFIX/drive_c/users/root
program="$WINEPREFIX/drive_c/Program Files (x86)/Korvalinq Drive"
sync="$user_c/Korvalinq Drive"
appdata="$user_c/AppData/Roaming"
uninstall_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Korvalinq Drive'
winpath() { echo "Z:${1//\//\\}"; }

pids=()
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

fail() { echo "FAILED: $*" >&2; exit 1; }
ok() { echo "ok: $*"; }
check() { local what=$1; shift; "$@" || fail "$what"; ok "$what"; }
wait_for() {
  local limit=$1 what=$2; shift 2
  local end=$((SECONDS + limit))
  until "$@"; do [ $SECONDS -lt $end ] || fail "$what (after ${limit}s)"; sleep 0.5; done
  ok "$what"
}
quiet_wine() { wine "$@" 2> >(grep -v 'wine32\|multiarch\|dpkg --add\|apt-get install' >&2); }
drive() { quiet_wine "$out/installer_driver.exe" "$@" | tr -d '\r' | tee -a "$out/driver.log"; return "${PIPESTATUS[0]}"; }
shot() { import -display "$DISPLAY" -window root "$out/$1" 2>/dev/null || echo "(no screenshot $1)"; }
reg_value() { quiet_wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }

# The watcher port is machine-wide: wait until no other watcher holds it.
port_free() { ! ss -ltn 2>/dev/null | grep -q '127.0.0.1:11111 '; }
wait_for 300 "port 11111 is free for the service" port_free

# An X display of our own and a fresh prefix.
display=99
while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
export DISPLAY=:$display
Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
wineboot -i >/dev/null 2>&1 || true
quiet_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
wineserver -w
for d in Desktop Documents Downloads Music Pictures Videos; do
  rm -rf "${user_c:?}/$d"
  mkdir -p "$user_c/$d"
done
wineserver -p  # keeps the prefix (and its services) alive between the programs

# The server: one account for the contract, its store in build/win-install-test/store.
"$kqsyncd" --data "$out/data" account add --contract "$contract" --key "$key" --store "$out/store" >/dev/null
"$kqsyncd" --data "$out/data" serve --host 127.0.0.1 --cycle 1 --timeout 30 >"$out/kqsyncd.log" 2>&1 &
pids+=($!)
echo "from the store" >"$out/store/from-store.txt"

echo "== installer: input checks"
quiet_wine "$(winpath "$out/dist/KQFilesyncClient.exe")" install >"$out/installer.out" 2>&1 &
drive fill ab "$contract" "$key" click configure box Information "Host name expected!"
drive fill 127.0.0.1 "" "$key" click configure box Information "Contract name expected!"
drive fill 127.0.0.1 "$contract" "" click configure box Information "API key expected!"
drive expect 4021 'C:\users\root\Korvalinq Drive' expect 4002 v0.4.2 \
  click browse cancel-browse expect 4021 "" \
  fill 127.0.0.1 "$contract" "$key" click configure box Information "Korvalinq Drive destination path expected!"
check "refused input wrote nothing" test ! -e "$program" -a ! -e "$sync" -a ! -e "$out/dist/filesync.cfg"

echo "== installer: configure"
drive folder 'C:\users\root\Korvalinq Drive' fill 127.0.0.1 "$contract" "$key"
shot installer-page1.png
drive click configure page2 expect 4041 $'That was it!\nKorvalinq Drive is\nnow installed.' no-box Error
shot installer-page2.png
check "client, service and configuration in the program folder" \
  cmp -s "$program/KQFilesyncClient.exe" "$out/dist/KQFilesyncClient.exe"
check "service in the program folder" cmp -s "$program/zrservice.exe" "$out/dist/zrservice.exe"
expected_cfg='{"KQFilsyncConfig":[{"Host":"127.0.0.1","port":"24711","protocol":"00003","contract":"4711","API-key":"'$key'","KQDir":"C:\\users\\root\\Korvalinq Drive","Reconnect":"1"}]}'
check "filesync.cfg written exactly" test "$(cat "$program/filesync.cfg")" = "$expected_cfg"
check "the source filesync.cfg is removed" test ! -e "$out/dist/filesync.cfg"
check "the sync folder exists" test -d "$sync"
check "uninstaller copied" cmp -s "$appdata/Korvalinq Drive/uninstall.exe" "$out/dist/uninstall.exe"
# Wine names the folder "StartUp"; Windows does not mind the case.
startup_lnk=$(find "$appdata/Microsoft/Windows/Start Menu/Programs" -maxdepth 2 -ipath '*/startup/filesync.lnk' | head -1)
check "startup shortcut exists" test -n "$startup_lnk"
check "desktop and startup shortcuts are identical" cmp -s "$user_c/Desktop/Filesync.lnk" "$startup_lnk"
check "the shortcut points at the installed client" \
  grep -qxF 'C:\Program files (x86)\Korvalinq Drive\KQFilesyncClient.exe' <(strings -a "$startup_lnk")
check "the shortcut's description" grep -qxF 'Korvalinq Drive Client' <(strings -a -el "$startup_lnk")
while IFS='|' read -r name value; do
  check "registry $name" test "$(reg_value "$uninstall_key" "$name")" = "$value"
done <<'VALUES'
DisplayName|Korvalinq Drive Filesync
UninstallString|C:\users\root\AppData\Roaming\Korvalinq Drive\uninstall.exe
Publisher|Halmo
DisplayVersion|0.4.2
InstallLocation|C:\Program Files (x86)\Korvalinq Drive\
DisplayIcon|C:\Program Files (x86)\Korvalinq Drive\KQFilesyncClient.exe
VALUES
check "registry ServicesPipeTimeout" \
  test "$(reg_value 'HKLM\SYSTEM\CurrentControlSet\Control' ServicesPipeTimeout)" = 0x2bf20
service_running() { quiet_wine sc query ZRService 2>/dev/null | grep -q 'STATE.*RUNNING'; }
wait_for 120 "service ZRService running" service_running
port_open() { (exec 3<>/dev/tcp/127.0.0.1/11111) 2>/dev/null; }
wait_for 60 "service answering on 127.0.0.1:11111" port_open

echo "== the installed client synchronises"
drive click next gone
client_running() { pgrep -f 'Korvalinq Drive.KQFilesyncClient.exe' >/dev/null; }
wait_for 60 "the installed client runs" client_running
arrived() { [ -f "$sync/from-store.txt" ] && cmp -s "$sync/from-store.txt" "$out/store/from-store.txt"; }
wait_for 180 "a file of the store reaches the sync folder" arrived
echo "from windows" >"$sync/from-windows.txt"
reached() { [ -f "$out/store/from-windows.txt" ] && cmp -s "$out/store/from-windows.txt" "$sync/from-windows.txt"; }
wait_for 180 "a file written in the sync folder reaches the store" reached

echo "== uninstall"
quiet_wine "C:\\users\\root\\AppData\\Roaming\\Korvalinq Drive\\uninstall.exe" >"$out/uninstall.out" 2>&1 &
drive answer "Uninstall Korvalinq Drive" $'Do you want to remove Korvalinq Drive from this computer?\n\nThe program, the watcher service ZRService, the shortcuts and the uninstall entry are removed.\nYour sync folder and the files in it are left untouched.' 6 \
  box "Uninstall Korvalinq Drive" $'Korvalinq Drive has been removed from this computer.\nYour sync folder was left untouched.'
client_gone() { ! client_running; }
wait_for 15 "the client was ended" client_gone
check "program folder removed" test ! -e "$program"
check "shortcuts removed" test ! -e "$user_c/Desktop/Filesync.lnk" -a ! -e "$startup_lnk"
check "uninstaller folder removed" test ! -e "$appdata/Korvalinq Drive"
check "uninstall entry removed" bash -c "! wine reg query '$uninstall_key' >/dev/null 2>&1"
check "service removed" bash -c "! wine sc query ZRService 2>/dev/null | grep -q SERVICE_NAME"
check "sync folder and its files kept" cmp -s "$sync/from-store.txt" "$out/store/from-store.txt"
check "the file written on Windows kept" test "$(cat "$sync/from-windows.txt")" = "from windows"
echo "win-install-test: all checks passed (artefacts in $out)"
