#!/usr/bin/env bash
# install-deps.sh installs every package the build and the tests need, from the
# distribution's repositories only. Idempotent: quiet when everything is present.
#
#   scripts/install-deps.sh               everything: the Linux programs, the
#                                         Windows build under Wine, the tests
#   scripts/install-deps.sh --linux-only  what building and testing kqfilesync,
#                                         zrservice and kqsyncd needs: no Wine,
#                                         mingw-w64, Xvfb, ImageMagick or clang
set -euo pipefail

linux_only=0
case "${1:-}" in
  "") ;;
  --linux-only) linux_only=1 ;;
  -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  *) echo "install-deps: unknown option $1 (try --help)" >&2; exit 2 ;;
esac

packages=(
  build-essential cmake ninja-build pkg-config
  nlohmann-json3-dev googletest libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev sqlite3 libssl-dev
  postgresql libpq-dev
  rsync time
  python3 procps iproute2 util-linux
)
if [ "$linux_only" -eq 0 ]; then
  packages+=(
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine wine64 xvfb xauth
    clang libclang-rt-14-dev
    imagemagick x11-apps xdotool
  )
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
