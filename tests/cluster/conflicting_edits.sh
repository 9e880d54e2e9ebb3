#!/usr/bin/env bash
# conflicting_edits.sh: the users of client 1 (on node A) and client 2 (on
# node B) change the same files at the same moment: edits of different sizes,
# of the same size, and in a folder. (A new file created at both with
# different contents is not here: the later copy replaces the first, which
# the store keeps among its versions, since the server's record of client
# copies does not tell one client from another.)
# Both clients are stopped (SIGSTOP) while they write, so that neither edit
# can travel before the other is made, and go on together. Both versions of
# each file are kept, one under its name and the other under a conflict name,
# and reach the store and both clients.
# Usage: tests/cluster/conflicting_edits.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
cl_begin "$@"

# name | the store's text before | client 1's text | client 2's text
edits=(
  "sizes.txt|the original|client 1's much longer edit of the file|client 2's"
  "same.txt|original 0123|client1 456|client2 789"
  "docs/report.txt|the first report|client 1's report|client 2's report, longer"
)
for e in "${edits[@]}"; do
  IFS='|' read -r name before _ <<<"$e"
  [ -z "$before" ] || cl_write_store "$name" "$before"
done
cl_start

# both_kept NAME A B: texts A and B are both in the store, in NAME or a conflict copy beside it.
both_kept() {
  local dir=$jr_store/$(dirname "$1")
  grep -qsxF -- "$2" "$dir"/* && grep -qsxF -- "$3" "$dir"/*
}
conflict_copy_of() {
  local base=${1%.*}
  find "$jr_store/$(dirname "$1")" -maxdepth 1 -name "$(basename "$base")*(conflict *" | grep -q .
}

for n in 1 2; do cl_use "$n"; kq_wait_cycles "$jr_clog" 1 || jr_abort "client $n ends no cycle"; done
jr_pause client1
jr_pause client2
for e in "${edits[@]}"; do
  IFS='|' read -r name _ one two <<<"$e"
  cl_use 1; jr_write sync "$name" "$one"
  cl_use 2; jr_write sync "$name" "$two"
done
echo "== both clients go on at once"
kill -CONT "${cl_client_pid[1]}" "${cl_client_pid[2]}"
unset "jr_paused[client1]" "jr_paused[client2]"
jr_fault_over
cl_verify
for e in "${edits[@]}"; do
  IFS='|' read -r name _ one two <<<"$e"
  jr_expect "both versions of $name are in the store" both_kept "$name" "$one" "$two"
  jr_expect "one of them under a conflict name beside $name" conflict_copy_of "$name"
done
jr_expect "the nodes logged the conflicts" \
  test $(($(cl_log_count A 'conflict on ') + $(cl_log_count B 'conflict on '))) -ge ${#edits[@]}
jr_end
