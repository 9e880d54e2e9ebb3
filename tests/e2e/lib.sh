# lib.sh is sourced by the end-to-end scripts: it finds the programs, starts
# kqsyncd, kqfilesync and zrservice in a scratch folder and stops them again.
# Programs: $KQSYNCD, $KQFILESYNC, $ZRSERVICE, default from build/native.
kq_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
KQSYNCD=${KQSYNCD:-$kq_root/build/native/server/kqsyncd}
KQFILESYNC=${KQFILESYNC:-$kq_root/build/native/src/ui/kqfilesync}
ZRSERVICE=${ZRSERVICE:-$kq_root/build/native/services/zrservice}
kq_pids=()

kq_check_programs() {
  local p
  for p in "$KQSYNCD" "$KQFILESYNC" "$ZRSERVICE"; do
    [ -x "$p" ] || { echo "missing program $p (build with scripts/build.sh native)" >&2; return 1; }
  done
}

# kq_wait SECONDS DESCRIPTION COMMAND...: polls COMMAND until it succeeds.
kq_wait() {
  local limit=$1 what=$2; shift 2
  local end=$((SECONDS + limit))
  until "$@"; do
    if [ $SECONDS -ge $end ]; then echo "FAILED: $what (after ${limit}s)" >&2; return 1; fi
    sleep 0.5
  done
  echo "ok: $what"
}

# kq_start_server DATA: runs kqsyncd serve on 127.0.0.1 with a short cycle.
kq_start_server() {
  "$KQSYNCD" --data "$1" serve --host 127.0.0.1 --cycle 1 --timeout 30 >>"$1/kqsyncd.log" 2>&1 &
  kq_pids+=($!)
  kq_server_pid=$!
}

# kq_start_client PROGRAM_FOLDER FOLDER CONTRACT KEY: installs and starts the
# client and its watcher from their own program folder.
kq_start_client() {
  local prog=$1 folder=$2 contract=$3 key=$4
  mkdir -p "$prog"
  cp "$KQFILESYNC" "$ZRSERVICE" "$prog/"
  "$prog/kqfilesync" install --host 127.0.0.1 --contract "$contract" --key "$key" --folder "$folder" \
    >"$prog/install.log" 2>&1 || { cat "$prog/install.log" >&2; return 1; }
  (cd "$prog" && exec ./zrservice >>"$prog/zrservice.log" 2>&1) &
  kq_pids+=($!)
  kq_watcher_pid=$!
  (cd "$prog" && exec ./kqfilesync </dev/null >>"$prog/kqfilesync.log" 2>&1) &
  kq_pids+=($!)
  kq_client_pid=$!
}

# kq_stop PID...: SIGTERM, then wait up to ten seconds for each.
kq_stop() {
  local pid
  for pid in "$@"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "$@"; do
    for _ in $(seq 1 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
    if kill -0 "$pid" 2>/dev/null; then echo "process $pid did not stop on SIGTERM" >&2; kill -KILL "$pid"; return 1; fi
    wait "$pid" 2>/dev/null || true
  done
}

kq_stop_all() {
  local live=()
  local pid
  for pid in "${kq_pids[@]}"; do kill -0 "$pid" 2>/dev/null && live+=("$pid"); done
  [ ${#live[@]} -eq 0 ] || kq_stop "${live[@]}"
  kq_pids=()
}

same_content() { [ -f "$1" ] && [ -f "$2" ] && cmp -s "$1" "$2"; }
has_text() { [ -f "$1" ] && [ "$(cat "$1")" = "$2" ]; }
absent() { [ ! -e "$1" ]; }
