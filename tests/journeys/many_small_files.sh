#!/usr/bin/env bash
# many_small_files.sh: the administrator puts 10,000 small files (4 KiB each,
# in ten folders) into the store while the machine is busy: busy loops run at
# normal priority beside the programs for the whole journey (4 of them, the
# runner's KQ_CPU_HOG loops counted in). Every file must reach the sync folder
# byte for byte. The bound is generous (20 minutes, and no new file for 3
# minutes on end is a stall): this detects a transfer that hangs, it does not
# measure speed. The time taken is printed.
# Usage: tests/journeys/many_small_files.sh [SCRATCH_FOLDER]
#   (KQ_MANY_FILES=N for another number of files, a multiple of 10)
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"
files=${KQ_MANY_FILES:-10000}
folders=10
per_folder=$((files / folders))
limit_s=1200
stall_s=180

kq_hog_start $((4 - ${KQ_CPU_HOG_RUNNING:-0}))
jr_write store readme.txt "ten folders of small files follow"
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
# The record: each file is the administrator's write in the store.
(cd "$stage" && find . -type f -printf '%P\n' | sed "s|^|$stage/|" | jr_hash_list) |
  awk -F'\t' -v p="$stage/" '{sub("^" p, "", $2); print $1 "\t4096\tstore\t" $2 >>"'"$jr_rec/seen.tsv"'"
                              print "write\tstore\t" $2 "\t" $1 >>"'"$jr_rec/events.tsv"'"}'

echo "== the files go into the store, a folder at a time"
start=$SECONDS
for ((d = 0; d < folders; d++)); do mv "$stage/d$d" "$jr_store/d$d"; done

# arrived: how many of the files are in the sync folder whole (4 KiB; their
# content is compared once all are there).
arrived() { find "$jr_sync" -path "$jr_sync/d*" -name 'f*.dat' -type f -size 4096c 2>/dev/null | wc -l; }
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
  for ((d = 0; d < folders; d++)); do diff -rq "$jr_store/d$d" "$jr_sync/d$d" >/dev/null || return 1; done
}
jr_expect "every file is byte for byte the store's" same_folders
jr_expect "no partial file is left in the sync folder" test -z "$(find "$jr_sync" -name '*.kqpart')"
# The checker hashes each file once and keeps the hash: done here, the time it
# takes on a busy machine does not count against the 60 s the sides have to agree.
jr_agree || true
jr_fault_over
jr_verify
jr_end
