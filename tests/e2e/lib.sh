# lib.sh is sourced by the end-to-end scripts: it finds the programs, starts
# kqsyncd, kqfilesync and zrservice in a scratch folder (a client optionally in
# a network namespace of its own) and stops them again.
# Programs: $KQSYNCD, $KQFILESYNC, $ZRSERVICE, default from build/native.
kq_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
KQSYNCD=${KQSYNCD:-$kq_root/build/native/server/kqsyncd}
KQFILESYNC=${KQFILESYNC:-$kq_root/build/native/src/ui/kqfilesync}
ZRSERVICE=${ZRSERVICE:-$kq_root/build/native/services/zrservice}
KQ_WATCHER_PORT=11111
# The programs look in the user's configuration folder before their own: a
# configuration of the user running the tests must not take the place of the
# one each test installs beside its programs. Each client keeps its state
# (what "kqfilesync status" reads) beside its program folder.
export XDG_CONFIG_HOME=/nonexistent/kq-tests-config
kq_pids=()
kq_namespaces=()

# kq_isolate SCRIPT [ARG...]: the first call runs SCRIPT again in a network and
# a mount namespace of its own (nothing of it is seen outside: its ports, its
# loopback traffic, the disks it mounts) and does not return; in there it
# brings the loopback link up. Call it first thing, as kq_isolate "$0" "$@".
kq_isolate() {
  if [ "${KQ_ISOLATED:-}" != "$$" ]; then
    command -v unshare >/dev/null || { echo "FAILED: unshare (util-linux) is needed" >&2; exit 1; }
    exec unshare --net --mount --propagation private -- \
      bash -c 'export KQ_ISOLATED=$$; exec bash "$@"' kq-isolated "$@"
  fi
  ip link set lo up || { echo "FAILED: cannot bring up the loopback link" >&2; exit 1; }
}

kq_check_programs() {
  local p
  for p in "$KQSYNCD" "$KQFILESYNC" "$ZRSERVICE"; do
    [ -x "$p" ] || { echo "missing program $p (build with scripts/build.sh native)" >&2; return 1; }
  done
}

# kq_wait SECONDS DESCRIPTION COMMAND...: polls COMMAND until it succeeds,
# every kq_poll_s seconds (0.5 unless set, e.g. kq_poll_s=0.05 kq_wait ...).
kq_wait() {
  local limit=$1 what=$2; shift 2
  local end=$((SECONDS + limit))
  until "$@"; do
    if [ $SECONDS -ge $end ]; then echo "FAILED: $what (after ${limit}s)" >&2; return 1; fi
    sleep "${kq_poll_s:-0.5}"
  done
  echo "ok: $what"
}

# kq_wait_progress LIMIT STALL DESCRIPTION PROGRESS COMMAND...: polls COMMAND
# until it succeeds, while PROGRESS (a command printing a number, bytes done
# say) keeps growing: fails when it stands still for STALL seconds (a hang) or
# after LIMIT seconds in all (a generous bound: a busy machine is slow, not stuck).
kq_wait_progress() {
  local limit=$1 stall=$2 what=$3 progress=$4; shift 4
  local end=$((SECONDS + limit)) last=-1 moved=$SECONDS now
  until "$@"; do
    now=$("$progress")
    [ "$now" = "$last" ] || { last=$now moved=$SECONDS; }
    if [ $((SECONDS - moved)) -ge "$stall" ]; then echo "FAILED: $what (no progress for ${stall}s, at $now)" >&2; return 1; fi
    if [ $SECONDS -ge $end ]; then echo "FAILED: $what (after ${limit}s, at $now)" >&2; return 1; fi
    sleep "${kq_poll_s:-0.5}"
  done
  echo "ok: $what"
}

# kq_check DESCRIPTION COMMAND...: one check that must hold now.
kq_check() {
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what" >&2; return 1; fi
}

