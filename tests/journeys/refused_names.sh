#!/usr/bin/env bash
# refused_names.sh: the store holds files the client refuses: one that matches
# the exception list the user set up (".psd") and one whose name the client
# cannot hold ("a:b.txt"), each followed by ordinary files. Every ordinary
# file arrives, on the same connection (no time-out, no reconnection), and the
# refused ones stay in the store. The same happens for such files added while
# the client is connected.
# Usage: tests/journeys/refused_names.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"
jr_ignore_re+='|\.psd|:'

mkdir -p "$jr_sync/_config"
printf '.tmp\r\n.TMP\r\n.psd\r\n' >"$jr_sync/_config/exstensions.dat"
printf '~\r\n' >"$jr_sync/_config/exceptions.dat"
jr_put store "0-picture.psd" 300000
jr_write store "a:b.txt" "a name with a colon"
for i in $(seq -w 1 12); do jr_write store "f$i.txt" "ordinary file $i"; done
jr_write store "sub/c:d.txt" "another colon, in a folder"
jr_write store sub/inner.txt "ordinary file in a folder"
all_arrived() {
  local f
  for f in "$@"; do same_content "$jr_store/$f" "$jr_sync/$f" || return 1; done
}
firsts=(sub/inner.txt); for i in $(seq -w 1 12); do firsts+=("f$i.txt"); done
jr_start_programs
jr_expect_wait 60 "every ordinary file arrives after the refused ones" all_arrived "${firsts[@]}"

echo "== refused files added while the client is connected"
jr_put store "1-drawing.psd" 200000
jr_write store "e:f.txt" "yet another colon"
seconds=(); for i in $(seq -w 1 8); do jr_write store "g$i.txt" "later file $i"; seconds+=("g$i.txt"); done
jr_fault_over
jr_expect_wait 60 "every ordinary file added later arrives" all_arrived "${seconds[@]}"
jr_expect "the refused files stay out of the sync folder" \
  bash -c "[ -z \"\$(find '$jr_sync' -name '*.psd' -o -name '*:*')\" ]"
jr_verify
jr_expect "the client kept one connection throughout (no time-out)" \
  test "$(grep -c 'Connected to Korvalinq Server!' "$jr_clog")" -eq 1
jr_end
