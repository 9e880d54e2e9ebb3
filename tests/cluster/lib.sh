# lib.sh is sourced by every cluster journey: two kqsyncd nodes (A and B) on
# one PostgreSQL database and one store folder, behind kq_balancer, and two
# clients (the real kqfilesync and zrservice, each with a watcher port of its
# own) of one contract that reach the nodes through the balancer. On top of
# tests/journeys/lib.sh: each client has its own record (what its sync folder
# held, what was done by hand there and in the store), and the end requires
# that the store and both sync folders agree within 60 s after the fault, that
# every recorded content is still somewhere and that nothing is gone that
# nobody deleted (each client's record judged as a single-client journey's).
#
# The database: $KQ_CLUSTER_PG (a server's URL, as scripts/pg-test-server.sh
# prints it) gets a database of the journey's own; without it the journey
# starts a PostgreSQL server of its own in its scratch folder (with fsync on
# when KQ_PG_DURABLE=1).
# Usage in a journey:
#   source "$(dirname "$0")/lib.sh"; cl_begin "$@"; cl_start; <the fault>;
#   jr_fault_over; <checks>; cl_verify; jr_end
source "$(dirname "${BASH_SOURCE[0]}")/../journeys/lib.sh"

KQ_BALANCER=${KQ_BALANCER:-$kq_root/build/native/tests/cluster/kq_balancer}
cl_pg_script=$kq_root/scripts/pg-test-server.sh
cl_nodes=(A B)
declare -A cl_node_port=([A]=31001 [B]=31002) cl_node_pid=() cl_client_pid=() cl_sampler_pid=()
cl_clients=(1 2)
cl_node_options=()
cl_sampling=1          # 0: no samplers (benchmarks: they would take the CPU measured)
cl_backend=postgresql  # or sqlite: one node on a data folder of its own (cl_nodes=(A))
cl_balancer_pid=""
cl_own_pg=""
cl_current=""

# jr_root knows each client's sync folder besides the current client's.
jr_root() {
  case $1 in
    store) echo "$jr_store" ;;
    sync) echo "$jr_sync" ;;
    sync[0-9]) echo "$kq_scratch/$1" ;;
    *) return 1 ;;
  esac
}

# jr_program_pid NAME: nodes and clients can be stopped with jr_pause.
jr_program_pid() {
  case $1 in
    node[AB]) echo "${cl_node_pid[${1#node}]:-}" ;;
    client[0-9]) echo "${cl_client_pid[${1#client}]:-}" ;;
    client) echo "$kq_client_pid" ;;
    *) return 1 ;;
  esac
}

# jr_versions: the kept versions, as the database lists them.
jr_versions() {
  local out
  local storage
  read -ra storage <<<"$(cl_admin_storage)"
  if ! out=$("$KQSYNCD" "${storage[@]}" versions list --contract $jr_contract 2>&1); then
    echo "note: no versions listed: $(head -n 1 <<<"$out")" >&2
    return 0
  fi
  awk -F'\t' 'NF >= 4 && length($3) == 64 && $3 ~ /^[0-9a-f]+$/ {print $3}' <<<"$out"
}

# cl_use N: client N is the current one for the journeys' helpers (jr_write
# sync ..., jr_pause client, the record they add to).
cl_use() {
  cl_current=$1
  jr_sync=$kq_scratch/sync$1 jr_clog=$kq_scratch/sync$1/_log/Filesync.log
  jr_rec=$kq_scratch/record$1 jr_prog=$kq_scratch/prog$1
  kq_client_pid=${cl_client_pid[$1]:-}
  jr_sampler_pid=${cl_sampler_pid[$1]:-}
}

# cl_begin "$@": the journey's namespaces and folders (store, sync1, sync2,
# nodeA, nodeB, record1, record2), the database and the exit trap.
cl_begin() {
  jr_begin "$@"
  [ -x "$KQ_BALANCER" ] || jr_abort "missing program $KQ_BALANCER (build with scripts/build.sh native)"
  trap cl_finish EXIT
  rmdir "$jr_sync" 2>/dev/null || true
  # Each client's record holds what its sampler saw, what was written by hand
  # in its sync folder and in the store, and every deletion by hand (cl_rm);
  # what was replaced or deleted by hand anywhere is one list for all clients
  # (theirs to lose at every client).
  local n
  mkdir -p "$kq_scratch/record-hands"
  : >"$kq_scratch/record-hands/exempt.tsv"
  for n in "${cl_clients[@]}"; do
    mkdir -p "$kq_scratch/sync$n" "$kq_scratch/record$n"
    : >"$kq_scratch/record$n/seen.tsv"; : >"$kq_scratch/record$n/events.tsv"
    ln -sf ../record-hands/exempt.tsv "$kq_scratch/record$n/exempt.tsv"
  done
  for n in "${cl_nodes[@]}"; do mkdir -p "$kq_scratch/node$n"; done
  cl_use 1
  [ "$cl_backend" = sqlite ] || cl_make_database
}

