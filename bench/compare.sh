#!/usr/bin/env bash
# compare.sh builds the Linux programs, generates the data and prints one table:
# the synchronisation by kqsyncd + kqfilesync + zrservice on loopback beside
# rsync over loopback (an rsync daemon on 127.0.0.1) with and without an fsync
# of every file, and beside two Syncthing instances on loopback sharing a
# folder, for the same data in the same run. Every figure is the median of
# KQ_BENCH_RUNS runs (3); each kq run starts the three programs afresh in an
# empty data folder, store and sync folder, and the table shows each kq
# program's peak resident set and CPU time during the median run.
#
# Further rows:
#   idle      a synchronised folder of KQ_CMP_TINY_FILES (50,000) files left
#             alone for KQ_CMP_IDLE_SECONDS (60): the share of a core and the
#             peak RSS of each program, the read calls each made (a walk of the
#             whole tree shows there), the client log's growth; Syncthing's
#             two instances beside it.
#   edit      in that folder, one file edited on one side until the other side
#             holds the new content, both ways (median of KQ_BENCH_RUNS edits).
#   load      every workload again with KQ_CMP_HOG (2) busy loops at normal
#             priority beside it, and the ratio to the quiet figure (0: none).
# The machine's load average is printed before and after.
#
# Syncthing comes from Debian's package: when it is missing and the script runs
# as root it installs it with apt-get; otherwise (or with KQ_CMP_SYNCTHING=0)
# its column says why it is empty.
#
# Usage: bash bench/compare.sh [SCRATCH_FOLDER]    (root: own network namespace)
# Sizes: KQ_CMP_LARGE_MB (1024), KQ_CMP_SMALL_FILES (10000, 4 KiB each; 2,000
#        are always measured too), KQ_CMP_TINY_FILES (50000, 64 bytes each),
#        KQ_CMP_IDLE_SECONDS (60), KQ_BENCH_RUNS (3; KQ_CMP_RUNS is the same),
#        KQ_CMP_TIMEOUT (1800 s for one transfer), KQ_CMP_ONLY (space-separated
#        workloads: large small2k small tiny idle). KQ_CMP_NO_BUILD=1 skips the
#        build.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)

if [ -z "${KQ_CMP_INSIDE:-}" ]; then
  if [ -z "${KQ_CMP_NO_BUILD:-}" ]; then
    bash "$root/scripts/install-deps.sh" --linux-only
    bash "$root/scripts/build.sh" native >/dev/null
  fi
  if [ "${KQ_CMP_SYNCTHING:-1}" != 0 ] && ! command -v syncthing >/dev/null && [ "$(id -u)" -eq 0 ]; then
    echo "installing syncthing (Debian package) for its column" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q syncthing >/dev/null 2>&1 ||
      echo "note: syncthing could not be installed; its column stays empty" >&2
  fi
  # The watcher's port is fixed: the whole run gets a network namespace of its own.
  exec unshare -n env KQ_CMP_INSIDE=1 bash "$0" "$@"
fi
ip link set lo up

