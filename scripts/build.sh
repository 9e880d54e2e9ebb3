#!/usr/bin/env bash
# build.sh KIND: configures and builds one build tree under build/KIND.
#   native  - Linux, g++
#   asan    - Linux, g++ with AddressSanitizer and UndefinedBehaviorSanitizer
#   win     - Windows executables, mingw-w64 cross compiler
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-native}
jobs=${KQ_JOBS:-$(nproc)}
args=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
# ccache, where the machine has it, shares objects between work trees of one checkout.
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
  args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
case "$kind" in
  native) ;;
  asan) args+=(-DKQ_SANITIZE=ON -DKQ_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug) ;;
  win) args+=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -DKQ_BENCH=OFF) ;;
  *) echo "build.sh: unknown kind $kind" >&2; exit 2 ;;
esac
cmake -S . -B "build/$kind" "${args[@]}" >/dev/null
cmake --build "build/$kind" -j "$jobs"