# cl_make_database: cl_db is the URL of a new, empty database of this journey.
cl_make_database() {
  [[ "$("$KQSYNCD" --help 2>&1)" == *--db* ]] || jr_abort "this kqsyncd has no --db option (no database back end)"
  local server=${KQ_CLUSTER_PG:-}
  if [ -z "$server" ]; then
    local durable=()
    [ "${KQ_PG_DURABLE:-0}" != 1 ] || durable=(--durable)
    server=$(bash "$cl_pg_script" start "$kq_scratch/pg" "${durable[@]}") || jr_abort "PostgreSQL does not start"
    cl_own_pg=$kq_scratch/pg
  fi
  local name="cl_${jr_name}_$$"
  cl_psql "$server" -c "CREATE DATABASE $name" >/dev/null || jr_abort "cannot create the database $name"
  cl_db=${server/\/kq\?//$name?}
  echo "== database $cl_db"
}

# cl_psql URL ARG...: psql, quiet, one unaligned value per line.
cl_psql() { local url=$1; shift; psql -X -q -At -v ON_ERROR_STOP=1 "$url" "$@"; }

cl_finish() {
  local status=$? name n
  for name in "${!jr_paused[@]}"; do jr_resume "$name"; done
  for n in "${cl_clients[@]}"; do
    cl_use "$n"; jr_stop_sampler; cl_sampler_pid[$n]=""
    cp "$jr_clog" "$kq_scratch/client$n-Filesync.log" 2>/dev/null || true
  done
  kq_stop_all || status=1
  kq_netns_cleanup
  [ -z "$cl_own_pg" ] || bash "$cl_pg_script" stop "$cl_own_pg" || true
  [ $status -eq 0 ] || echo "logs in $kq_scratch" >&2
  exit $status
}

# --- the programs ----------------------------------------------------------------

cl_node_log() { echo "$kq_scratch/node$1/kqsyncd.log"; }

# cl_storage NODE: the options that give kqsyncd its storage: the node's data
# folder and the shared database (named for the node in the database's
# activity), or for the SQLite back end node A's data folder alone.
cl_storage() {
  if [ "$cl_backend" = sqlite ]; then echo --data "$kq_scratch/nodeA"
  else echo --data "$kq_scratch/node$1" --db "$cl_db&application_name=kqsyncd-$1"; fi
}

# cl_admin_storage: the storage options of the administrator's commands
# (account, versions): the database, or node A's data folder for SQLite.
cl_admin_storage() {
  if [ "$cl_backend" = sqlite ]; then echo --data "$kq_scratch/nodeA"; else echo --db "$cl_db"; fi
}

# cl_start_node A|B: kqsyncd on the shared database, listening on its own port.
cl_start_node() {
  local node=$1 port=${cl_node_port[$1]} storage
  read -ra storage <<<"$(cl_storage "$node")"
  "$KQSYNCD" "${storage[@]}" serve \
    --listen "127.0.0.1:$port" --cycle 1 --timeout 30 "${cl_node_options[@]}" >>"$(cl_node_log "$node")" 2>&1 &
  kq_pids+=($!)
  cl_node_pid[$node]=$!
  kq_wait 60 "node $node listens on 127.0.0.1:$port" kq_listening "$port" ||
    jr_abort "node $node does not start: $(tail -n 3 "$(cl_node_log "$node")")"
}

cl_kill_node() {
  local pid=${cl_node_pid[$1]}
  kill -KILL "$pid" 2>/dev/null
  kill -CONT "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null || true
  kq_forget "$pid"
  unset "jr_paused[node$1]"
  echo "== node $1 is killed"
}

# cl_start_balancer: kq_balancer on the contract's port, before the nodes in
# the order of cl_nodes.
cl_start_balancer() {
  local port=2$jr_contract node backends=()
  for node in "${cl_nodes[@]}"; do backends+=("127.0.0.1:${cl_node_port[$node]}"); done
  "$KQ_BALANCER" "127.0.0.1:$port" "${backends[@]}" >>"$kq_scratch/balancer.log" 2>&1 &
  kq_pids+=($!)
  cl_balancer_pid=$!
  kq_wait 30 "the balancer listens on 127.0.0.1:$port" log_has "$kq_scratch/balancer.log" "balancing 127.0.0.1:$port" ||
    jr_abort "the balancer does not start"
}

# cl_start_client N: installs client N (watcher port 11111 + N) and starts its
# zrservice and kqfilesync, until it has connected.
cl_start_client() {
  local n=$1 prog=$kq_scratch/prog$1
  mkdir -p "$prog"
  cp "$KQFILESYNC" "$ZRSERVICE" "$prog/"
  "$prog/kqfilesync" install --force --host 127.0.0.1 --contract $jr_contract --key $jr_key \
    --folder "$kq_scratch/sync$n" --watcher $((11111 + n)) >"$prog/install.log" 2>&1 ||
    jr_abort "client $n cannot be installed: $(cat "$prog/install.log")"
  KQ_WATCHER_PORT=$((11111 + n)) kq_start_watcher "$prog" || jr_abort "the watcher of client $n does not start"
  kq_run_client "$prog"
  cl_client_pid[$n]=$kq_client_pid
  cl_use "$n"
  kq_wait 60 "client $n connects" log_has "$jr_clog" "Connected to Korvalinq Server!" || jr_abort "client $n does not connect"
}

cl_kill_client() {
  local pid=${cl_client_pid[$1]}
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null || true
  kq_forget "$pid"
}

# cl_client_node N: the node client N is connected to now (A or B; nothing
# when it has no connection), from its socket and the balancer's log.
cl_client_node() {
  local pid=${cl_client_pid[$1]} local_port line node
  local_port=$(ss -Htnp state established "( dport = :2$jr_contract )" 2>/dev/null |
    awk -v p="pid=$pid," 'index($0, p) {n = split($3, a, ":"); print a[n]; exit}')
  [ -n "$local_port" ] || return 0
  line=$(grep -E "^connection [0-9]+ from 127\.0\.0\.1:$local_port -> " "$kq_scratch/balancer.log" | tail -n 1)
  for node in "${cl_nodes[@]}"; do
    [[ "$line" == *"-> 127.0.0.1:${cl_node_port[$node]}" ]] && echo "$node"
  done
}
cl_client_on() { [ "$(cl_client_node "$1")" = "$2" ]; }

# cl_start: the account (in the database, on the shared store), the nodes,
# the balancer, the clients in turn (client 1 on node A, client 2 on node B),
# the samplers; the first synchronisation must bring all folders into
# agreement.
cl_start() {
  local n storage
  read -ra storage <<<"$(cl_admin_storage)"
  "$KQSYNCD" "${storage[@]}" account add --contract $jr_contract --key $jr_key --store "$jr_store" >/dev/null ||
    jr_abort "the account cannot be added"
  for n in "${cl_nodes[@]}"; do cl_start_node "$n"; done
  cl_start_balancer
  for n in "${cl_clients[@]}"; do
    [ "$cl_sampling" = 1 ] || break
    cl_use "$n"
    jr_start_sampler
    cl_sampler_pid[$n]=$jr_sampler_pid
  done
  for n in "${cl_clients[@]}"; do
    cl_start_client "$n"
    local node=${cl_nodes[$(((n - 1) % ${#cl_nodes[@]}))]}
    jr_expect "client $n is served by node $node" cl_client_on "$n" "$node"
  done
  kq_wait 60 "the first synchronisation completes" cl_agree || { cl_show_difference; jr_abort "no first synchronisation"; }
}

# --- what is done by hand -----------------------------------------------------------

# cl_write_store PATH TEXT: the administrator writes TEXT into the store's
# PATH (seen by both clients' records).
cl_write_store() {
  local keep=$cl_current f=$jr_store/$1 sha n
  jr_replacing store "$1"
  mkdir -p "$(dirname "$f")"
  printf '%s' "$2" >"$f"
  sha=$(jr_hash "$f")
  for n in "${cl_clients[@]}"; do cl_use "$n"; jr_event write store "$1" "$sha"; jr_seen "$sha" "$(jr_size "$f")" store "$1"; done
  cl_use "$keep"
}

# cl_wrote_tree SIDE FOLDER: every file under FOLDER of SIDE (store, or sync1
# and sync2, the clients' folders) was put there by hand, in one step (a
# folder moved or copied in): recorded for every client (the store) or for
# that client, hashed in one go.
cl_wrote_tree() {
  local keep=$cl_current n sha path rel root size records=("${cl_clients[@]}") side=store
  local -A sizes=()
  root=$(jr_root "$1")
  [[ "$1" != sync[0-9] ]] || records=("${1#sync}") side=sync
  while IFS=$'\t' read -r size path; do sizes[$path]=$size; done < <(find "$root/$2" -type f -printf '%s\t%p\n')
  while IFS=$'\t' read -r sha path; do
    rel=${path#"$root/"}
    for n in "${records[@]}"; do cl_use "$n"; jr_event write "$side" "$rel" "$sha"; jr_seen "$sha" "${sizes[$path]}" "$1" "$rel"; done
  done < <(printf '%s\n' "${!sizes[@]}" | jr_hash_list)
  cl_use "$keep"
}

# cl_rm PATH: the user of the current client deletes PATH in their sync
# folder; the deletion is recorded for every client.
cl_rm() {
  local keep=$cl_current n
  jr_rm sync "$1"
  for n in "${cl_clients[@]}"; do [ "$n" = "$keep" ] || { cl_use "$n"; jr_event delete sync "$1" -; }; done
  cl_use "$keep"
}

# cl_move_in SIDE FOLDER: the folder prepared in the scratch folder's
# staging/FOLDER is moved into SIDE in one step and recorded.
cl_move_in() {
  local root
  root=$(jr_root "$1")
  mkdir -p "$(dirname "$root/$2")"
  mv "$kq_scratch/staging/$2" "$root/$2"
  cl_wrote_tree "$1" "$2"
}

# cl_put_store PATH BYTES: BYTES of random data moved into the store's PATH
# in one step (seen by both clients' records); sets jr_put_sha.
cl_put_store() {
  local keep=$cl_current n
  jr_put store "$1" "$2"
  for n in "${cl_clients[@]}"; do
    [ "$n" = "$keep" ] || { cl_use "$n"; jr_event write store "$1" "$jr_put_sha"; jr_seen "$jr_put_sha" "$2" store "$1"; }
  done
  cl_use "$keep"
}

# --- the checks ---------------------------------------------------------------------

cl_agree() {
  local store_tree n
  jr_tree store; store_tree=$jr_tree_out
  for n in "${cl_clients[@]}"; do
    jr_tree "sync$n"
    [ "$store_tree" = "$jr_tree_out" ] || return 1
  done
}

cl_show_difference() {
  local store_tree n
  jr_tree store; store_tree=$jr_tree_out
  for n in "${cl_clients[@]}"; do
    jr_tree "sync$n"
    echo "   store (<) and sync folder $n (>) differ:"
    diff <(echo "$store_tree") <(echo "$jr_tree_out") | grep '^[<>]' | head -n 12 | sed 's/^/   /'
  done
}

# cl_verify: the store and both sync folders agree within 60 s after the fault
# and stay so; then each client's record is judged (contents, deletions).
cl_verify() {
  [ -n "$jr_fault_end" ] || jr_fault_over
  local agreed=0 looked n
  until looked=$SECONDS; cl_agree && agreed=1 || [ $((SECONDS - jr_fault_end)) -ge $jr_agree_limit_s ]; do sleep 0.5; done
  if [ $agreed = 1 ] && [ $((looked - jr_fault_end)) -le $jr_agree_limit_s ]; then
    echo "ok: the store and both sync folders agree, $((looked - jr_fault_end)) s after the fault"
    local end=$((SECONDS + jr_settle_s)) steady=1
    while [ $SECONDS -lt $end ]; do cl_agree || { steady=0; break; }; sleep 0.5; done
    if [ $steady = 1 ]; then echo "ok: they still agree ${jr_settle_s} s later"
    else jr_fail "the store and the sync folders agreed, then differed again"; cl_show_difference; fi
  else
    jr_fail "the store and the sync folders still differ $((SECONDS - jr_fault_end)) s after the fault (${jr_agree_limit_s} s allowed)"
    cl_show_difference
  fi
  for n in "${cl_clients[@]}"; do
    cl_use "$n"
    jr_stop_sampler; cl_sampler_pid[$n]=""
    echo "== the record of client $n"
    jr_check_contents
    jr_check_deletions
  done
  jr_expect "no program has a leftover temporary file in the store" \
    test -z "$(find "$jr_store/.kqsyncd.tmp" -type f 2>/dev/null)"
}

# cl_log_count NODE TEXT: lines of NODE's log that hold TEXT.
cl_log_count() {
  local n
  n=$(grep -cF -- "$2" "$(cl_node_log "$1")" 2>/dev/null) || true
  echo "${n:-0}"
}
