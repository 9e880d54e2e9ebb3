#!/usr/bin/env bash
# journeys.sh: the fault journeys (tests/journeys/*.sh), each with the real
# kqsyncd, kqfilesync and zrservice in a network and mount namespace of its
# own, two at a time. Each journey injects one fault (a full or read-only
# disk, a killed client, a vanished sync folder or store, refused names, a
# cut connection, edits racing the synchronisation, 10,000 small files pushed
# while busy loops take the CPU) and then the shared
# checker requires that nothing was lost, nothing was deleted that nobody
# deleted, and store and sync folder agree within 60 s after the fault.
# Prints one line per journey; a failed journey's log and folder are kept.
# Exits non-zero when any journey fails or anything is left behind.
# Needs root (namespaces, mounts). Programs from build/native, or $KQSYNCD,
# $KQFILESYNC, $ZRSERVICE.
# Usage: scripts/journeys.sh [SCRATCH_FOLDER] [JOURNEY...]   (default: all)
#   KQ_CPU_HOG=N: N busy loops at normal priority beside the whole run (none
#   unless asked; many_small_files always has 4, these counted in).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/e2e/lib.sh"
kq_check_programs || exit 1
kq_hog_for_run journeys
[ "$(id -u)" -eq 0 ] || { echo "journeys: root is needed (namespaces and mounts)" >&2; exit 1; }
scratch=${1:-$(mktemp -d /tmp/kq-journeys.XXXXXX)}
shift $(($# > 0 ? 1 : 0))
mkdir -p "$scratch"
journeys=("$@")
if [ ${#journeys[@]} -eq 0 ]; then
  # The longest first (10,000 files under a busy CPU, a few minutes), so that
  # the others run beside it.
  journeys=(many_small_files)
  for f in "$here"/../tests/journeys/*.sh; do
    case $(basename "$f" .sh) in lib | many_small_files) ;; *) journeys+=("$(basename "$f" .sh)") ;; esac
  done
fi
parallel=${KQ_JOURNEYS_PARALLEL:-2}

declare -A name_of=() started=()
running=0 failed=()
finish_one() {  # NAME STATUS
  local name=$1 status=$2 took=$((SECONDS - started[$1]))
  if [ "$status" -eq 0 ]; then
    echo "==== $name passed in $took s"
    rm -rf "${scratch:?}/$name" "$scratch/$name.log"
  else
    echo "==== $name FAILED after $took s; log $scratch/$name.log, folders $scratch/$name" >&2
    grep '^FAILED' "$scratch/$name.log" | sed 's/^/     /' >&2
    find "$scratch/$name" -type f -size +16M -delete 2>/dev/null  # keep the logs, not the data
    failed+=("$name")
  fi
}
reap() {  # waits for one running journey to end
  local pid status
  wait -n -p pid
  status=$?
  running=$((running - 1))
  finish_one "${name_of[$pid]}" $status
}

start=$SECONDS
for name in "${journeys[@]}"; do
  script=$here/../tests/journeys/$name.sh
  [ -f "$script" ] || { echo "journeys: no journey $name" >&2; failed+=("$name"); continue; }
  while [ $running -ge "$parallel" ]; do reap; done
  echo "==== $name started"
  started[$name]=$SECONDS
  bash "$script" "$scratch/$name" >"$scratch/$name.log" 2>&1 &
  name_of[$!]=$name
  running=$((running + 1))
done
while [ $running -gt 0 ]; do reap; done

# Nothing may outlive the run: no program started from the scratch folder.
left=""
for pid in $(pgrep -x kqsyncd; pgrep -x kqfilesync; pgrep -x zrservice); do
  if tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "$scratch" ||
     [[ "$(readlink "/proc/$pid/cwd" 2>/dev/null)" == "$scratch"/* ]]; then
    left+=$'\n'"$pid $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"
  fi
done
if [ -n "$left" ]; then
  echo "FAILED: processes left behind:$left" >&2
  failed+=(leftovers)
fi

echo "journeys: ${#journeys[@]} run in $((SECONDS - start)) s"
if [ ${#failed[@]} -ne 0 ]; then
  echo "journeys: FAILED: ${failed[*]} (logs in $scratch)" >&2
  exit 1
fi
rmdir "$scratch" 2>/dev/null || true
echo "journeys: all passed"
