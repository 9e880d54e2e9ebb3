#!/usr/bin/env bash
# demo.sh: a local synchronisation through kqsyncd, end to end. It installs the
# build packages (scripts/install-deps.sh), builds the three programs, starts kqsyncd with a demo account and store folder, installs
# and starts kqfilesync and zrservice on a demo sync folder, shows a file
# written in the store appearing in the sync folder and a file written in the
# sync folder appearing in the store, then stops everything cleanly and says
# where to look next. Run again with the same DEMO_FOLDER, it reuses the demo
# account, the store and the sync folder.
# Usage: scripts/demo.sh [DEMO_FOLDER]   (default: a new folder under /tmp)
set -euo pipefail
cd "$(dirname "$0")/.."
demo=${1:-$(mktemp -d /tmp/kq-demo.XXXXXX)}
mkdir -p "$demo"

echo "== installing the packages the build needs"
bash scripts/install-deps.sh
echo "== building kqsyncd, kqfilesync and zrservice"
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j "${KQ_JOBS:-2}" --target kqsyncd kqfilesync zrservice

source tests/e2e/lib.sh
kq_check_programs
kq_scratch=$demo
trap kq_finish EXIT

data=$demo/server-data store=$demo/store sync=$demo/Sync
echo "== demo folder $demo"
if "$KQSYNCD" --data "$data" account list 2>/dev/null | grep -q '^1234[[:space:]]'; then
  echo "reusing the demo account (contract 1234, store $store)"
else
  "$KQSYNCD" --data "$data" account add --contract 1234 --key DEMOKEY1234 --store "$store"
fi
kq_start_server "$data"
echo "kqsyncd is running (log: $data/kqsyncd.log)"
kq_start_client "$demo/program" "$sync" 1234 DEMOKEY1234
echo "kqfilesync and zrservice are running on $sync (client log: $sync/_log/Filesync.log)"

echo "== a file written in the store"
echo "Hello from the server store, $(date)" >"$store/from-store.txt"
kq_wait 60 "from-store.txt appears in the sync folder" same_content "$store/from-store.txt" "$sync/from-store.txt"
echo "   $sync/from-store.txt: $(cat "$sync/from-store.txt")"

echo "== a file written in the sync folder"
echo "Hello from the sync folder, $(date)" >"$sync/from-folder.txt"
kq_wait 60 "from-folder.txt appears in the store" same_content "$sync/from-folder.txt" "$store/from-folder.txt"
echo "   $store/from-folder.txt: $(cat "$store/from-folder.txt")"

echo "== stopping"
kq_stop "$kq_client_pid" "$kq_watcher_pid" "$kq_server_pid"
kq_forget "$kq_client_pid" "$kq_watcher_pid" "$kq_server_pid"
tail -n 3 "$data/kqsyncd.log"
cat <<EOF
== demo finished; everything is in $demo
where to look next:
  the two folders       $store (server store) and $sync (sync folder)
  server log            $data/kqsyncd.log
  client log            $sync/_log/Filesync.log
  watcher log           $demo/program/zrservice.log
  client state          $demo/program/kqfilesync status   (--json for scripts)
  run the demo again    bash scripts/demo.sh $demo
  set up for real       docs/linux.md (install, systemd units, status), server/README.md
EOF
