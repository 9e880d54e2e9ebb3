#!/usr/bin/env bash
# fuzz.sh [SECONDS]: builds the libFuzzer targets with clang under build/fuzz and
# runs each for SECONDS (default 60) from a copy of its seed corpus. Fails on
# any crash, leak or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=${KQ_JOBS:-$(nproc)}
targets=(filesync_read watcher_read server_wire)
# Extra libFuzzer flags per target: the server must never allocate for bytes
# that did not arrive, so a large allocation is a finding there.
declare -A extra=([server_wire]="-malloc_limit_mb=64")

CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKQ_FUZZ=ON -DKQ_BENCH=OFF >/dev/null
cmake --build build/fuzz -j "$jobs" --target "${targets[@]/#/fuzz_}"

status=0
for target in "${targets[@]}"; do
  work="build/fuzz/run/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp tests/fuzz/corpus/"$target"/* "$work/corpus/"
  echo "== fuzz_$target for ${seconds}s"
  if ! UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ASAN_OPTIONS=detect_leaks=1 \
      "build/fuzz/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 ${extra[$target]:-} \
      -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" \
      >"$work/log.txt" 2>&1; then
    echo "fuzz_$target FAILED; see $work/log.txt and $work/artifacts/"
    tail -40 "$work/log.txt"
    status=1
  elif grep -qE "runtime error:|ERROR: (Address|Leak|Undefined)Sanitizer" "$work/log.txt"; then
    echo "fuzz_$target reported a sanitizer finding; see $work/log.txt"
    status=1
  else
    grep -E "stat::number_of_executed_units|Done" "$work/log.txt" | tail -2
  fi
done
exit $status
