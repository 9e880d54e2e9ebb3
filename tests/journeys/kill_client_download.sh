#!/usr/bin/env bash
# kill_client_download.sh: the client is killed (kill -9, as in a power cut)
# while it receives a new 300 MB version of a file it already holds, and is
# started again. Until the new version is complete the older copy stays; the
# cut-off data never reaches the store; after the restart the new version
# arrives whole.
# Usage: tests/journeys/kill_client_download.sh [SCRATCH_FOLDER]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
jr_begin "$@"
size=300000000

jr_put store big.bin 1000000
jr_write store other.txt "a small file beside it"
jr_start
old_big=$(jr_hash "$jr_sync/big.bin")

echo "== the client is killed in the middle of the download"
jr_put store big.bin $size
new_big=$jr_put_sha
jr_wait_fast 60 "the download is under way" jr_receiving sync big.bin $((16 << 20)) $size ||
  jr_abort "the download was not seen under way"
jr_kill_client
echo "   killed the client with $(jr_size "$jr_sync/big.bin.kqpart") bytes in big.bin.kqpart, $(jr_size "$jr_sync/big.bin") in big.bin"
jr_expect "the older copy stays in place while the new one is incomplete" \
  jr_is sync big.bin "$old_big"
jr_write sync meanwhile.txt "written while the client was down"
jr_restart_client
jr_fault_over
jr_expect_arrival "the new version arrives whole" sync big.bin "$new_big"
jr_expect "the store still holds the new version" jr_is store big.bin "$new_big"
jr_verify
jr_end
