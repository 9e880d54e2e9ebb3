#!/usr/bin/env bash
# store_safety.sh: one kqsyncd, one kqfilesync and its zrservice in network and
# mount namespaces of their own; the store lies on a "disk" (a bind mount). The
# store folder goes missing for several cycles (renamed away, then an empty
# folder in its place) and comes back; then the disk is unmounted for several
# cycles and mounted again: nothing is deleted on the client or in the store,
# and each change of state is logged once. Then a file the user overwrote is
# found among the versions (kqsyncd versions list) and put back (versions
# restore), and the restored content reaches the sync folder.
# Usage: tests/e2e/store_safety.sh [SCRATCH_FOLDER]   (needs root: unshare -n -m)
set -euo pipefail
if [ -z "${KQ_E2E_NAMESPACES:-}" ]; then
  exec unshare -n -m env KQ_E2E_NAMESPACES=1 bash "$0" "$@"
fi
ip link set lo up
mount --make-rprivate /
source "$(dirname "$0")/lib.sh"
kq_check_programs
kq_scratch=${1:-$(mktemp -d /tmp/kq-e2e-store.XXXXXX)}
trap kq_finish EXIT
wait_s=${KQ_E2E_WAIT:-45}  # the client's first attempt comes 10 s after its start

data=$kq_scratch/data disk=$kq_scratch/disk volume=$kq_scratch/volume sync=$kq_scratch/sync
store=$volume/store
slog=$data/kqsyncd.log clog=$sync/_log/Filesync.log
mkdir -p "$kq_scratch" "$sync" "$disk" "$volume"
mount --bind "$disk" "$volume"
"$KQSYNCD" --data "$data" account add --contract 7302 --key E2EKEY7302 --store "$store" >/dev/null
kq_check "account add leaves the marker file in the store" test -f "$store/.kqsyncd~store"

mkdir -p "$store/docs/deep"
echo "alpha" >"$store/a.txt"
echo "report, first draft" >"$store/docs/report.txt"
echo "deep" >"$store/docs/deep/d.txt"
head -c 1000000 /dev/urandom >"$store/big.bin"
kq_start_server "$data"
kq_start_client "$kq_scratch/prog" "$sync" 7302 E2EKEY7302
kq_wait "$wait_s" "store files reach the sync folder" same_content "$store/big.bin" "$sync/big.bin"
kq_wait 20 "nested files arrive" same_content "$store/docs/deep/d.txt" "$sync/docs/deep/d.txt"

count() { grep -cF -- "$2" "$1" || true; }

echo "== the store folder goes missing for a while"
mv "$store" "$volume/store-away"
kq_wait 20 "kqsyncd says the store is missing" log_has "$slog" "is not available (missing)"
kq_wait_cycles "$clog" 3  # several cycles without the store
mkdir "$store"  # the empty mount point of a disk that is not mounted
kq_wait 20 "kqsyncd says the empty folder is not the store" log_has "$slog" "is not available (no marker file .kqsyncd~store)"
kq_wait_cycles "$clog" 3
mv -T "$volume/store-away" "$store"  # one rename takes the empty folder's place: never missing between
kq_wait 20 "kqsyncd says the store is back" log_has "$slog" "is available again; synchronisation resumes"
kq_wait_cycles "$clog" 3  # a few cycles with the store back
kq_check "the missing store was logged once" test "$(count "$slog" "is not available (missing)")" -eq 1
kq_check "the empty folder was logged once" test "$(count "$slog" "is not available (no marker")" -eq 1
kq_check "the return was logged once" test "$(count "$slog" "is available again")" -eq 1
kq_check "no deletion was ordered on the client" test "$(count "$slog" " on the client")" -eq 0
kq_check "no deletion was picked up in the store" test "$(count "$slog" "picked up deletion")" -eq 0
for f in a.txt docs/report.txt docs/deep/d.txt big.bin; do
  kq_check "$f is still on both sides" same_content "$store/$f" "$sync/$f"
done
echo "after the return" >"$store/later.txt"
kq_wait 30 "a new store file reaches the sync folder again" has_text "$sync/later.txt" "after the return"

echo "== the store's disk is unmounted for a while"
umount "$volume"
kq_wait 20 "kqsyncd says the store is missing again" \
  bash -c "[ \"\$(grep -cF 'is not available (missing)' '$slog')\" -eq 2 ]"
kq_wait_cycles "$clog" 3  # several cycles without the disk
mount --bind "$disk" "$volume"
kq_wait 20 "kqsyncd says the store is back again" \
  bash -c "[ \"\$(grep -cF 'is available again' '$slog')\" -eq 2 ]"
kq_wait_cycles "$clog" 3
kq_check "the unmounted disk was logged once" test "$(count "$slog" "is not available (missing)")" -eq 2
kq_check "still no deletion ordered on the client" test "$(count "$slog" " on the client")" -eq 0
kq_check "still no deletion picked up in the store" test "$(count "$slog" "picked up deletion")" -eq 0
for f in a.txt docs/report.txt docs/deep/d.txt big.bin later.txt; do
  kq_check "$f is still on both sides" same_content "$store/$f" "$sync/$f"
done

echo "== a version of an overwritten file is listed and restored"
sleep 2  # a new second for the edit
echo "report, second draft (longer)" >"$sync/docs/report.txt"
kq_wait 30 "the edit reaches the store" has_text "$store/docs/report.txt" "report, second draft (longer)"
listed=$("$KQSYNCD" --data "$data" versions list --contract 7302 /docs)
echo "$listed"
first_hash=$(printf 'report, first draft\n' | sha256sum | cut -d' ' -f1)
kq_check "versions list shows the first draft" \
  bash -c "printf '%s\n' \"\$1\" | grep -qE \"^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z	20	$first_hash	/docs/report.txt\$\"" _ "$listed"
kq_check "versions list shows nothing else below /docs" test "$(printf '%s\n' "$listed" | wc -l)" -eq 1
"$KQSYNCD" --data "$data" versions restore --contract 7302 /docs/report.txt
kq_wait 30 "the restored first draft reaches the sync folder" has_text "$sync/docs/report.txt" "report, first draft"
kq_check "the second draft is a version now" \
  bash -c "'$KQSYNCD' --data '$data' versions list --contract 7302 /docs/report.txt | grep -q \"	$(printf 'report, second draft (longer)\n' | sha256sum | cut -d' ' -f1)	/docs/report.txt\$\""
kq_check "no conflict copy was made" bash -c "! ls '$store/docs' | grep -q conflict"

kq_stop "$kq_client_pid" "$kq_watcher_pid" "$kq_server_pid"
kq_forget "$kq_client_pid" "$kq_watcher_pid" "$kq_server_pid"
kq_check "kqsyncd logged a clean stop" log_has "$slog" "stopped"
echo "store_safety: all passed"
