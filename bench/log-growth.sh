#!/usr/bin/env bash
# log-growth.sh: how fast the client's log grows while nothing changes, with a
# sync folder of many files (default 50,000). Runs kqsyncd + kqfilesync +
# zrservice in a network namespace of its own with the same files (same
# sizes and times) in the store and in the sync folder, so the first cycle
# only records them as known; after the settle time it measures the growth of
# every file in the sync folder's "_log" over the measurement window and
# prints it as MiB per hour (target: below 10). Not run in CI.
# Usage: bench/log-growth.sh [SCRATCH_FOLDER]
#   KQ_BENCH_FILES (default 50000), KQ_BENCH_SETTLE_S (default 120),
#   KQ_BENCH_WINDOW_S (default 300)
set -euo pipefail
if [ "${KQ_IN_NAMESPACES:-}" != 1 ]; then
  exec env KQ_IN_NAMESPACES=1 unshare -n sh -c 'ip link set lo up && exec "$@"' sh bash "$0" "$@"
fi
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/e2e/lib.sh"
kq_check_programs
kq_scratch=${1:-$(mktemp -d /tmp/kq-bench-log.XXXXXX)}
trap 'status=$?; kq_stop_all || status=1; rm -rf "$kq_scratch"; exit $status' EXIT
files=${KQ_BENCH_FILES:-50000}
settle=${KQ_BENCH_SETTLE_S:-120}
window=${KQ_BENCH_WINDOW_S:-300}

data=$kq_scratch/data store=$kq_scratch/store sync=$kq_scratch/sync
mkdir -p "$data" "$store" "$sync"
"$KQSYNCD" --data "$data" account add --contract 7305 --key BENCHKEY7305 --store "$store" >/dev/null
echo "preparing: $files files in the store and the sync folder" >&2
python3 - "$store" "$sync" "$files" <<'PY'
import os, sys
roots, n = sys.argv[1:3], int(sys.argv[3])
stamp = 1700000000
for root in roots:
    for i in range(n):
        d = os.path.join(root, "d%03d" % (i // 500))
        os.makedirs(d, exist_ok=True)
        path = os.path.join(d, "f%05d.txt" % i)
        with open(path, "w") as f:
            f.write("file %d\n" % i)
        os.utime(path, (stamp, stamp))
PY

log_bytes() { du -sb --apparent-size "$sync/_log" 2>/dev/null | cut -f1 || echo 0; }
listings() { cat "$sync"/_log/*.log 2>/dev/null | grep -c "ANLST listing: " || true; }

kq_start_server "$data"
kq_start_client "$kq_scratch/prog" "$sync" 7305 BENCHKEY7305
echo "letting the first cycles record the files as known (${settle}s)" >&2
sleep "$settle"
echo "server: $(grep -c 'fetched' "$data/kqsyncd.log" || true) files fetched, log so far $(log_bytes) bytes" >&2
start_bytes=$(log_bytes)
start_listings=$(listings)
start_time=$SECONDS
sleep "$window"
grown=$(( $(log_bytes) - start_bytes ))
listed=$(( $(listings) - start_listings ))
elapsed=$((SECONDS - start_time))
python3 - "$grown" "$elapsed" "$files" "$listed" <<'PY'
import sys
grown, elapsed, files, listed = (int(a) for a in sys.argv[1:5])
per_hour = grown / elapsed * 3600 / (1 << 20)
print("idle client log growth, %d files: %d bytes in %d s (%d listings of the whole folder) = %.2f MiB per hour"
      " (target < 10)" % (files, grown, elapsed, listed, per_hour))
PY
