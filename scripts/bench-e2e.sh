#!/usr/bin/env bash
# bench-e2e.sh: end-to-end synchronisation throughput of kqsyncd + kqfilesync +
# zrservice on loopback, beside a plain copy of the same data over a loopback
# TCP socket in the same run, so that the ratio can be followed over time.
# Prints one table: data set, direction, MB/s of the synchronisation, MB/s of
# the plain copy, and their ratio. Times include the cycle pause and the
# server's scan (the synchronisation as a user sees it). Not run in CI.
# Usage: scripts/bench-e2e.sh [SCRATCH_FOLDER]
#   KQ_BENCH_LARGE_MB (default 1024), KQ_BENCH_SMALL_FILES (default 10000),
#   KQ_BENCH_SMALL_BYTES (default 4096)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/e2e/lib.sh"
kq_check_programs
kq_scratch=${1:-$(mktemp -d /tmp/kq-bench-e2e.XXXXXX)}
trap 'status=$?; kq_stop_all || status=1; rm -rf "$kq_scratch"; exit $status' EXIT
large_mb=${KQ_BENCH_LARGE_MB:-1024}
small_n=${KQ_BENCH_SMALL_FILES:-10000}
small_bytes=${KQ_BENCH_SMALL_BYTES:-4096}

data=$kq_scratch/data store=$kq_scratch/store sync=$kq_scratch/sync src=$kq_scratch/src
mkdir -p "$store" "$sync" "$src/large" "$src/small"
"$KQSYNCD" --data "$data" account add --contract 7304 --key BENCHKEY7304 --store "$store" >/dev/null

echo "preparing: one file of $large_mb MiB, $small_n files of $small_bytes bytes" >&2
head -c $((large_mb << 20)) /dev/urandom >"$src/large/large.bin"
python3 - "$src/small" "$small_n" "$small_bytes" <<'EOF'
import os, sys
root, n, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(n):
    d = os.path.join(root, "d%03d" % (i // 100))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%05d.dat" % i), "wb") as f:
        f.write(os.urandom(size))
EOF

now() { date +%s.%N; }
bytes_of() { du -sb --apparent-size "$1" | cut -f1; }
mbps() { python3 -c "import sys; print('%.1f' % (int(sys.argv[1]) / 1e6 / float(sys.argv[2])))" "$1" "$2"; }

# plain_copy FOLDER: seconds to stream FOLDER as tar through a loopback TCP
# socket into a new folder (the same files, no synchronisation).
plain_copy() {
  local from=$1 to=$kq_scratch/plain
  rm -rf "$to" && mkdir -p "$to"
  python3 - "$from" "$to" <<'EOF'
import socket, subprocess, sys, threading, time
src, dst = sys.argv[1], sys.argv[2]
server = socket.socket(); server.bind(("127.0.0.1", 0)); server.listen(1)
port = server.getsockname()[1]
def receive():
    conn, _ = server.accept()
    untar = subprocess.Popen(["tar", "-C", dst, "-xf", "-"], stdin=subprocess.PIPE)
    while chunk := conn.recv(1 << 20):
        untar.stdin.write(chunk)
    untar.stdin.close(); untar.wait(); conn.close()
start = time.monotonic()
t = threading.Thread(target=receive); t.start()
out = socket.create_connection(("127.0.0.1", port))
tar = subprocess.Popen(["tar", "-C", src, "-cf", "-", "."], stdout=subprocess.PIPE)
while chunk := tar.stdout.read(1 << 20):
    out.sendall(chunk)
tar.wait(); out.close(); t.join()
subprocess.run(["sync", "-f", dst])
print("%.3f" % (time.monotonic() - start))
EOF
}

# arrived FOLDER NAME FILES BYTES: FOLDER/NAME holds FILES files, BYTES in all.
arrived() {
  [ -e "$1/$2" ] || return 1
  [ "$(find "$1/$2" -type f | wc -l)" -eq "$3" ] && [ "$(bytes_of "$1/$2")" -ge "$4" ]
}

# sync_time FROM TO NAME: seconds from moving src/NAME into FROM until TO holds it all.
sync_time() {
  local from=$1 to=$2 name=$3 files bytes start
  files=$(find "$src/$name" -type f | wc -l)
  bytes=$(find "$src/$name" -type f -printf '%s\n' | awk '{s+=$1} END {print s}')
  cp -r "$src/$name" "$kq_scratch/staged-$name"
  start=$(now)
  mv "$kq_scratch/staged-$name" "$from/$name"
  until arrived "$to" "$name" "$files" "$bytes"; do sleep 0.2; done
  python3 -c "import sys; print('%.3f' % (float(sys.argv[1]) - float(sys.argv[2])))" "$(now)" "$start"
}

kq_start_server "$data"
kq_start_client "$kq_scratch/prog" "$sync" 7304 BENCHKEY7304
kq_wait 60 "the client is connected" log_has "$sync/_log/Filesync.log" "Connected to Korvalinq Server!" >&2

rows=()
for set in large small; do
  total=$(find "$src/$set" -type f -printf '%s\n' | awk '{s+=$1} END {print s}')
  plain=$(plain_copy "$src/$set")
  t1=$(sync_time "$store" "$sync" "$set")
  rm -rf "${store:?}/$set"
  kq_wait 600 "$set removed from the sync folder" absent "$sync/$set" >&2
  rm -rf "${sync:?}/_trash"
  sleep 1.1  # the copies made next are newer than the deletion
  t2=$(sync_time "$sync" "$store" "$set")
  for dir in "store->folder:$t1" "folder->store:$t2"; do
    secs=${dir#*:}
    sync_rate=$(mbps "$total" "$secs")
    plain_rate=$(mbps "$total" "$plain")
    ratio=$(python3 -c "import sys; print('%.2f' % (float(sys.argv[1]) / float(sys.argv[2])))" "$sync_rate" "$plain_rate")
    rows+=("$(printf '%-22s %-14s %10s %10s %8s' "$set ($((total / 1000000)) MB)" "${dir%%:*}" "$sync_rate" "$plain_rate" "$ratio")")
  done
done

printf '%-22s %-14s %10s %10s %8s\n' "data" "direction" "sync MB/s" "copy MB/s" "ratio"
printf '%s\n' "${rows[@]}"
