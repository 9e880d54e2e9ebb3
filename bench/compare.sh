#!/usr/bin/env bash
# compare.sh builds the Linux programs, generates the data and prints one table:
# the synchronisation by kqsyncd + kqfilesync + zrservice on loopback beside
# rsync over loopback (an rsync daemon on 127.0.0.1), with and without an fsync
# of every file, for the same data in the same run. Every figure is the median
# of KQ_CMP_RUNS runs (3); each kq run starts the three programs afresh in an
# empty data folder, store and sync folder, and the table shows each program's
# peak resident set and CPU time during the median run. The idle row keeps a
# synchronised 50,000-file folder running for KQ_CMP_IDLE_SECONDS and shows the
# share of a core each program used and the client log's growth per hour.
#
# Usage: bash bench/compare.sh [SCRATCH_FOLDER]    (root: own network namespace)
# Sizes: KQ_CMP_LARGE_MB (1024), KQ_CMP_SMALL_FILES (10000, 4 KiB each),
#        KQ_CMP_TINY_FILES (50000, 64 bytes each), KQ_CMP_IDLE_SECONDS (120),
#        KQ_CMP_RUNS (3), KQ_CMP_ONLY (space-separated workloads:
#        large small tiny idle). KQ_CMP_NO_BUILD=1 skips the build.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)

if [ -z "${KQ_CMP_INSIDE:-}" ]; then
  if [ -z "${KQ_CMP_NO_BUILD:-}" ]; then
    bash "$root/scripts/install-deps.sh"
    bash "$root/scripts/build.sh" native >/dev/null
  fi
  # The watcher's port is fixed: the whole run gets a network namespace of its own.
  exec unshare -n env KQ_CMP_INSIDE=1 bash "$0" "$@"
fi
ip link set lo up

