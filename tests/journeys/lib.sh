# lib.sh is sourced by every journey: a user's or an administrator's story with
# one fault in it, played with the real kqsyncd, kqfilesync and zrservice in a
# network and mount namespace of the journey's own. On top of tests/e2e/lib.sh
# it keeps the record that the shared checker judges at the end:
#   - every content (SHA-256) that existed in the store or the sync folder: each
#     file the journey writes, and each file a background sampler sees there
#     unchanged in two samples in a row (a file still being written is not a
#     content yet; partial files ".kqpart" are not recorded);
#   - what the user (sync folder) and the administrator (store) did by hand:
#     writes and deletions; what they replaced or deleted is theirs to lose.
# The checker (jr_verify) then requires, and prints one line per property:
#   1. store and sync folder agree (names, folders and SHA-256; not _log,
#      _config, _trash, kqsyncd's own files, nor names that are never
#      synchronised) within 60 s after the fault ended, and stay so for a few
#      more cycles;
#   2. every recorded content is still in the store, in the sync folder (the
#      conflict copies included) or among `kqsyncd versions list`, unless the
#      user or the administrator replaced or deleted it by hand (the client's
#      _trash does not count; an empty file has nothing to lose);
#   3. nothing is gone from both sides that nobody deleted, and what the user
#      deleted stays deleted on both sides.
# Usage in a journey:  source "$(dirname "$0")/lib.sh"; jr_begin "$@"; ...
#   jr_start; <the fault>; jr_fault_over; <journey checks>; jr_verify; jr_end
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/lib.sh"

jr_contract=7400
jr_key=JOURNEY7400
jr_settle_s=8          # the sides must stay in agreement this long at the end
jr_agree_limit_s=60    # after the fault ended
jr_failures=0
jr_fault_end=""
jr_server_options=()
# Names that are the programs' own, never recorded and never compared.
jr_internal_re='(^|/)\.kqsyncd[^/]*$'
# Names the client receives into before renaming: never recorded, but a
# leftover one is a difference between the sides.
jr_partial_re='\.kqpart$'
# Names that are never synchronised (compared as substrings of the path, as
# the client's exception list does); a journey adds its own to jr_ignore_re.
jr_ignore_re='\.tmp|\.TMP|~'
declare -A jr_sha_cache=()
jr_empty_sha=e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855

jr_root() { case $1 in store) echo "$jr_store" ;; sync) echo "$jr_sync" ;; *) return 1 ;; esac; }
jr_hash() { sha256sum <"$1" | cut -c1-64; }
jr_size() { stat -c %s "$1" 2>/dev/null || echo 0; }

# jr_begin "$@": enters the journey's namespaces, makes its folders
# (SCRATCH/data, store, sync, prog, record) and sets the exit trap.
jr_begin() {
  kq_isolate "$0" "$@"
  kq_check_programs || exit 1
  jr_name=$(basename "$0" .sh)
  kq_scratch=${1:-$(mktemp -d "/tmp/kq-journey-$jr_name.XXXXXX")}
  jr_data=$kq_scratch/data jr_store=$kq_scratch/store jr_sync=$kq_scratch/sync
  jr_prog=$kq_scratch/prog jr_rec=$kq_scratch/record
  jr_clog=$jr_sync/_log/Filesync.log jr_slog=$jr_data/kqsyncd.log
  mkdir -p "$jr_data" "$jr_store" "$jr_sync" "$jr_rec" "$kq_scratch/staging"
  : >"$jr_rec/seen.tsv"; : >"$jr_rec/events.tsv"; : >"$jr_rec/exempt.tsv"
  trap jr_finish EXIT
  echo "== journey $jr_name in $kq_scratch"
}

# jr_set_sync FOLDER: the sync folder is FOLDER instead (before jr_start).
jr_set_sync() { jr_sync=$1 jr_clog=$1/_log/Filesync.log; mkdir -p "$jr_sync"; }

