#!/usr/bin/env bash
# many_files_up.sh: the user copies 12,000 small files (4 KiB each, in ten
# folders) into the sync folder at once while the machine is busy (busy loops
# at normal priority beside the programs, as in many_small_files). The watcher
# reports them as fast as the client reads, merges nothing it must not and
# drops nothing: every file must reach the store byte for byte. The bound is
# generous (30 minutes, and no new file for 3 minutes on end is a stall). The
# time taken is printed.
# Usage: tests/journeys/many_files_up.sh [SCRATCH_FOLDER]
#   (KQ_MANY_FILES=N for another number of files, a multiple of 10)
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"
files=${KQ_MANY_FILES:-12000}  # more than the 10,000 reports a watcher queue once held
folders=10
per_folder=$((files / folders))
limit_s=1800
stall_s=180

kq_hog_start $((4 - ${KQ_CPU_HOG_RUNNING:-0}))
jr_write sync readme.txt "ten folders of small files follow"
jr_start

echo "== $files files of 4 KiB are prepared"
stage=$kq_scratch/staging/many
mkdir -p "$stage"
for ((d = 0; d < folders; d++)); do
  mkdir -p "$stage/d$d"
  head -c $((per_folder * 4096)) /dev/urandom | split -b 4096 -a 5 -d --additional-suffix=.dat - "$stage/d$d/f"
done
jr_expect "$files files of 4 KiB are prepared" \
  test "$(find "$stage" -type f -size 4096c | wc -l)" -eq "$files"
# The record: each file is the user's write in the sync folder.
(cd "$stage" && find . -type f -printf '%P\n' | sed "s|^|$stage/|" | jr_hash_list) |
  awk -F'\t' -v p="$stage/" '{sub("^" p, "", $2); print $1 "\t4096\tsync\t" $2 >>"'"$jr_rec/seen.tsv"'"
                              print "write\tsync\t" $2 "\t" $1 >>"'"$jr_rec/events.tsv"'"}'

echo "== the files are copied into the sync folder, all at once"
start=$SECONDS
cp -r "$stage"/d* "$jr_sync"/

# arrived: how many of the files are in the store whole (4 KiB; their content
# is compared once all are there).
arrived() { find "$jr_store" -path "$jr_store/d*" -name 'f*.dat' -type f -size 4096c 2>/dev/null | wc -l; }
last_count=-1 last_change=$SECONDS last_note=$SECONDS
while :; do
  n=$(arrived)
  [ "$n" -ne "$last_count" ] && last_count=$n last_change=$SECONDS
  [ "$n" -ge "$files" ] && break
  if [ $((SECONDS - start)) -ge $limit_s ]; then
    jr_abort "only $n of $files files arrived in $limit_s s"
  fi
  if [ $((SECONDS - last_change)) -ge $stall_s ]; then
    jr_abort "the transfer stalls: $n of $files files arrived, none in the last $stall_s s"
  fi
  if [ $((SECONDS - last_note)) -ge 30 ]; then echo "   $n of $files after $((SECONDS - start)) s"; last_note=$SECONDS; fi
  sleep 2
done
took=$((SECONDS - start))
echo "   all $files files arrived in $took s (load average $(cut -d' ' -f1-3 /proc/loadavg))"
jr_fault_over

same_folders() {
  local d
  for ((d = 0; d < folders; d++)); do diff -rq "$stage/d$d" "$jr_store/d$d" >/dev/null || return 1; done
}
jr_expect "every file is in the store byte for byte as copied" same_folders
# The checker hashes each file once and keeps the hash: done here, the time it
# takes on a busy machine does not count against the 60 s the sides have to agree.
jr_agree || true
jr_fault_over
jr_verify
jr_end
