#!/usr/bin/env bash
# linked_folder.sh: the user links a folder and a file into the sync folder
# (ln -s ~/projects Sync/projects), and a program leaves a FIFO there. Links
# and special files are never synchronised (a FIFO is never opened: the client
# would hang in open()): the client
# logs each once, never lists or uploads them, and refuses every server order
# that would write, delete or move through them. The administrator adds and
# deletes store files under the same names, and the sync folder is moved away
# and back; the link targets stay untouched and nothing of them reaches the store.
# Usage: tests/journeys/linked_folder.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"

home=$kq_scratch/home
mkdir -p "$home/projects/src"
printf 'project plan' >"$home/projects/plan.txt"
printf 'int main() {}' >"$home/projects/src/main.c"
printf 'root:secret' >"$home/shadow"
# The names of the links are never synchronised: the store may hold other files there.
jr_ignore_re+='|^projects(/|$)|^shadow$|^pipe$'
targets() { (cd "$home" && find . -printf '%y %p %s\n' -type f -exec sha256sum {} + | LC_ALL=C sort); }
before=$(targets)

jr_write store docs/report.txt "the report"
jr_write sync mine.txt "the user's own file"
ln -s "$home/projects" "$jr_sync/projects"
ln -s "$home/shadow" "$jr_sync/shadow"
mkfifo "$jr_sync/pipe"
jr_start

links_intact() {
  [ -L "$jr_sync/projects" ] && [ -L "$jr_sync/shadow" ] && [ "$(targets)" = "$before" ]
}
nothing_of_them_in_store() {
  local sha
  for sha in $(cd "$home" && find . -type f -exec sha256sum {} + | cut -c1-64); do
    find "$jr_store" -type f ! -path '*/.kqsyncd*' -exec sha256sum {} + | grep -q "^$sha" && return 1
  done
  absent "$jr_store/projects" && absent "$jr_store/shadow"
}
jr_expect "the linked folder is logged once as not synchronised" \
  test "$(grep -c "Name not synchronised: .*projects (a link; not synchronised)" "$jr_clog")" = 1
jr_expect "the linked file is logged once as not synchronised" \
  test "$(grep -c "Name not synchronised: .*shadow (a link; not synchronised)" "$jr_clog")" = 1
jr_expect "nothing of the link targets reaches the store" nothing_of_them_in_store
jr_expect "the FIFO is logged once as not synchronised" \
  test "$(grep -c "Name not synchronised: .*pipe (not a regular file" "$jr_clog")" = 1
jr_expect "the FIFO does not reach the store" absent "$jr_store/pipe"

echo "== the administrator adds files under the linked names"
jr_write store projects/new.txt "written into the store"
jr_write store projects/src/main.c "the store's main.c"
jr_write store shadow "the store's shadow"
jr_expect_wait 60 "the push into the linked folder is refused" \
  log_has "$jr_clog" 'Refused server path \/projects\/new.txt: a link; not synchronised'
jr_expect_wait 60 "the push onto the linked file is refused" \
  log_has "$jr_clog" 'Refused server path \/shadow: a link; not synchronised'
jr_expect "the link targets are untouched" links_intact
jr_expect "the FIFO is still a FIFO" test -p "$jr_sync/pipe"

echo "== the administrator deletes them again"
# Their contents are the administrator's to lose. The sync folder shows, through
# its links, the user's own main.c and shadow, which no store deletion touches.
jr_rm store projects/new.txt
for f in projects/src/main.c shadow; do
  jr_replacing store "$f"
  rm -f "$jr_store/$f"
done
rm -rf "$jr_store/projects"
jr_write store docs/after.txt "a later change, to see a cycle through"
jr_expect_wait 60 "a later store change arrives" test -f "$jr_sync/docs/after.txt"
jr_expect "the link targets are untouched" links_intact

echo "== the sync folder is moved away, then back"
mv -T "$jr_sync" "$jr_sync.away"
sleep 12
mv -T "$jr_sync.away" "$jr_sync" || jr_abort "cannot put the sync folder back"
jr_fault_over
jr_verify
jr_expect "the link targets are untouched" links_intact
jr_expect "nothing of the link targets reaches the store" nothing_of_them_in_store
jr_end
