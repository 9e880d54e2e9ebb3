#!/usr/bin/env bash
# install-deps.sh installs every package the build and the tests need, from the
# distribution's repositories only. Idempotent: quiet when everything is present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth
  nlohmann-json3-dev googletest libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev sqlite3 libssl-dev
  rsync time
  clang libclang-rt-14-dev
  python3 procps iproute2
  imagemagick x11-apps xdotool
)

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