# kq_start_server DATA [HOST [SERVE_OPTION...]]: runs kqsyncd serve on HOST
# (127.0.0.1) with a one-second cycle pause; further options of serve follow
# (a later --timeout wins). Appends to DATA/kqsyncd.log, so a restart keeps the log.
kq_start_server() {
  local data=$1 host=${2:-127.0.0.1}
  shift $(($# < 2 ? $# : 2))
  "$KQSYNCD" --data "$data" serve --host "$host" --cycle 1 --timeout 30 "$@" >>"$data/kqsyncd.log" 2>&1 &
  kq_pids+=($!)
  kq_server_pid=$!
}

# kq_listening PORT [NAMESPACE]: something listens on 127.0.0.1:PORT.
kq_listening() {
  local port=$1 ns=${2:-}
  local ss=(ss -Hltn "sport = :$port")
  [ -z "$ns" ] || ss=(ip netns exec "$ns" "${ss[@]}")
  [ -n "$("${ss[@]}" 2>/dev/null)" ]
}

# kq_start_watcher PROGRAM_FOLDER [NAMESPACE]: starts zrservice. When the
# watcher port is held by another program (another developer's test, say), it
# waits and tries again for up to two minutes, saying so.
kq_start_watcher() {
  local prog=$1 ns=${2:-}
  local run=()
  [ -z "$ns" ] || run=(ip netns exec "$ns")
  local end=$((SECONDS + 120))
  while :; do
    if kq_listening $KQ_WATCHER_PORT "$ns"; then
      echo "note: 127.0.0.1:$KQ_WATCHER_PORT is taken by another program, waiting" >&2
    else
      (cd "$prog" && exec "${run[@]}" ./zrservice >>"$prog/zrservice.log" 2>&1) &
      kq_watcher_pid=$!
      local i
      for i in $(seq 1 20); do
        kill -0 $kq_watcher_pid 2>/dev/null || break
        if kq_listening $KQ_WATCHER_PORT "$ns"; then kq_pids+=($kq_watcher_pid); return 0; fi
        sleep 0.1
      done
      kill -0 $kq_watcher_pid 2>/dev/null && { kq_pids+=($kq_watcher_pid); return 0; }
      echo "note: zrservice could not listen on $KQ_WATCHER_PORT, trying again" >&2
    fi
    [ $SECONDS -lt $end ] || { echo "FAILED: zrservice cannot listen on $KQ_WATCHER_PORT" >&2; return 1; }
    sleep 2
  done
}

# kq_start_client PROGRAM_FOLDER FOLDER CONTRACT KEY [HOST [NAMESPACE]]:
# installs the client and its watcher in their own program folder (replacing
# an installation left there by an earlier run) and starts both (in NAMESPACE
# when given). Sets kq_client_pid and kq_watcher_pid.
kq_start_client() {
  local prog=$1 folder=$2 contract=$3 key=$4 host=${5:-127.0.0.1} ns=${6:-}
  local run=()
  [ -z "$ns" ] || run=(ip netns exec "$ns")
  mkdir -p "$prog"
  cp "$KQFILESYNC" "$ZRSERVICE" "$prog/"
  "$prog/kqfilesync" install --force --host "$host" --contract "$contract" --key "$key" --folder "$folder" \
    >"$prog/install.log" 2>&1 || { cat "$prog/install.log" >&2; return 1; }
  kq_start_watcher "$prog" "$ns" || return 1
  kq_run_client "$prog" "$ns"
}

# kq_run_client PROGRAM_FOLDER [NAMESPACE]: starts the client installed there
# (again, after it was stopped or killed). Sets kq_client_pid.
kq_run_client() {
  local prog=$1 ns=${2:-}
  local run=()
  [ -z "$ns" ] || run=(ip netns exec "$ns")
  (cd "$prog" && XDG_STATE_HOME="$prog/state" exec "${run[@]}" ./kqfilesync </dev/null >>"$prog/kqfilesync.log" 2>&1) &
  kq_pids+=($!)
  kq_client_pid=$!
}

# kq_stop PID...: SIGTERM, then wait up to ten seconds for each.
kq_stop() {
  local pid status=0
  # SIGCONT too: a process a test stopped (SIGSTOP) acts on SIGTERM only once it runs.
  for pid in "$@"; do kill -TERM "$pid" 2>/dev/null || true; kill -CONT "$pid" 2>/dev/null || true; done
  for pid in "$@"; do
    for _ in $(seq 1 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
    if kill -0 "$pid" 2>/dev/null; then
      echo "process $pid did not stop on SIGTERM" >&2
      kill -KILL "$pid" 2>/dev/null
      status=1
    fi
    wait "$pid" 2>/dev/null || true
  done
  return $status
}

kq_stop_all() {
  local live=() pid
  for pid in "${kq_pids[@]}"; do kill -0 "$pid" 2>/dev/null && live+=("$pid"); done
  kq_pids=()
  [ ${#live[@]} -eq 0 ] || kq_stop "${live[@]}"
}

# kq_forget PID...: the processes were stopped by hand.
kq_forget() {
  local keep=() pid gone
  for pid in "${kq_pids[@]}"; do
    for gone in "$@"; do [ "$pid" = "$gone" ] && continue 2; done
    keep+=("$pid")
  done
  kq_pids=("${keep[@]}")
}

# kq_hog_start N: N busy loops at normal priority (a machine busy with other
# work) until kq_hog_stop; their ids are in kq_hog_pids. KQ_CPU_HOG=N asks the
# runners (scripts/e2e.sh, scripts/journeys.sh) for one for the whole run.
kq_hog_pids=()
# kq_hog_for_run RUNNER: starts the KQ_CPU_HOG busy loops (at normal
# priority, none by default) for the whole run of RUNNER and stops them when
# the run ends, however it ends; a test with a hog of its own counts these in.
kq_hog_for_run() {
  kq_cpu_hog=${KQ_CPU_HOG:-0}
  [[ "$kq_cpu_hog" =~ ^[0-9]+$ ]] || { echo "$1: KQ_CPU_HOG must be a number of busy loops" >&2; exit 2; }
  trap kq_hog_stop EXIT
  trap 'exit 130' INT TERM
  kq_hog_start "$kq_cpu_hog"
  export KQ_CPU_HOG_RUNNING=$kq_cpu_hog
}

kq_hog_start() {
  local i n=${1:-0}
  for ((i = 0; i < n; i++)); do
    bash -c 'while :; do :; done' </dev/null >/dev/null 2>&1 &
    kq_hog_pids+=($!)
  done
  [ "$n" -le 0 ] || echo "== CPU hog: $n busy loops (${kq_hog_pids[*]})"
}
kq_hog_stop() {
  [ ${#kq_hog_pids[@]} -gt 0 ] || return 0
  kill -KILL "${kq_hog_pids[@]}" 2>/dev/null || true
  wait "${kq_hog_pids[@]}" 2>/dev/null || true
  kq_hog_pids=()
}

# kq_peak_rss_kb PID: the process's peak resident set (VmHWM) in kB.
kq_peak_rss_kb() { awk '/^VmHWM:/ {print $2}' "/proc/$1/status"; }

# kq_netns_create NAME INDEX: a network namespace NAME with loopback up and a
# veth pair to this namespace: 10.213.INDEX.1 here, 10.213.INDEX.2 inside, the
# default route through the pair. Fails loudly when namespaces are impossible.
kq_netns_create() {
  local ns=$1 idx=$2
  local here="kqv${idx}h$$" there="kqv${idx}n$$"
  here=${here:0:15} there=${there:0:15}
  ip netns add "$ns" || { echo "FAILED: cannot create network namespace $ns (root and iproute2 needed)" >&2; return 1; }
  kq_namespaces+=("$ns")
  ip link add "$here" type veth peer name "$there" netns "$ns" &&
    ip addr add "10.213.$idx.1/30" dev "$here" && ip link set "$here" up &&
    ip netns exec "$ns" ip link set lo up &&
    ip netns exec "$ns" ip addr add "10.213.$idx.2/30" dev "$there" &&
    ip netns exec "$ns" ip link set "$there" up &&
    ip netns exec "$ns" ip route add default via "10.213.$idx.1" ||
    { echo "FAILED: cannot connect network namespace $ns" >&2; return 1; }
}

# kq_netns_cleanup: removes every namespace made by kq_netns_create (the veth
# pair goes with it) after killing whatever still runs inside.
kq_netns_cleanup() {
  local ns pid
  for ns in "${kq_namespaces[@]}"; do
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null || true; done
    ip netns del "$ns" 2>/dev/null || true
  done
  kq_namespaces=()
}

# kq_finish: the EXIT trap of every e2e script.
kq_finish() {
  local status=$?
  kq_hog_stop
  kq_stop_all || status=1
  kq_netns_cleanup
  [ $status -eq 0 ] || echo "logs in ${kq_scratch:-?}" >&2
  exit $status
}

# kq_ini_policy SYNC_FOLDER N: the deletion policy ("filedeletion" in section
# Basic of _config/Filesync.ini), keeping the file's other keys.
kq_ini_policy() {
  local ini=$1/_config/Filesync.ini
  mkdir -p "$1/_config"
  if [ -f "$ini" ] && grep -q '^filedeletion=' "$ini"; then
    sed -i "s/^filedeletion=.*/filedeletion=$2\r/" "$ini"
  elif [ -f "$ini" ] && grep -q '^\[Basic\]' "$ini"; then
    sed -i "s/^\[Basic\].*/[Basic]\r\nfiledeletion=$2\r/" "$ini"
  else
    printf '[Basic]\r\nfiledeletion=%s\r\n' "$2" >>"$ini"
  fi
}

# kq_cycles CLIENT_LOG: how many synchronisation cycles the client has ended
# (the server ends each with RQFLS, after which the client logs its queue sizes).
kq_cycles() { grep -cF ' : Modification queue: ' "$1" 2>/dev/null || true; }
# kq_wait_cycles CLIENT_LOG N [SECONDS]: waits until the client has ended N
# more cycles (within SECONDS, 30 + 10 per cycle unless given), however long
# they take on a busy machine.
kq_wait_cycles() {
  local log=$1 n=$2 limit=${3:-$((30 + 10 * $2))} want
  want=$(($(kq_cycles "$log") + n))
  kq_wait "$limit" "$n more synchronisation cycles" bash -c '[ "$(grep -cF " : Modification queue: " "$1" 2>/dev/null)" -ge "$2" ]' _ "$log" "$want"
}

same_content() { [ -f "$1" ] && [ -f "$2" ] && cmp -s "$1" "$2"; }
has_text() { [ -f "$1" ] && [ "$(cat "$1")" = "$2" ]; }
absent() { [ ! -e "$1" ]; }
log_has() { [ -f "$1" ] && grep -qF -- "$2" "$1"; }
