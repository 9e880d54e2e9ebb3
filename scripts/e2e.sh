#!/usr/bin/env bash
# e2e.sh: end-to-end synchronisation with real processes on loopback: kqsyncd,
# kqfilesync and zrservice (watcher port 127.0.0.1:11111). Runs, one after the
# other:
#   tests/e2e/one_client.sh   store -> empty folder; edits, deletions under each
#                             deletion policy, file and folder renames, excluded
#                             and non-ASCII names, both ways
#   tests/e2e/large_file.sh   1 GiB each way, the server killed mid-transfer,
#                             SHA-256 equal, peak memory of both processes bounded
#   tests/e2e/two_clients.sh  folder -> empty store; two clients converge (the
#                             second in a network namespace of its own)
#   tests/e2e/store_safety.sh the store folder renamed away, and its disk
#                             unmounted, for a while deletes nothing; a version
#                             listed and restored through the command line
#                             reaches the client (own network and mount namespace)
#   tests/e2e/refused_names.sh files the client refuses (exception list, names
#                             it cannot hold) followed by files that must arrive
#   tests/e2e/code_pages.sh   clients of code page 1251: Cyrillic names both ways,
#                             names outside the page or invalid on Windows reported
# Exits non-zero when any of them fails; leaves no process or namespace behind.
# Needs root (network namespaces) and about 5 GB free in the scratch folder.
# Usage: scripts/e2e.sh [SCRATCH_FOLDER]   (programs from build/native, or
# $KQSYNCD, $KQFILESYNC, $ZRSERVICE; KQ_E2E_LARGE_MB shrinks the large file;
# KQ_CPU_HOG=N runs N busy loops at normal priority beside the whole run)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/e2e/lib.sh"
kq_check_programs || exit 1
kq_hog_for_run e2e
scratch=${1:-$(mktemp -d /tmp/kq-e2e.XXXXXX)}
mkdir -p "$scratch"

failed=()
for t in one_client large_file two_clients store_safety refused_names code_pages; do
  echo "==== $t"
  start=$SECONDS
  if bash "$here/../tests/e2e/$t.sh" "$scratch/$t"; then
    echo "==== $t passed in $((SECONDS - start)) s"
    rm -rf "${scratch:?}/$t"
  else
    echo "==== $t FAILED after $((SECONDS - start)) s; logs in $scratch/$t" >&2
    find "$scratch/$t" -type f -size +64M -delete 2>/dev/null  # keep the logs, not the data
    failed+=("$t")
  fi
done

# Nothing may outlive the run: no program started from the scratch folder and
# no namespace of ours.
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
if ip netns list 2>/dev/null | grep -q '^kqe2e'; then
  echo "FAILED: network namespaces left behind: $(ip netns list | grep '^kqe2e')" >&2
  failed+=(namespaces)
fi

if [ ${#failed[@]} -ne 0 ]; then
  echo "e2e: FAILED: ${failed[*]}" >&2
  exit 1
fi
rmdir "$scratch" 2>/dev/null || true
echo "e2e: all passed"