jr_finish() {
  local status=$? side
  for side in "${!jr_paused[@]}"; do jr_resume "$side"; done
  jr_stop_sampler
  # The client's log lives in the sync folder, which may be a disk of this
  # namespace only: keep a copy beside the other logs.
  local d
  for d in "$jr_sync" "$jr_sync.away"; do
    [ -f "$d/_log/Filesync.log" ] && cp "$d/_log/Filesync.log" "$kq_scratch/client-Filesync.log" 2>/dev/null && break
  done
  (exit $status)
  kq_finish
}

# --- what the journey does by hand --------------------------------------------

jr_event() { printf '%s\t%s\t%s\t%s\n' "$@" >>"$jr_rec/events.tsv"; }
jr_seen() { printf '%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$4" >>"$jr_rec/seen.tsv"; }

# jr_replacing SIDE PATH: the content now at PATH is the hand's own to lose.
jr_replacing() {
  local f
  f=$(jr_root "$1")/$2
  [ -f "$f" ] || return 0
  printf '%s\t%s:%s\n' "$(jr_hash "$f")" "$1" "$2" >>"$jr_rec/exempt.tsv"
}

# jr_wrote SIDE PATH [SHA]: records a write by hand (of SHA, when known).
jr_wrote() {
  local f sha=${3:-}
  f=$(jr_root "$1")/$2
  [ -n "$sha" ] || sha=$(jr_hash "$f")
  jr_seen "$sha" "$(jr_size "$f")" "$1" "$2"
  jr_event write "$1" "$2" "$sha"
}

# jr_write SIDE PATH TEXT: the user (SIDE sync) or the administrator (SIDE
# store) writes TEXT (no newline added) into PATH, the way an editor saves.
jr_write() {
  local f
  f=$(jr_root "$1")/$2
  jr_replacing "$1" "$2"
  mkdir -p "$(dirname "$f")"
  printf '%s' "$3" >"$f"
  jr_wrote "$1" "$2"
}

# jr_put SIDE PATH BYTES: BYTES of random data, prepared in the scratch folder
# and moved into PATH in one step (a finished download or copy). Sets
# jr_put_sha to its SHA-256.
jr_put() {
  local f stage=$kq_scratch/staging/put.$$
  f=$(jr_root "$1")/$2
  local sha
  head -c "$3" /dev/urandom >"$stage"
  sha=$(jr_hash "$stage")
  jr_replacing "$1" "$2"
  mkdir -p "$(dirname "$f")"
  mv -f "$stage" "$f"
  jr_wrote "$1" "$2" "$sha"
  jr_put_sha=$sha
}

# jr_rm SIDE PATH: the user or the administrator deletes the file.
jr_rm() {
  local f
  f=$(jr_root "$1")/$2
  jr_replacing "$1" "$2"
  jr_event delete "$1" "$2" -
  rm -f "$f"
}

# --- the programs ---------------------------------------------------------------

# jr_start_programs: the account, kqsyncd (with jr_server_options), zrservice
# and kqfilesync, until the client has connected (a fatal failure otherwise).
jr_start_programs() {
  "$KQSYNCD" --data "$jr_data" account add --contract $jr_contract --key $jr_key --store "$jr_store" >/dev/null ||
    jr_abort "the account cannot be added"
  jr_start_sampler
  kq_start_server "$jr_data" 127.0.0.1 "${jr_server_options[@]}"
  kq_start_client "$jr_prog" "$jr_sync" $jr_contract $jr_key || jr_abort "the client cannot be started"
  kq_wait 40 "the client connects" log_has "$jr_clog" "Connected to Korvalinq Server!" ||
    jr_abort "no connection"
}

# jr_start: jr_start_programs, then the first synchronisation must bring the
# sides into agreement (a fatal failure otherwise).
jr_start() {
  jr_start_programs
  kq_wait 60 "the first synchronisation completes" jr_agree || { jr_show_difference; jr_abort "no first synchronisation"; }
}

jr_kill_client() {
  kill -KILL "$kq_client_pid" 2>/dev/null
  wait "$kq_client_pid" 2>/dev/null || true
  kq_forget "$kq_client_pid"
}
jr_restart_client() { kq_run_client "$jr_prog"; }
jr_kill_server() {
  kill -KILL "$kq_server_pid" 2>/dev/null
  wait "$kq_server_pid" 2>/dev/null || true
  kq_forget "$kq_server_pid"
}
jr_restart_server() { kq_start_server "$jr_data" 127.0.0.1 "${jr_server_options[@]}"; }

# A forwarder (tests/journeys/forwarder.py) between client and server: the
# client connects to jr_client_port (its contract's port), kqsyncd listens on
# jr_server_port (put "--listen 127.0.0.1:$jr_server_port" in jr_server_options).
jr_client_port=2$jr_contract
jr_server_port=$((jr_client_port + 1))
# jr_start_forwarder [OPTION...]: starts it with OPTIONs (latency, stalls) and
# waits until it listens; jr_forwarder is its process id, its log
# SCRATCH/forwarder.log.
jr_start_forwarder() {
  python3 "$(dirname "${BASH_SOURCE[0]}")/forwarder.py" "$jr_client_port" "$jr_server_port" "$@" \
    >"$kq_scratch/forwarder.log" 2>&1 &
  jr_forwarder=$!
  kq_pids+=($jr_forwarder)
  kq_wait 10 "the forwarder listens" log_has "$kq_scratch/forwarder.log" "forwarding" ||
    jr_abort "the forwarder did not start"
}

# jr_pause client|server: stops the program (SIGSTOP) where it is, so that
# what the journey does next happens "at once" as far as it can tell: it sees
# none of it until jr_resume. A stopped program is let go on at the end.
declare -A jr_paused=()
jr_program_pid() {
  case $1 in client) echo "$kq_client_pid" ;; server) echo "$kq_server_pid" ;; *) return 1 ;; esac
}
jr_is_stopped() { [ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" = T ]; }
jr_pause() {
  local pid
  pid=$(jr_program_pid "$1") || jr_abort "jr_pause: no program $1"
  kill -STOP "$pid" || jr_abort "cannot stop the $1"
  # SIGSTOP is delivered asynchronously: wait until the process is stopped.
  kq_poll_s=0.01 kq_wait 10 "the $1 is stopped" jr_is_stopped "$pid" >/dev/null || jr_abort "the $1 did not stop"
  jr_paused[$1]=$pid
  echo "== the $1 is stopped (pid $pid)"
}
# jr_pause_waiting client: jr_pause where the client waits in its event loop
# (in poll, system call 7), never in the middle of a listing's walk: a walk
# that saw part of what the journey does next would report only that part.
jr_pause_waiting() {
  local attempt
  for attempt in $(seq 1 100); do
    jr_pause "$1"
    [ "$(cut -d' ' -f1 "/proc/${jr_paused[$1]}/syscall" 2>/dev/null)" = 7 ] && return 0
    jr_resume "$1"
    sleep 0.1
  done
  jr_abort "the $1 is never found waiting in its event loop"
}
jr_resume() {
  local pid=${jr_paused[$1]:-}
  [ -n "$pid" ] || return 0
  kill -CONT "$pid" 2>/dev/null || true
  unset "jr_paused[$1]"
  echo "== the $1 goes on"
}

# jr_receiving SIDE PATH MIN FULL: a transfer into PATH is under way, between
# MIN and FULL bytes: in its ".kqpart" file or, where the receiver writes in
# place, in PATH itself (the store's temporary files count for SIDE store).
jr_receiving() {
  local root f n
  root=$(jr_root "$1")
  for f in "$root/$2.kqpart" "$root/$2" "$root"/.kqsyncd.tmp/*; do
    [ -f "$f" ] || continue
    n=$(jr_size "$f")
    [ "$n" -ge "$3" ] && [ "$n" -lt "$4" ] && return 0
  done
  return 1
}

# jr_received_bytes SIDE PATH: bytes that arrived for PATH so far (its
# ".kqpart" file, PATH itself and, for SIDE store, the store's temporary files).
jr_received_bytes() {
  local root f n=0
  root=$(jr_root "$1")
  for f in "$root/$2.kqpart" "$root/$2" "$root"/.kqsyncd.tmp/*; do
    [ -f "$f" ] && n=$((n + $(jr_size "$f")))
  done
  echo $n
}

# jr_expect_arrival DESCRIPTION SIDE PATH SHA: a large transfer into PATH must
# end with the content SHA; however slow the machine, it must keep going (no
# byte for 2 minutes is a failure; 20 minutes in all). Once it is there, the
# sides have their 60 s to agree from then on: what the check needs is that
# they settle, not that a busy machine moves 300 MB in a given time.
jr_expect_arrival() {
  local what=$1 side=$2 path=$3 sha=$4
  jr_arrival_bytes() { jr_received_bytes "$side" "$path"; }
  if kq_wait_progress 1200 120 "$what" jr_arrival_bytes jr_is "$side" "$path" "$sha"; then
    jr_fault_over
  else
    jr_failures=$((jr_failures + 1))
  fi
}

# --- the record -------------------------------------------------------------------

# jr_snapshot: SIDE, PATH, SIZE, MTIME, INODE of every file worth recording.
jr_snapshot() {
  local side root
  for side in store sync; do
    root=$(jr_root $side)
    [ -d "$root" ] || continue
    find "$root" -mindepth 1 \( -path "$root/_log" -o -path "$root/_config" -o -path "$root/_trash" \
      -o -path "$root/.kqsyncd.tmp" \) -prune -o -type f -printf "$side\t%P\t%s\t%T@\t%i\n" 2>/dev/null
  done | awk -F'\t' -v a="$jr_internal_re" -v b="$jr_partial_re" '$2 !~ a && $2 !~ b' | LC_ALL=C sort
}

# jr_hash_list: reads full paths (one a line) and prints "SHA<TAB>PATH" for
# each file that could be read, hashing them all in one go.
jr_hash_list() {
  tr '\n' '\0' | xargs -0 -r sha256sum --zero -- 2>/dev/null | tr '\0' '\n' |
    awk '{sha = substr($0, 1, 64); print sha "\t" substr($0, 67)}'
}

# jr_sample: one round of the sampler: what is unchanged since the previous
# round and not yet hashed is hashed and recorded (unless it changed while it
# was hashed). Every round ends by counting itself in record/rounds.
jr_sample() {
  local prev=$jr_rec/snap.prev cur=$jr_rec/snap.cur todo=$jr_rec/snap.todo
  jr_snapshot >"$cur"
  LC_ALL=C comm -12 "$prev" "$cur" | awk -v f="$jr_rec/snap.done" 'BEGIN {while ((getline l <f) > 0) done[l]} !($0 in done)' >"$todo"
  if [ -s "$todo" ]; then
    awk -F'\t' -v s="$jr_store" -v y="$jr_sync" '{print ($1 == "store" ? s : y) "/" $2}' "$todo" | jr_hash_list >"$todo.sha"
    # What each file is now: a file changed while it was hashed is left for a later round.
    cut -f2 "$todo.sha" | tr '\n' '\0' | xargs -0 -r sh -c 'find "$@" -maxdepth 0 -type f -printf "%p\t%s\t%T@\t%i\n"' sh \
      2>/dev/null >"$todo.now"
    awk -F'\t' -v s="$jr_store" -v y="$jr_sync" -v seen="$jr_rec/seen.tsv" -v done="$jr_rec/snap.done" '
      FILENAME == ARGV[1] {sha[$2] = $1; next}
      FILENAME == ARGV[2] {now[$1] = $2 "\t" $3 "\t" $4; next}
      {
        f = ($1 == "store" ? s : y) "/" $2
        if (!(f in sha) || now[f] != $3 "\t" $4 "\t" $5) next
        print sha[f] "\t" $3 "\t" $1 "\t" $2 >>seen
        print $0 >>done
      }' "$todo.sha" "$todo.now" "$todo"
  fi
  mv "$cur" "$prev"
  echo $(($(cat "$jr_rec/rounds" 2>/dev/null || echo 0) + 1)) >"$jr_rec/rounds"
}

# jr_sampler_rounds N: waits until the sampler has made N more rounds (it has
# seen the folders as they are now twice, for N = 2).
jr_sampler_rounds() {
  local want=$(($(cat "$jr_rec/rounds" 2>/dev/null || echo 0) + $1))
  kq_poll_s=0.1 kq_wait 120 "the sampler makes $1 more rounds" \
    bash -c '[ "$(cat "$1" 2>/dev/null || echo 0)" -ge "$2" ]' _ "$jr_rec/rounds" "$want" >/dev/null
}

jr_start_sampler() {
  : >"$jr_rec/snap.prev"; : >"$jr_rec/snap.done"; rm -f "$jr_rec/sampler.stop"; echo 0 >"$jr_rec/rounds"
  (while [ ! -e "$jr_rec/sampler.stop" ]; do jr_sample; sleep 0.25; done; jr_sample; jr_sample) &
  jr_sampler_pid=$!
}

jr_stop_sampler() {
  [ -n "${jr_sampler_pid:-}" ] || return 0
  touch "$jr_rec/sampler.stop"
  local i
  for i in $(seq 1 120); do kill -0 "$jr_sampler_pid" 2>/dev/null || break; sleep 0.25; done
  kill "$jr_sampler_pid" 2>/dev/null || true
  wait "$jr_sampler_pid" 2>/dev/null || true
  jr_sampler_pid=""
}

# jr_tree SIDE: sets jr_tree_out to what is compared between the sides: "D
# path" for folders and "F path sha256" for files, sorted (hashes are cached by
# path, size, time and inode, so the cache lives in this shell, not a subshell;
# the files not in the cache are hashed in one go).
jr_tree() {
  local side=$1 root kind path size mtime inode key misses=() sha lines=() list=$jr_rec/tree.$1
  local -A fresh=()
  root=$(jr_root "$side")
  if [ ! -d "$root" ]; then jr_tree_out="(the folder is missing)"; return; fi
  find "$root" -mindepth 1 \( -path "$root/_log" -o -path "$root/_config" -o -path "$root/_trash" \
    -o -path "$root/.kqsyncd.tmp" \) -prune -o \( -type f -o -type d \) -printf '%y\t%P\t%s\t%T@\t%i\n' 2>/dev/null |
    awk -F'\t' -v a="$jr_internal_re" -v i="$jr_ignore_re" '$2 !~ a && $2 !~ i' >"$list"
  while IFS=$'\t' read -r kind path size mtime inode; do
    [ "$kind" = f ] && [ -z "${jr_sha_cache[$side/$path|$size|$mtime|$inode]:-}" ] && misses+=("$root/$path")
  done <"$list"
  [ ${#misses[@]} -eq 0 ] ||
    while IFS=$'\t' read -r sha path; do fresh[$path]=$sha; done < <(printf '%s\n' "${misses[@]}" | jr_hash_list)
  while IFS=$'\t' read -r kind path size mtime inode; do
    if [ "$kind" = d ]; then lines+=("D"$'\t'"$path"); continue; fi
    key="$side/$path|$size|$mtime|$inode"
    # A file hashed just now is cached under the state it was listed in; one
    # that changed meanwhile shows up as a difference and is hashed again later.
    [ -n "${jr_sha_cache[$key]:-}" ] || jr_sha_cache[$key]=${fresh[$root/$path]:-}
    lines+=("F"$'\t'"$path"$'\t'"${jr_sha_cache[$key]}")
  done <"$list"
  jr_tree_out=$(printf '%s\n' "${lines[@]}" | LC_ALL=C sort)
}

# jr_is SIDE PATH SHA: the file at PATH holds the content SHA now (the hash is
# cached by size, time and inode, so polling a large file costs little).
jr_is() {
  local f st
  f=$(jr_root "$1")/$2
  st=$(find "$f" -maxdepth 0 -type f -printf '%s|%T@|%i' 2>/dev/null) && [ -n "$st" ] || return 1
  [ -n "${jr_sha_cache[$1/$2|$st]:-}" ] || jr_sha_cache[$1/$2|$st]=$(jr_hash "$f" 2>/dev/null)
  [ "${jr_sha_cache[$1/$2|$st]}" = "$3" ]
}

jr_agree() {
  local store_tree
  jr_tree store; store_tree=$jr_tree_out
  jr_tree sync
  [ "$store_tree" = "$jr_tree_out" ]
}

jr_show_difference() {
  local store_tree
  jr_tree store; store_tree=$jr_tree_out
  jr_tree sync
  echo "   store (<) and sync folder (>) differ:"
  diff <(echo "$store_tree") <(echo "$jr_tree_out") | grep '^[<>]' | head -n 12 | sed 's/^/   /'
}

# --- checks -------------------------------------------------------------------------

jr_fail() { echo "FAILED: $*" >&2; jr_failures=$((jr_failures + 1)); }
jr_abort() { echo "FAILED: $* (the journey cannot go on)" >&2; exit 1; }
# jr_expect DESCRIPTION COMMAND...: a journey check that must hold now.
jr_expect() { kq_check "$@" || jr_failures=$((jr_failures + 1)); }
# jr_expect_wait SECONDS DESCRIPTION COMMAND...: a journey check that must come true.
jr_expect_wait() { kq_wait "$@" || jr_failures=$((jr_failures + 1)); }

# jr_wait_fast SECONDS DESCRIPTION COMMAND...: kq_wait polling every 50 ms,
# to catch a moment (a transfer under way).
jr_wait_fast() { kq_poll_s=0.05 kq_wait "$@"; }

# jr_fault_over: the fault has ended; the sides have 60 s from now to agree.
jr_fault_over() { jr_fault_end=$SECONDS; echo "== the fault is over"; }

# jr_versions: SHA-256 of every kept previous version of the contract.
jr_versions() {
  local out
  if ! out=$("$KQSYNCD" --data "$jr_data" versions list --contract $jr_contract 2>&1); then
    echo "note: kqsyncd keeps no versions here: $(head -n 1 <<<"$out")" >&2
    return 0
  fi
  awk -F'\t' 'NF >= 4 && length($3) == 64 && $3 ~ /^[0-9a-f]+$/ {print $3}' <<<"$out"
}

# jr_verify: the three properties of every journey (see the top of this file).
jr_verify() {
  [ -n "$jr_fault_end" ] || jr_fault_over
  local left=$((jr_agree_limit_s - (SECONDS - jr_fault_end)))
  local agreed=0 looked
  # A comparison counts at the moment it looked at the folders (hashing many
  # files on a busy machine takes the checker a while, not the programs).
  until looked=$SECONDS; jr_agree && agreed=1 || [ $left -le 0 ]; do sleep 0.5; left=$((jr_agree_limit_s - (SECONDS - jr_fault_end))); done
  if [ $agreed = 1 ] && [ $((looked - jr_fault_end)) -gt $jr_agree_limit_s ]; then
    jr_fail "the store and the sync folder agree only $((looked - jr_fault_end)) s after the fault (${jr_agree_limit_s} s allowed)"
  elif [ $agreed = 1 ]; then
    echo "ok: the store and the sync folder agree, $((looked - jr_fault_end)) s after the fault"
    local end=$((SECONDS + jr_settle_s)) steady=1
    while [ $SECONDS -lt $end ]; do
      jr_agree || { steady=0; break; }
      sleep 0.5
    done
    if [ $steady = 1 ]; then echo "ok: they still agree ${jr_settle_s} s later"
    else jr_fail "the store and the sync folder agreed, then differed again"; jr_show_difference; fi
  else
    jr_fail "the store and the sync folder still differ $((SECONDS - jr_fault_end)) s after the fault (${jr_agree_limit_s} s allowed)"
    jr_show_difference
  fi
  jr_stop_sampler
  jr_check_contents
  jr_check_deletions
}

# Every recorded content is still somewhere, unless a hand replaced or deleted it.
jr_check_contents() {
  local have=$jr_rec/final.sha lost=0 sha size side path
  {
    local s root
    for s in store sync; do
      root=$(jr_root $s)
      [ -d "$root" ] || continue
      find "$root" -mindepth 1 \( -path "$root/_log" -o -path "$root/_config" -o -path "$root/_trash" \
        -o -path "$root/.kqsyncd.tmp" \) -prune -o -type f ! -name '*.kqpart' -exec sha256sum --zero {} + 2>/dev/null | tr '\0' '\n' | cut -c1-64
    done
    jr_versions
    cut -f1 "$jr_rec/exempt.tsv"
    echo "$jr_empty_sha"  # an empty file holds nothing to lose
  } | sort -u >"$have"
  while IFS=$'\t' read -r sha size side path; do
    jr_fail "a content is lost: $size bytes with SHA-256 $sha, last seen at $side:/$path; it is in neither folder nor among the versions"
    lost=$((lost + 1))
  done < <(awk -F'\t' 'FILENAME == ARGV[1] {have[$0]; next}
                       !($1 in have) {if (!($1 in last)) order[++n] = $1; last[$1] = $0}
                       END {for (i = 1; i <= n; i++) print last[order[i]]}' "$have" "$jr_rec/seen.tsv")
  [ $lost -gt 0 ] || echo "ok: every content that existed ($(cut -f1 "$jr_rec/seen.tsv" | sort -u | wc -l)) is still in a folder, among the versions or was replaced by hand"
}

# Nothing is gone that nobody deleted; what the user deleted stays deleted.
jr_check_deletions() {
  local bad=0 path last
  while IFS=$'\t' read -r path last; do
    if [ "$last" = delete ]; then
      local where=()
      [ ! -e "$jr_store/$path" ] || where+=("the store")
      [ ! -e "$jr_sync/$path" ] || where+=("the sync folder")
      if [ ${#where[@]} -gt 0 ]; then
        jr_fail "/$path was deleted by hand but is back (in $(IFS=,; echo "${where[*]}" | sed 's/,/ and /'))"
        bad=$((bad + 1))
      fi
    elif [ ! -e "$jr_store/$path" ] && [ ! -e "$jr_sync/$path" ]; then
      jr_fail "/$path is gone from both sides, yet nobody deleted it"
      bad=$((bad + 1))
    fi
  done < <(awk -F'\t' 'FILENAME == ARGV[1] {if (!($4 in last)) order[++n] = $4; last[$4] = "seen"; next}
                       {if (!($3 in last)) order[++n] = $3; last[$3] = $1}
                       END {for (i = 1; i <= n; i++) print order[i] "\t" last[order[i]]}' \
             "$jr_rec/seen.tsv" "$jr_rec/events.tsv")
  [ $bad -gt 0 ] || echo "ok: nothing is gone that was not deleted by hand, and no deletion was undone"
}

# jr_end: the journey's verdict and exit status.
jr_end() {
  if [ $jr_failures -eq 0 ]; then
    echo "journey $jr_name: passed"
    exit 0
  fi
  echo "journey $jr_name: FAILED ($jr_failures failed checks above)" >&2
  exit 1
}
