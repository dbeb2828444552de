#!/usr/bin/env bash
# Installs the Debian packages the build needs, when any is missing. Needs root (or sudo).
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev
          libbenchmark-dev qtbase5-dev fonts-wqy-microhei
          libpng-dev python3 python3-pytest python3-numpy python3-setuptools python3-pip)
# scripts/deps.sh windows: the cross compilers, GoogleTest's sources, Wine and a display
# for the Windows build and its tests.
if [ "${1:-}" = windows ]; then
  packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix googletest wine wine64
             xvfb xauth)
fi
packages+=(clang-14 libclang-rt-14-dev)  # the fuzz and thread-sanitizer builds
packages+=(ccache)  # used by the builds when present
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
