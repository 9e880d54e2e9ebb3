#!/usr/bin/env bash
# log-growth.sh: how fast the client's log grows while nothing changes, with a
# sync folder of many files (default 50,000). Runs kqsyncd + kqfilesync +
# zrservice in a network namespace of its own, fills the sync folder, waits
# until the first synchronisation has settled (the log stops growing faster
# than the idle rate for a while or the settle time runs out), then measures
# the growth of every file in the sync folder's "_log" over the measurement
# window and prints it as MiB per hour (target: below 10). Not run in CI.
# Usage: bench/log-growth.sh [SCRATCH_FOLDER]
#   KQ_BENCH_FILES (default 50000), KQ_BENCH_SETTLE_S (default 900),
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
settle=${KQ_BENCH_SETTLE_S:-900}
window=${KQ_BENCH_WINDOW_S:-300}

data=$kq_scratch/data store=$kq_scratch/store sync=$kq_scratch/sync
mkdir -p "$data" "$store" "$sync"
"$KQSYNCD" --data "$data" account add --contract 7305 --key BENCHKEY7305 --store "$store" >/dev/null
echo "preparing: $files files in the sync folder" >&2
python3 - "$sync" "$files" <<'PY'
import os, sys
root, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    d = os.path.join(root, "d%03d" % (i // 500))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%05d.txt" % i), "w") as f:
        f.write("file %d\n" % i)
PY

log_bytes() { du -sb --apparent-size "$sync/_log" 2>/dev/null | cut -f1 || echo 0; }
store_files() { find "$store" -type f | wc -l; }

kq_start_server "$data"
kq_start_client "$kq_scratch/prog" "$sync" 7305 BENCHKEY7305
echo "waiting for the first synchronisation to settle (at most ${settle}s)" >&2
end=$((SECONDS + settle))
while [ $SECONDS -lt $end ] && [ "$(store_files)" -lt "$files" ]; do sleep 5; done
echo "store holds $(store_files) files after ${SECONDS}s" >&2
sleep 30  # the cycles that record what the store now knows
start_bytes=$(log_bytes)
start_time=$SECONDS
sleep "$window"
grown=$(( $(log_bytes) - start_bytes ))
elapsed=$((SECONDS - start_time))
python3 - "$grown" "$elapsed" "$files" <<'PY'
import sys
grown, elapsed, files = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
per_hour = grown / elapsed * 3600 / (1 << 20)
print("idle client log growth, %d files: %d bytes in %d s = %.2f MiB per hour (target < 10)"
      % (files, grown, elapsed, per_hour))
PY
