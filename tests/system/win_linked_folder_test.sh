#!/usr/bin/env bash
# win_linked_folder_test.sh [WIN_BUILD] [NATIVE_BUILD]: a folder linked into the
# sync folder of KQFilesyncClient.exe under Wine is never synchronised: it is
# logged once as not synchronised, nothing of it reaches the real kqsyncd, and
# store-side additions and deletions under its name leave its target alone.
# Under Wine 8 a Linux symbolic link to a folder is the only kind of link the
# client can meet: Wine shows it as a reparse point. A Linux link to a file is
# shown as a plain file (the attributes of its target, on the name and on the
# handle alike), CreateSymbolicLinkW answers TRUE and makes nothing, and a
# junction cannot be made (FSCTL_SET_REPARSE_POINT fails with error 50). The
# store lies outside kqsyncd's data folder: kqsyncd closes it to other users.
set -u
cd "$(dirname "$0")/../.."
# A network namespace of its own even inside the system test's: the watcher
# runs here and needs port 11111, which the system test's fake watcher holds.
if [ -z "${KQ_LINKED_FOLDER_NETNS:-}" ] && unshare --net --map-root-user true 2>/dev/null; then
  KQ_LINKED_FOLDER_NETNS=1 exec unshare --net --map-root-user bash "$0" "$@"
fi
[ -z "${KQ_LINKED_FOLDER_NETNS:-}" ] || ip link set lo up
build=$(cd "${1:-build/win}" && pwd)
kqsyncd=$(cd "${2:-build/native}" && pwd)/server/kqsyncd
[ -x "$kqsyncd" ] || { echo "no kqsyncd at $kqsyncd"; exit 1; }
source scripts/wine-env.sh "$build"
wineserver -k >/dev/null 2>&1 || true

work=$build/linked-folder-test
rm -rf "$work"
(umask 022 && mkdir -p "$work/app" "$work/sync" "$work/store" "$work/data")
mkdir -p "$work/home/projects/src"
cp "$build/KQFilesyncClient.exe" "$work/app/"
printf 'project plan' >"$work/home/projects/plan.txt"
printf 'int main() {}' >"$work/home/projects/src/main.c"
printf "the user's own file" >"$work/sync/mine.txt"
ln -s "$work/home/projects" "$work/sync/projects"
targets() { (cd "$work/home" && find . -printf '%y %p %s\n' -type f -exec sha256sum {} + | LC_ALL=C sort); }
before=$(targets)
source tests/system/win_journey_lib.sh
sync_win=$(winpath "$work/sync")
log=$work/sync/_log/Filesync.log
key=LINKEDKEY1234
printf '{"KQFilsyncConfig":[{"Host":"127.0.0.1","port":"21234","protocol":"00003","contract":"1234","API-key":"%s","KQDir":"%s","Reconnect":"1"}]}' \
  "$key" "${sync_win//\\/\\\\}" >"$work/app/filesync.cfg"
"$kqsyncd" --data "$work/data" account add --contract 1234 --key "$key" --store "$work/store" >/dev/null

winj_start_display
winj_start_server "$kqsyncd"
# The store lies outside kqsyncd's data folder and was made open to others (mkdir under umask 022).
check "kqsyncd closes the store folder to other users at start" \
  wait_for 30 grep -qF "the store folder $work/store of contract 1234 was open to other users, now its owner's only (0700)" "$work/data/kqsyncd.log"
check "the store folder is its owner's only" test "$(stat -c %a "$work/store")" = 700

absent() { [ ! -e "$1" ] && [ ! -L "$1" ]; }
link_intact() { [ -L "$work/sync/projects" ] && [ "$(targets)" = "$before" ]; }
nothing_in_store() {
  local sha
  for sha in $(cd "$work/home" && find . -type f -exec sha256sum {} + | cut -c1-64); do
    find "$work/store" -type f ! -path '*/.kqsyncd*' -exec sha256sum {} + | grep -q "^$sha" && return 1
  done
  return 0
}
main="Korvalinq Drive Client"

echo "# the watcher never watches a link in the sync folder's place"
zr=$build/services/zrservice.exe
wine "$zr" --console --folder "$(winpath "$work/sync/projects")" 2>"$work/zr-link.log" &
check "a link as the watched folder is refused" \
  wait_for 30 grep -qF "Cannot watch $(winpath "$work/sync/projects"): it is a link, never watched; trying again every second" "$work/zr-link.log"
wineserver -k >/dev/null 2>&1 || true
wine "$zr" --console --folder "$sync_win" 2>"$work/zr.log" &
check "the watcher watches the sync folder" wait_for 30 grep -qF "Watching $sync_win" "$work/zr.log"

echo "# the client starts with a linked folder in its sync folder"
wine "$work/app/KQFilesyncClient.exe" 2> >(quiet) &
client=$!
check "main window created" drive wait-window "$main" 20000
check "the user's own file reaches the store" wait_for 90 same "$work/sync/mine.txt" "$work/store/mine.txt"
check "a server cycle ended" wait_for 30 grep -qF "Modification queue: 0" "$log"
check "the linked folder is logged once as not synchronised" \
  test "$(grep -c 'Name not synchronised: .*projects (a link; not synchronised)' "$log")" = 1
check "the linked folder is not in the store" absent "$work/store/projects"
check "nothing of the link target reaches the store" nothing_in_store

echo "# the user writes into the linked folder from outside"
printf 'written behind the link' >"$work/home/projects/later.txt"
before=$(targets)
printf 'a change of the user' >"$work/sync/mine2.txt"
check "a later change of the user reaches the store" wait_for 60 same "$work/sync/mine2.txt" "$work/store/mine2.txt"
check "what was written behind the link is not in the store" nothing_in_store

echo "# the administrator adds files under the linked name"
mkdir -p "$work/store/projects/src"
printf 'written into the store' >"$work/store/projects/new.txt"
printf "the store's main.c" >"$work/store/projects/src/main.c"
check "the push into the linked folder is refused" \
  wait_for 60 grep -qF 'Refused server path \/projects\/new.txt: a link; not synchronised' "$log"
check "the link target is untouched" link_intact

echo "# the administrator deletes them again"
rm -rf "$work/store/projects"
printf 'a later change' >"$work/store/after.txt"
check "a later store change arrives" wait_for 60 test -f "$work/sync/after.txt"
check "the link target is untouched" link_intact
check "nothing of the link target reaches the store" nothing_in_store

drive menu 40005
check "Exit ends the program" drive wait-gone "$main" 15000
wait_for 15 bash -c "! kill -0 $client 2>/dev/null"

echo
if [ "$failures" -eq 0 ]; then echo "win_linked_folder_test: all checks passed"; else echo "win_linked_folder_test: $failures failed"; fi
[ "$failures" -eq 0 ]
