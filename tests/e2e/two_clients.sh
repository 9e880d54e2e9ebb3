#!/usr/bin/env bash
# two_clients.sh: a populated sync folder fills an empty store, and two clients
# of one contract converge. Each client needs its own watcher port
# 127.0.0.1:11111, so the second client and its zrservice run in a network
# namespace of their own, joined to this one by a veth pair; kqsyncd listens
# on this side of the pair and both clients connect to that address.
# Needs root and iproute2; fails (does not skip) when namespaces are impossible.
# Usage: tests/e2e/two_clients.sh [SCRATCH_FOLDER]
set -euo pipefail
source "$(dirname "$0")/lib.sh"
kq_isolate "$0" "$@"  # a network namespace of its own: the watcher port is not shared
kq_check_programs
kq_scratch=${1:-$(mktemp -d /tmp/kq-e2e-two.XXXXXX)}
trap kq_finish EXIT
wait_s=${KQ_E2E_WAIT:-45}

ns=kqe2e$$
kq_netns_create "$ns" 77
host=10.213.77.1
data=$kq_scratch/data store=$kq_scratch/store a=$kq_scratch/syncA b=$kq_scratch/syncB
mkdir -p "$a" "$b/sub"
"$KQSYNCD" --data "$data" account add --contract 7303 --key E2EKEY7303 --store "$store" >/dev/null

echo "== a populated sync folder reaches an empty store, then the other client"
echo "from B" >"$b/b1.txt"
echo "nested" >"$b/sub/b2.txt"
echo "ändern" >"$b/sub/Größe.txt"
kq_start_server "$data" "$host"
kq_start_client "$kq_scratch/progB" "$b" 7303 E2EKEY7303 "$host" "$ns"
kq_wait "$wait_s" "B's files reach the empty store" has_text "$store/b1.txt" "from B"
kq_wait 20 "B's nested files reach the store" bash -c "[ -f '$store/sub/b2.txt' ] && [ -f '$store/sub/Größe.txt' ]"
kq_start_client "$kq_scratch/progA" "$a" 7303 E2EKEY7303 "$host"
kq_wait "$wait_s" "B's files reach client A" bash -c "[ -f '$a/b1.txt' ] && [ -f '$a/sub/b2.txt' ] && [ -f '$a/sub/Größe.txt' ]"

echo "== changes on either client reach the other"
echo "from A" >"$a/a1.txt"
kq_wait 40 "a file written at A reaches B" has_text "$b/a1.txt" "from A"
echo "edited at B" >"$b/sub/b2.txt"
kq_wait 40 "an edit at B reaches A" has_text "$a/sub/b2.txt" "edited at B"
rm "$b/b1.txt"
kq_wait 40 "a deletion at B reaches A (into its trash)" has_text "$a/_trash/b1.txt" "from B"
kq_check "the deleted file is gone at A" absent "$a/b1.txt"
mv "$a/sub" "$a/moved"
kq_wait 40 "a folder rename at A reaches B" has_text "$b/moved/b2.txt" "edited at B"
kq_wait 20 "the old folder is gone at B" absent "$b/sub"

echo "== everything converged"
listing() { (cd "$1" && find . -path ./_log -prune -o -path ./_config -prune -o -path ./_trash -prune -o -path ./.kqsyncd.tmp -prune -o -path ./.kqsyncd~store -prune -o -print | sort); }
same_tree() { [ "$(listing "$store")" = "$(listing "$a")" ] && [ "$(listing "$store")" = "$(listing "$b")" ]; }
kq_wait 20 "store, A and B hold the same names" same_tree
for f in a1.txt moved/b2.txt "moved/Größe.txt"; do
  kq_check "$f is equal everywhere" bash -c "cmp -s '$store/$f' '$a/$f' && cmp -s '$store/$f' '$b/$f'"
done
kq_check "no conflict copies" test -z "$(find "$store" "$a" "$b" -name '*conflict*')"

kq_stop_all
kq_netns_cleanup
kq_check "the namespace is gone" bash -c "! ip netns list | grep -qw '$ns'"
echo "two_clients: all passed"
