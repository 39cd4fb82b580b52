#!/bin/bash
# Sets up this machine (as root) and builds the project: Debian packages, 32-bit support for
# Wine, the cross-built dependencies, the template Wine prefix, then the build in build/.
# Warm runs skip every step whose result is already there. Prints the build folder (last line).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${QEL_BUILD_DIR:-$root/build}

step() { printf '== %s\n' "$*" >&2; }

step "packages"
bash "$here/install-packages.sh" >&2
step "32-bit support"
bash "$here/enable-i386.sh" >&2
step "dependencies"
export QEL_DEPS_PREFIX
QEL_DEPS_PREFIX=$(bash "$here/build-deps.sh" | tail -1)
step "template Wine prefix"
bash "$here/make-wine-template.sh" >/dev/null
step "build"
if [ ! -f "$build/build.ninja" ]; then
  mkdir -p "$build"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" \
    -DQEL_DEPS_PREFIX="$QEL_DEPS_PREFIX" >"$build/configure.log" 2>&1 || { cat "$build/configure.log" >&2; exit 1; }
fi
cmake --build "$build" >&2
echo "$build"