source "$root/tests/e2e/lib.sh"
kq_check_programs
command -v rsync >/dev/null || { echo "rsync is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }

runs=${KQ_CMP_RUNS:-3}
large_mb=${KQ_CMP_LARGE_MB:-1024}
small_n=${KQ_CMP_SMALL_FILES:-10000}
tiny_n=${KQ_CMP_TINY_FILES:-50000}
idle_s=${KQ_CMP_IDLE_SECONDS:-120}
only=${KQ_CMP_ONLY:-large small tiny idle}
scratch=${1:-$(mktemp -d /tmp/kq-compare.XXXXXX)}
mkdir -p "$scratch"
rsync_pid=""
cleanup() {
  local status=$?
  kq_stop_all || true
  [ -z "$rsync_pid" ] || kill "$rsync_pid" 2>/dev/null || true
  rm -rf "$scratch"
  exit $status
}
trap cleanup EXIT

src=$scratch/src
mkdir -p "$src"

# make_set NAME FILES BYTES: NAME holds FILES random files of BYTES each, 100 a folder.
make_set() {
  python3 - "$src/$1" "$2" "$3" <<'EOF'
import os, sys
root, n, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(n):
    d = os.path.join(root, "d%03d" % (i // 100))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%05d.dat" % i), "wb") as f:
        f.write(os.urandom(size))
EOF
}

# fingerprint FOLDER NAME: relative names and sizes of every file under FOLDER/NAME.
fingerprint() {
  [ -d "$1/$2" ] || { echo none; return; }
  (cd "$1/$2" && find . -type f -printf '%P %s\n' | sort | md5sum | cut -d' ' -f1)
}

now() { date +%s.%N; }
elapsed() { python3 -c "import sys; print('%.2f' % (float(sys.argv[1]) - float(sys.argv[2])))" "$(now)" "$1"; }
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
cpu_seconds() {  # utime + stime of PID in seconds
  awk -v hz="$(getconf CLK_TCK)" '{print ($14 + $15) / hz}' "/proc/$1/stat" 2>/dev/null || echo 0
}
peak_mib() { awk '/^VmHWM:/ {printf "%.0f", $2 / 1024}' "/proc/$1/status" 2>/dev/null || echo 0; }

# ---- rsync over loopback -------------------------------------------------
start_rsync() {
  mkdir -p "$scratch/rsync-dst"
  cat >"$scratch/rsyncd.conf" <<EOF
use chroot = false
[dst]
  path = $scratch/rsync-dst
  read only = false
  uid = root
  gid = root
EOF
  rsync --daemon --no-detach --config="$scratch/rsyncd.conf" --address=127.0.0.1 --port=8730 &
  rsync_pid=$!
  kq_wait 10 "rsync daemon listening" kq_listening 8730 >/dev/null
}

# rsync_time NAME [--fsync]: seconds for rsync to copy src/NAME into an empty folder.
rsync_time() {
  local name=$1; shift
  rm -rf "$scratch/rsync-dst/$name"
  sync
  local start; start=$(now)
  rsync -a "$@" "$src/$name/" "rsync://127.0.0.1:8730/dst/$name/"
  [ $# -gt 0 ] || sync -f "$scratch/rsync-dst"
  elapsed "$start"
}

# ---- kq -------------------------------------------------------------------
contract=7305 key=COMPAREKEY7305

# kq_fresh RUN: an empty data folder, store and sync folder with the three programs running.
kq_fresh() {
  run=$scratch/kq-$1
  rm -rf "$run"
  mkdir -p "$run/store" "$run/sync"
  "$KQSYNCD" --data "$run/data" account add --contract $contract --key $key --store "$run/store" >/dev/null
  kq_start_server "$run/data"
  kq_start_client "$run/prog" "$run/sync" $contract $key >/dev/null
  kq_wait 60 "client connected" log_has "$run/sync/_log/Filesync.log" "Connected to Korvalinq Server!" >/dev/null
  cpu0_server=$(cpu_seconds "$kq_server_pid") cpu0_client=$(cpu_seconds "$kq_client_pid")
  cpu0_watcher=$(cpu_seconds "$kq_watcher_pid")
}

kq_measure() {  # sets the per-process figures of the current run
  rss_line="$(peak_mib "$kq_server_pid")/$(peak_mib "$kq_client_pid")/$(peak_mib "$kq_watcher_pid")"
  cpu_line=$(python3 -c "import sys; a=[float(x) for x in sys.argv[1:]]; print('%.1f/%.1f/%.1f' % (a[0]-a[3], a[1]-a[4], a[2]-a[5]))" \
    "$(cpu_seconds "$kq_server_pid")" "$(cpu_seconds "$kq_client_pid")" "$(cpu_seconds "$kq_watcher_pid")" \
    "$cpu0_server" "$cpu0_client" "$cpu0_watcher")
}

# kq_time NAME DIRECTION RUN: seconds from moving src/NAME into one side until
# the other side holds every file with its size. DIRECTION: down (store to
# sync folder) or up.
kq_time() {
  local name=$1 direction=$2 from to want start
  kq_fresh "$3"
  if [ "$direction" = down ]; then from=$run/store to=$run/sync; else from=$run/sync to=$run/store; fi
  want=$(fingerprint "$src" "$name")
  cp -r "$src/$name" "$run/staged"
  sync
  start=$(now)
  mv "$run/staged" "$from/$name"
  until [ "$(fingerprint "$to" "$name")" = "$want" ]; do sleep 0.2; done
  local t; t=$(elapsed "$start")
  kq_measure
  kq_stop_all
  rm -rf "$run"
  echo "$t $rss_line $cpu_line"
}

rows=()
add_row() { rows+=("$(printf '%-38s %9s %9s %9s %8s %14s %16s' "$@")"); }

run_workload() {  # NAME LABEL FILES BYTES
  local name=$1 label=$2 files=$3 bytes=$4 i plain=() fsynced=() p f
  echo "preparing $label" >&2
  make_set "$name" "$files" "$bytes"
  for i in $(seq 1 "$runs"); do
    plain+=("$(rsync_time "$name")")
    fsynced+=("$(rsync_time "$name" --fsync)")
  done
  p=$(median "${plain[@]}") f=$(median "${fsynced[@]}")
  rm -rf "$scratch/rsync-dst/$name"
  local direction
  for direction in down up; do
    local results=() times=() r t mid
    for i in $(seq 1 "$runs"); do
      echo "$label $direction: kq run $i" >&2
      r=$(kq_time "$name" "$direction" "$i")
      results+=("$r")
      times+=("${r%% *}")
    done
    t=$(median "${times[@]}")
    for r in "${results[@]}"; do [ "${r%% *}" = "$t" ] && mid=$r && break; done
    read -r _ rss cpu <<<"$mid"
    local arrow="store -> client"
    [ "$direction" = up ] && arrow="client -> store"
    add_row "$label, $arrow" "$t" "$p" "$f" \
      "$(python3 -c "import sys; print('%.1fx' % (float(sys.argv[1]) / float(sys.argv[2])))" "$t" "$f")" "$rss" "$cpu"
  done
  rm -rf "${src:?}/$name"
}

run_idle() {
  echo "preparing idle: $tiny_n files" >&2
  make_set idle "$tiny_n" 64
  kq_fresh idle
  mv "$src/idle" "$run/sync/idle"
  local want; want=$(cd "$run/sync/idle" && find . -type f -printf '%P %s\n' | sort | md5sum | cut -d' ' -f1)
  until [ "$(fingerprint "$run/store" idle)" = "$want" ]; do sleep 1; done
  sleep 30  # let the first sync's tail settle
  local log0 c0s c0c c0w
  log0=$(du -sb "$run/sync/_log" | cut -f1)
  c0s=$(cpu_seconds "$kq_server_pid") c0c=$(cpu_seconds "$kq_client_pid") c0w=$(cpu_seconds "$kq_watcher_pid")
  echo "idle: measuring for $idle_s s" >&2
  sleep "$idle_s"
  local usage growth
  usage=$(python3 -c "import sys; a=[float(x) for x in sys.argv[1:]]; s=a[6]; print('%.1f%%/%.1f%%/%.1f%%' % tuple(100*(a[i]-a[i+3])/s for i in range(3)))" \
    "$(cpu_seconds "$kq_server_pid")" "$(cpu_seconds "$kq_client_pid")" "$(cpu_seconds "$kq_watcher_pid")" \
    "$c0s" "$c0c" "$c0w" "$idle_s")
  growth=$(python3 -c "import sys; print('%.2f MiB/h' % ((int(sys.argv[1]) - int(sys.argv[2])) / 1048576 * 3600 / float(sys.argv[3])))" \
    "$(du -sb "$run/sync/_log" | cut -f1)" "$log0" "$idle_s")
  local rss="$(peak_mib "$kq_server_pid")/$(peak_mib "$kq_client_pid")/$(peak_mib "$kq_watcher_pid")"
  kq_stop_all
  rm -rf "$run"
  add_row "idle, $tiny_n files, ${idle_s}s" "-" "-" "-" "-" "$rss" "$usage"
  rows+=("  client log growth while idle: $growth")
}

start_rsync
for w in $only; do
  case $w in
    large) run_workload large "1 file of $large_mb MiB" 1 $((large_mb << 20)) ;;
    small) run_workload small "$small_n x 4 KiB" "$small_n" 4096 ;;
    tiny) run_workload tiny "$tiny_n x 64 B (first sync)" "$tiny_n" 64 ;;
    idle) run_idle ;;
    *) echo "unknown workload $w" >&2; exit 2 ;;
  esac
done

echo
echo "kq and rsync on loopback, median of $runs runs (seconds); RSS and CPU: kqsyncd/kqfilesync/zrservice"
printf '%-38s %9s %9s %9s %8s %14s %16s\n' "workload" "kq" "rsync" "+fsync" "kq/fsync" "peak RSS MiB" "CPU s (idle %)"
printf '%s\n' "${rows[@]}"