source "$root/tests/e2e/lib.sh"
kq_check_programs
command -v rsync >/dev/null || { echo "rsync is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }

runs=${KQ_BENCH_RUNS:-${KQ_CMP_RUNS:-3}}
large_mb=${KQ_CMP_LARGE_MB:-1024}
small_n=${KQ_CMP_SMALL_FILES:-10000}
tiny_n=${KQ_CMP_TINY_FILES:-50000}
idle_s=${KQ_CMP_IDLE_SECONDS:-60}
hog_n=${KQ_CMP_HOG:-2}
limit=${KQ_CMP_TIMEOUT:-1800}
only=${KQ_CMP_ONLY:-large small2k small tiny idle}
scratch=${1:-$(mktemp -d /tmp/kq-compare.XXXXXX)}
mkdir -p "$scratch"
st_note=""
if [ "${KQ_CMP_SYNCTHING:-1}" = 0 ]; then
  st_note="Syncthing left out (KQ_CMP_SYNCTHING=0)"
elif ! command -v syncthing >/dev/null; then
  st_note="Syncthing is not installed (run as root to have it installed)"
fi
rsync_pid="" st_pids=()
cleanup() {
  local status=$?
  kq_hog_stop
  kq_stop_all || true
  st_stop
  [ -z "$rsync_pid" ] || kill "$rsync_pid" 2>/dev/null || true
  rm -rf "$scratch"
  exit $status
}
trap cleanup EXIT

src=$scratch/src
mkdir -p "$src"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

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
ratio() {  # A B: A/B as "N.Nx", "-" when either is not a number
  python3 -c "
import sys
try: print('%.1fx' % (float(sys.argv[1]) / float(sys.argv[2])))
except (ValueError, ZeroDivisionError): print('-')" "$1" "$2"
}
cpu_seconds() {  # utime + stime of PID in seconds
  awk -v hz="$(getconf CLK_TCK)" '{print ($14 + $15) / hz}' "/proc/$1/stat" 2>/dev/null || echo 0
}
peak_mib() { awk '/^VmHWM:/ {printf "%.0f", $2 / 1024}' "/proc/$1/status" 2>/dev/null || echo 0; }
read_calls() { awk '/^syscr:/ {print $2}' "/proc/$1/io" 2>/dev/null || echo 0; }

# wait_for SECONDS COMMAND...: polls COMMAND every 0.2 s; false after SECONDS.
wait_for() {
  local end=$((SECONDS + $1)); shift
  until "$@"; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.2
  done
}
same_set() { [ "$(fingerprint "$1" "$2")" = "$3" ]; }

# edit_latency WRITE WATCH: rewrites the file WRITE with new content and prints
# the seconds until the file WATCH holds it ("timeout" after KQ_CMP_TIMEOUT).
edit_latency() {
  python3 - "$1" "$2" "$limit" <<'EOF'
import os, sys, time
write, watch, limit = sys.argv[1], sys.argv[2], float(sys.argv[3])
content = os.urandom(100)
start = time.monotonic()
with open(write, "wb") as f:
    f.write(content)
while True:
    try:
        with open(watch, "rb") as f:
            if f.read() == content:
                break
    except OSError:
        pass
    if time.monotonic() - start > limit:
        print("timeout")
        sys.exit(0)
    time.sleep(0.01)
print("%.2f" % (time.monotonic() - start))
EOF
}

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

# ---- Syncthing -----------------------------------------------------------
pair=$scratch/syncthing
st_pair() { python3 "$here/syncthing_pair.py" "$@"; }
st_start() {
  [ -z "$st_note" ] || return 1
  rm -rf "$pair"
  st_pair setup "$pair" || { st_note="Syncthing could not be set up"; return 1; }
  local side
  for side in a b; do
    # shellcheck disable=SC2046
    syncthing $(st_pair serve-args "$pair" $side) >/dev/null 2>&1 &
    st_pids+=($!)
  done
  st_pair wait "$pair" 120 || { st_note="the two Syncthing instances did not connect"; st_stop; return 1; }
  st_cpu0=("$(cpu_seconds "${st_pids[0]}")" "$(cpu_seconds "${st_pids[1]}")")
}
st_stop() {
  [ ${#st_pids[@]} -gt 0 ] || return 0
  kill "${st_pids[@]}" 2>/dev/null || true
  wait "${st_pids[@]}" 2>/dev/null || true
  st_pids=()
  rm -rf "$pair"
}
# st_time NAME RUN: seconds from moving src/NAME into instance a's folder (and
# asking it to scan, as its watcher would a second later) until b holds it.
st_time() {
  local name=$1 want start t
  want=$(fingerprint "$src" "$name")
  cp -r "$src/$name" "$pair/staged"
  sync
  start=$(now)
  mv "$pair/staged" "$pair/a-data/$name-$2"
  st_pair scan "$pair" a "$name-$2" || true
  if wait_for "$limit" same_set "$pair/b-data" "$name-$2" "$want"; then t=$(elapsed "$start"); else t=timeout; fi
  rm -rf "${pair:?}/a-data/$name-$2"
  echo "$t"
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
  local name=$1 direction=$2 from to want start t
  kq_fresh "$3"
  if [ "$direction" = down ]; then from=$run/store to=$run/sync; else from=$run/sync to=$run/store; fi
  want=$(fingerprint "$src" "$name")
  cp -r "$src/$name" "$run/staged"
  sync
  start=$(now)
  mv "$run/staged" "$from/$name"
  if wait_for "$limit" same_set "$to" "$name" "$want"; then t=$(elapsed "$start"); else t=timeout; fi
  kq_measure
  kq_stop_all
  [ "$t" != timeout ] || echo "note: $name $direction did not complete in ${limit}s (logs in $run)" >&2
  [ "$t" = timeout ] || rm -rf "$run"
  echo "$t $rss_line $cpu_line"
}

# ---- the table -------------------------------------------------------------
row_format='%-40s %8s %7s %7s %9s %8s %9s %12s %15s\n'
rows=() load_rows=()
add_row() { rows+=("$(printf "$row_format" "$@")"); }
load_format='%-40s %8s %8s %6s %8s %8s %6s %8s %8s %6s\n'
declare -A quiet=()  # "label|what" -> the quiet figure, for the ratios under load

# kq_median NAME DIRECTION: median of the kq runs as "SECONDS RSS CPU".
kq_median() {
  local results=() times=() r t
  for i in $(seq 1 "$runs"); do
    echo "  kq $2 run $i" >&2
    r=$(kq_time "$1" "$2" "$i")
    results+=("$r")
    times+=("${r%% *}")
  done
  t=$(median "${times[@]}")
  for r in "${results[@]}"; do [ "${r%% *}" = "$t" ] && { echo "$r"; return; }; done
}

# measure NAME LABEL LOAD: the rsync, Syncthing and kq figures of src/NAME
# (LOAD: quiet, or hog for the rows under load).
measure() {
  local name=$1 label=$2 load=$3 plain=() fsynced=() st=() p f s i down up t rss cpu arrow
  echo "$label ($load)" >&2
  for i in $(seq 1 "$runs"); do
    plain+=("$(rsync_time "$name")")
    fsynced+=("$(rsync_time "$name" --fsync)")
  done
  p=$(median "${plain[@]}") f=$(median "${fsynced[@]}")
  rm -rf "$scratch/rsync-dst/$name"
  s="-"
  if st_start; then
    for i in $(seq 1 "$runs"); do st+=("$(st_time "$name" "$i")"); done
    st_stop
    s=$(median "${st[@]}")
  fi
  down=$(kq_median "$name" down) up=$(kq_median "$name" up)
  if [ "$load" = quiet ]; then
    local direction r
    for direction in down up; do
      r=$down arrow="store -> client"
      [ $direction = up ] && r=$up arrow="client -> store"
      read -r t rss cpu <<<"$r"
      add_row "$label, $arrow" "$t" "$p" "$f" "$s" "$(ratio "$t" "$f")" "$(ratio "$t" "$s")" "$rss" "$cpu"
      quiet["$label|$direction"]=$t
    done
    quiet["$label|rsync"]=$f quiet["$label|st"]=$s
  else
    local qd=${quiet["$label|down"]} qu=${quiet["$label|up"]} qf=${quiet["$label|rsync"]} qs=${quiet["$label|st"]}
    load_rows+=("$(printf "$load_format" "$label, store -> client" "$qd" "${down%% *}" "$(ratio "${down%% *}" "$qd")" \
      "$qf" "$f" "$(ratio "$f" "$qf")" "$qs" "$s" "$(ratio "$s" "$qs")")")
    load_rows+=("$(printf "$load_format" "$label, client -> store" "$qu" "${up%% *}" "$(ratio "${up%% *}" "$qu")" \
      "$qf" "$f" "$(ratio "$f" "$qf")" "$qs" "$s" "$(ratio "$s" "$qs")")")
  fi
}

run_workload() {  # NAME LABEL FILES BYTES
  make_set "$1" "$3" "$4"
  measure "$1" "$2" quiet
  if [ "$hog_n" -gt 0 ]; then
    kq_hog_start "$hog_n" >&2
    measure "$1" "$2" hog
    kq_hog_stop
  fi
  rm -rf "${src:?}/$1"
}

# edit_rows LABEL A B: median seconds of an edit of a file in A until B holds
# it, and the other way, over KQ_BENCH_RUNS different files; "A->B B->A".
edit_rows() {
  local there=() back=() i f
  for i in $(seq 1 "$runs"); do
    f=d000/f$(printf '%05d' "$i").dat
    there+=("$(edit_latency "$2/$f" "$3/$f")")
    f=d001/f$(printf '%05d' $((100 + i))).dat
    back+=("$(edit_latency "$3/$f" "$2/$f")")
  done
  echo "$(median "${there[@]}") $(median "${back[@]}")"
}

run_idle() {
  echo "idle: $tiny_n files" >&2
  make_set idle "$tiny_n" 64
  local want; want=$(fingerprint "$src" idle)
  kq_fresh idle
  cp -r "$src/idle" "$run/sync/idle"
  wait_for "$limit" same_set "$run/store" idle "$want" || { echo "idle: the first sync did not complete" >&2; return 1; }
  sleep 30  # let the first sync's tail settle
  local log0 c0 r0
  log0=$(du -sb "$run/sync/_log" | cut -f1)
  c0="$(cpu_seconds "$kq_server_pid") $(cpu_seconds "$kq_client_pid") $(cpu_seconds "$kq_watcher_pid")"
  r0="$(read_calls "$kq_server_pid") $(read_calls "$kq_client_pid") $(read_calls "$kq_watcher_pid")"
  echo "  kq idle for $idle_s s" >&2
  sleep "$idle_s"
  local usage reads growth rss
  usage=$(python3 -c "import sys; a=[float(x) for x in sys.argv[1:]]; print('%.2f%%/%.2f%%/%.2f%%' % tuple(100*(a[i]-a[i+3])/a[6] for i in range(3)))" \
    "$(cpu_seconds "$kq_server_pid")" "$(cpu_seconds "$kq_client_pid")" "$(cpu_seconds "$kq_watcher_pid")" $c0 "$idle_s")
  reads=$(python3 -c "import sys; a=[int(x) for x in sys.argv[1:]]; print('%d/%d/%d' % tuple(a[i]-a[i+3] for i in range(3)))" \
    "$(read_calls "$kq_server_pid")" "$(read_calls "$kq_client_pid")" "$(read_calls "$kq_watcher_pid")" $r0)
  growth=$(python3 -c "import sys; print('%.2f MiB/h' % ((int(sys.argv[1]) - int(sys.argv[2])) / 1048576 * 3600 / float(sys.argv[3])))" \
    "$(du -sb "$run/sync/_log" | cut -f1)" "$log0" "$idle_s")
  rss="$(peak_mib "$kq_server_pid")/$(peak_mib "$kq_client_pid")/$(peak_mib "$kq_watcher_pid")"
  add_row "idle, $tiny_n files, ${idle_s}s (kq)" "-" "-" "-" "-" "-" "-" "$rss" "$usage"
  rows+=("  kq while idle: read calls kqsyncd/kqfilesync/zrservice $reads; client log growth $growth")
  local e; e=$(edit_rows kq "$run/sync/idle" "$run/store/idle")
  local e_hog=""
  if [ "$hog_n" -gt 0 ]; then
    kq_hog_start "$hog_n" >&2
    e_hog=$(edit_rows kq "$run/sync/idle" "$run/store/idle")
    kq_hog_stop
  fi
  kq_stop_all
  rm -rf "$run"

  local s_idle="-" s_rss="-" s_e="- -" s_e_hog="- -"
  if st_start; then
    cp -r "$src/idle" "$pair/a-data/idle"
    st_pair scan "$pair" a idle || true
    if wait_for "$limit" same_set "$pair/b-data" idle "$want"; then
      sleep 30
      local s0="$(cpu_seconds "${st_pids[0]}") $(cpu_seconds "${st_pids[1]}")"
      echo "  Syncthing idle for $idle_s s" >&2
      sleep "$idle_s"
      s_idle=$(python3 -c "import sys; a=[float(x) for x in sys.argv[1:]]; print('%.2f%% + %.2f%%' % (100*(a[0]-a[2])/a[4], 100*(a[1]-a[3])/a[4]))" \
        "$(cpu_seconds "${st_pids[0]}")" "$(cpu_seconds "${st_pids[1]}")" $s0 "$idle_s")
      s_rss="$(peak_mib "${st_pids[0]}")/$(peak_mib "${st_pids[1]}")"
      s_e=$(edit_rows st "$pair/a-data/idle" "$pair/b-data/idle")
      if [ "$hog_n" -gt 0 ]; then
        kq_hog_start "$hog_n" >&2
        s_e_hog=$(edit_rows st "$pair/a-data/idle" "$pair/b-data/idle")
        kq_hog_stop
      fi
    else
      echo "note: Syncthing's first sync of the idle set did not complete" >&2
    fi
    st_stop
  fi
  rows+=("  Syncthing idle (two instances): CPU $s_idle of a core, peak RSS $s_rss MiB")
  read -r kq_there kq_back <<<"$e"
  read -r st_there st_back <<<"$s_e"
  add_row "one edit, $tiny_n-file folder, client -> store" "$kq_there" "-" "-" "$st_there" "-" "$(ratio "$kq_there" "$st_there")" "" ""
  add_row "one edit, $tiny_n-file folder, store -> client" "$kq_back" "-" "-" "$st_back" "-" "$(ratio "$kq_back" "$st_back")" "" ""
  if [ -n "$e_hog" ]; then
    read -r h_there h_back <<<"$e_hog"
    read -r sh_there sh_back <<<"$s_e_hog"
    load_rows+=("$(printf "$load_format" "one edit, client -> store" "$kq_there" "$h_there" "$(ratio "$h_there" "$kq_there")" \
      - - - "$st_there" "$sh_there" "$(ratio "$sh_there" "$st_there")")")
    load_rows+=("$(printf "$load_format" "one edit, store -> client" "$kq_back" "$h_back" "$(ratio "$h_back" "$kq_back")" \
      - - - "$st_back" "$sh_back" "$(ratio "$sh_back" "$st_back")")")
  fi
  rm -rf "${src:?}/idle"
}

start_rsync
for w in $only; do
  case $w in
    large) run_workload large "1 file of $large_mb MiB" 1 $((large_mb << 20)) ;;
    small2k) run_workload small2k "2000 x 4 KiB" 2000 4096 ;;
    small) run_workload small "$small_n x 4 KiB" "$small_n" 4096 ;;
    tiny) run_workload tiny "$tiny_n x 64 B (first sync)" "$tiny_n" 64 ;;
    idle) run_idle ;;
    *) echo "unknown workload $w" >&2; exit 2 ;;
  esac
done

echo
echo "kq, rsync and Syncthing on loopback, median of $runs runs (seconds)"
echo "load average before: $load_before; after: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores"
[ -z "$st_note" ] || echo "note: $st_note"
echo "peak RSS and CPU: kqsyncd/kqfilesync/zrservice in the median kq run (idle: share of a core)"
printf "$row_format" "workload" "kq" "rsync" "+fsync" "Syncthing" "kq/fsync" "kq/Sthing" "peak RSS MiB" "CPU s"
printf '%s\n' "${rows[@]}"
if [ ${#load_rows[@]} -gt 0 ]; then
  echo
  echo "the same under load: $hog_n busy loops at normal priority (quiet, loaded, loaded/quiet)"
  printf "$load_format" "workload" "kq" "kq+hog" "ratio" "+fsync" "+hog" "ratio" "Sthing" "+hog" "ratio"
  printf '%s\n' "${load_rows[@]}"
fi
