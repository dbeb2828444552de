#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and builds examples/detect.c against
# it twice, through pkg-config and through find_package(Vantrel), then runs both against
# the stand-in reader. Usage: check_install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build="$1"
source="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || {
  cat "$work/install.log"; fail "cmake --install"; }
libdir="$(dirname "$(find "$prefix" -name 'libVantrel.so.*.*.*' | head -n 1)")"
[ -d "$libdir" ] || fail "no versioned libVantrel in $prefix"
for f in "$prefix/include/vantrel/vantrel.h" "$libdir/pkgconfig/vantrel.pc" \
         "$libdir/cmake/Vantrel/VantrelConfig.cmake" "$prefix/bin/vantrel" \
         "$prefix/lib/udev/rules.d/60-vantrel.rules"; do
  [ -e "$f" ] || fail "missing $f"
done
# The link chain: libVantrel.so -> libVantrel.so.MAJOR -> libVantrel.so.FULL, and the
# soname names the major version.
major="$(readlink "$libdir/libVantrel.so")"
[[ "$major" =~ ^libVantrel\.so\.[0-9]+$ ]] || fail "libVantrel.so points at '$major'"
[[ "$(readlink "$libdir/$major")" =~ ^$major\.[0-9]+\.[0-9]+$ ]] || fail "$major is not a link to the full version"
readelf -d "$libdir/libVantrel.so" | grep -q "Library soname: \[$major\]" || fail "soname is not $major"

export VANTREL_SIMULATOR=disk LD_LIBRARY_PATH="$libdir"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
cc -Wall -Wextra -Werror -o "$work/detect_pc" "$source/examples/detect.c" \
  $(pkg-config --cflags --libs vantrel) || fail "build through pkg-config"
"$work/detect_pc" | tee "$work/pc.out"
grep -q "^reader on port 0" "$work/pc.out" || fail "pkg-config build did not find the stand-in"

cmake -S "$source/examples" -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER_LAUNCHER= >"$work/configure.log" || {
  cat "$work/configure.log"; fail "find_package(Vantrel)"; }
cmake --build "$work/example" >"$work/build.log" || { cat "$work/build.log"; fail "build through find_package"; }
"$work/example/detect" | tee "$work/cmake.out"
grep -q "^reader on port 0" "$work/cmake.out" || fail "find_package build did not find the stand-in"

# The installed command-line program finds its library without LD_LIBRARY_PATH.
env -u LD_LIBRARY_PATH "$prefix/bin/vantrel" detect >/dev/null || fail "installed vantrel detect"
echo "ok: installed, built through pkg-config and find_package"
