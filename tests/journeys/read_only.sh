#!/usr/bin/env bash
# read_only.sh: the sync folder becomes read-only (a read-only mount put over
# it: the client keeps its log open for writing, so its disk cannot be
# remounted read-only under it, as with any program writing there)
# while the administrator edits a store file and adds another. Nothing is
# lost, the server does not push the same file again at every cycle while the
# client cannot write it, and once the folder is writable again both arrive.
# Usage: tests/journeys/read_only.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"

mount -t tmpfs -o size=64m kq-sync-disk "$jr_sync" || jr_abort "cannot mount a disk for the sync folder"
jr_write store a.txt "first version"
jr_write sync mine.txt "the user's own file"
jr_start

sleep 3  # the first transfers are some seconds old: the edits below do not race them
echo "== the sync folder is read-only for 15 s"
# The client is stopped while it waits in its event loop: a file it opened
# for writing through the new mount would make the remount fail (busy).
jr_pause_waiting client
{ mount --bind "$jr_sync" "$jr_sync" && mount -o remount,bind,ro "$jr_sync"; } ||
  jr_abort "cannot make the sync folder read-only"
jr_resume client
lines_before=$(wc -l <"$jr_slog")
jr_write store a.txt "second version, longer"
a_v2=$(jr_hash "$jr_store/a.txt")
jr_write store new.txt "a new store file"
# pushes: the server's attempts to push new.txt since the fault began (a line
# that only says an earlier push did not take is no attempt).
pushes() { tail -n +"$((lines_before + 1))" "$jr_slog" | grep -E 'push(ed| of) /new\.txt' | grep -vc 'did not take'; }
tried() { [ "$(pushes)" -gt 0 ]; }
kq_wait 30 "the server tries to push new.txt" tried || jr_abort "no push of new.txt"
tried_at=$SECONDS
sleep 15  # the fault lasts; the server goes on cycling meanwhile
cycles=$((SECONDS - tried_at))
echo "   pushes of new.txt in the $cycles s after the first: $(($(pushes) - 1))"
jr_expect "new.txt is not pushed at every cycle while the folder cannot take it" test $(($(pushes) - 1)) -le $((cycles / 3))
jr_expect "the user's file is still there" has_text "$jr_sync/mine.txt" "the user's own file"

umount -l "$jr_sync" || jr_abort "cannot make the sync folder writable again"
jr_fault_over
jr_verify
# The client could not have changed a.txt: the administrator's edit stands.
jr_expect "the administrator's edit of a.txt is in the store" jr_is store a.txt "$a_v2"
jr_expect "the administrator's edit of a.txt is in the sync folder" jr_is sync a.txt "$a_v2"
jr_end
