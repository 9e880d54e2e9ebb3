#!/usr/bin/env bash
# test-all.sh sets up the machine and runs every test suite: native unit,
# server and process tests, the unit and server tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, the fuzz targets for a bounded
# time, and the unit tests as Windows executables under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

section() { printf '\n==== %s ====\n' "$*"; }

section "native build"
bash scripts/build.sh native
section "native tests"
ctest --test-dir build/native --output-on-failure -j 2

section "sanitizer build (ASan + UBSan)"
bash scripts/build.sh asan
section "sanitizer tests"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/asan --output-on-failure -R '^(unit|kqsyncd)$'

section "end-to-end synchronisation (kqsyncd + kqfilesync + zrservice)"
bash scripts/e2e.sh
section "fault journeys under a busy CPU (nothing lost, both sides agree afterwards)"
# One busy loop beside the journeys: they must hold on a loaded machine, not
# only on an idle one (many_small_files adds busy loops of its own).
KQ_CPU_HOG=${KQ_CPU_HOG:-1} bash scripts/journeys.sh

section "cluster journeys: two kqsyncd nodes on PostgreSQL behind a load balancer, under a busy CPU"
KQ_CPU_HOG=${KQ_CPU_HOG:-1} bash scripts/cluster-test.sh

section "fuzzing (libFuzzer, clang, ASan + UBSan)"
bash scripts/fuzz.sh "${KQ_FUZZ_SECONDS:-60}"

section "windows build (mingw-w64)"
bash scripts/build.sh win
section "windows unit tests under wine"
bash scripts/wine-test.sh build/win build/win/kq_unit_tests.exe
section "windows watcher under wine: the sync folder moved, deleted, unmounted"
(source scripts/wine-env.sh build/win && status=0 &&
  { python3 tests/integration/zrservice_test.py "$PWD/build/win/services/zrservice.exe" SyncFolderAwayTest ||
    status=$?; } && { wineserver -k 2>/dev/null || true; } && exit $status)
section "windows client system test under wine"
bash scripts/win-system-test.sh build/win
section "windows client names and long paths against kqsyncd under wine"
bash scripts/win-names-test.sh build/win
section "windows installation journey under wine"
bash scripts/win-install-test.sh

if [ -x scripts/test-extra.sh ]; then
  section "further suites"
  bash scripts/test-extra.sh
fi
section "all tests passed"
