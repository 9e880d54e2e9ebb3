#!/usr/bin/env bash
# bench-wine-receive.sh [BUILD] [MiB] [CLIENT_EXE]: times a file pushed by kqsyncd
# to KQFilesyncClient.exe under Wine (store -> sync folder, from the moment the
# file lands in the store until it is complete in the sync folder, cycle pause and
# store scan included). Not a test: the figures go to bench/wine-receive.md.
set -uo pipefail
cd "$(dirname "$0")/.."
if [ -z "${KQ_SYSTEM_TEST_NETNS:-}" ] && unshare --net --map-root-user true 2>/dev/null; then
  KQ_SYSTEM_TEST_NETNS=1 exec unshare --net --map-root-user bash "$0" "$@"
fi
[ -n "${KQ_SYSTEM_TEST_NETNS:-}" ] && ip link set lo up
build=$(cd "${1:-build/win}" && pwd)
mib=${2:-200}
exe=${3:-$build/KQFilesyncClient.exe}
kqsyncd=${KQSYNCD:-$PWD/build/native/server/kqsyncd}
source scripts/wine-env.sh "$build"
wineserver -k >/dev/null 2>&1 || true
work=$build/bench-receive
rm -rf "$work"
mkdir -p "$work/app" "$work/sync" "$work/store" "$work/data"
cp "$exe" "$work/app/KQFilesyncClient.exe"
key=abcdefghijklmnopqrstuvwx
sync_win="Z:${work//\//\\}\\sync"
printf '{"KQFilsyncConfig":[{"Host":"127.0.0.1","port":"21234","protocol":"00003","contract":"1234","API-key":"%s","KQDir":"%s","Reconnect":"1"}]}' \
  "$key" "${sync_win//\\/\\\\}" >"$work/app/filesync.cfg"
"$kqsyncd" --data "$work/data" account add --contract 1234 --key "$key" --store "$work/store" >/dev/null
display=
for n in $(seq 70 99); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=:$n; break; fi
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
"$kqsyncd" --data "$work/data" serve --host 127.0.0.1 --cycle 1 --timeout 60 >"$work/kqsyncd.log" 2>&1 &
server=$!
wine "$work/app/KQFilesyncClient.exe" >/dev/null 2>&1 &
trap 'wineserver -k >/dev/null 2>&1; kill $server $xvfb 2>/dev/null' EXIT
log=$work/sync/_log/Filesync.log
for _ in $(seq 1 120); do grep -q "Connected to Korvalinq Server!" "$log" 2>/dev/null && break; sleep 0.5; done
sleep 3
head -c $((mib << 20)) /dev/urandom >"$work/big.tmp.bin"
start=$(date +%s.%N)
mv "$work/big.tmp.bin" "$work/store/big.bin"
size=$((mib << 20))
until [ "$(stat -c %s "$work/sync/big.bin" 2>/dev/null)" = "$size" ] && cmp -s "$work/store/big.bin" "$work/sync/big.bin"; do
  sleep 0.1
done
end=$(date +%s.%N)
python3 -c "print('received %d MiB in %.2f s: %.1f MB/s' % ($mib, $end - $start, $mib * 1048576 / 1e6 / ($end - $start)))"
grep -E "File size to receive|received successfully" "$log" | tail -2
