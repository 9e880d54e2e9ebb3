#!/usr/bin/env bash
# wine-test.sh BUILD EXE [ARGS...]: runs a Windows test executable under Wine in
# the build's own prefix and ends the prefix's processes afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1; shift
source scripts/wine-env.sh "$build"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
status=0
wine "$@" 2> >(grep -v 'wine32 is missing\|multiarch\|dpkg --add-architecture\|apt-get install wine32' >&2) || status=$?
exit $status
