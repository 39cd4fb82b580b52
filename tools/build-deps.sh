#!/bin/bash
# Cross-builds the third-party libraries from Debian source packages into a cache outside the
# work tree: Lua 5.2 (compiled as C++, plus a native 32-bit luac for the bytecode resources),
# the LZMA SDK C decoder, libcurl over Schannel and GoogleTest. The cache folder is keyed by the
# package versions and by this script, so a warm run only prints the prefix.
# usage: build-deps.sh            prints the prefix (last line of output)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache_root=${QEL_CACHE:-/var/cache/qelsetup}
toolchain=$here/../cmake/toolchain-i686-mingw.cmake
cc=i686-w64-mingw32-gcc-posix
cxx=i686-w64-mingw32-g++-posix
ar=i686-w64-mingw32-ar

source_version() { apt-cache showsrc "$1" | awk '/^Version:/ {print $2}' | sort -V | tail -1; }

lua_ver=$(source_version lua5.2)
sz_ver=$(source_version 7zip)
curl_ver=$(source_version curl)
gtest_ver=$(dpkg-query -W -f='${Version}' googletest)
mingw_ver=$($cxx -dumpversion)
key=$(printf '%s\n' "$lua_ver" "$sz_ver" "$curl_ver" "$gtest_ver" "$mingw_ver" "$(cat "$0" "$toolchain")" | sha256sum | cut -c1-16)
prefix=$cache_root/deps-$key

if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

mkdir -p "$cache_root"
work=$(mktemp -d "$cache_root/work.XXXXXX")
trap 'rm -rf "$work"' EXIT
rm -rf "$prefix"
mkdir -p "$prefix"/{include,lib,bin}
jobs=$(nproc)

fetch_source() {
  # prints the unpacked source folder of a Debian source package
  local pkg=$1
  (cd "$work" && flock /var/lock/qelsetup-apt.lock apt-get source -q "$pkg" >"$work/$pkg.log" 2>&1) \
    || { cat "$work/$pkg.log" >&2; return 1; }
  find "$work" -maxdepth 1 -type d -name "$pkg-*" | head -1
}

build_lua() {
  local src inc
  src=$(fetch_source lua5.2)/src
  inc=$work/lua-inc
  mkdir -p "$inc" "$work/lua-win" "$work/lua-host"
  printf '#define DEB_HOST_MULTIARCH "i386-linux-gnu"\n' > "$inc/lua5.2-deb-multiarch.h"
  local defs=(-DLUA_COMPAT_ALL -DLUA_USE_LONGLONG -D__USE_MINGW_ANSI_STDIO=1)
  local f objs=() host_objs=()
  for f in "$src"/*.c; do
    case $(basename "$f") in lua.c|luac.c) continue ;; esac
    local o=$work/lua-win/$(basename "$f" .c).o
    $cxx -x c++ -O2 "${defs[@]}" -I"$inc" -I"$src" -c "$f" -o "$o" &
    objs+=("$o")
    local h=$work/lua-host/$(basename "$f" .c).o
    gcc -m32 -O2 -DLUA_COMPAT_ALL -DLUA_USE_LONGLONG -I"$inc" -I"$src" -c "$f" -o "$h" &
    host_objs+=("$h")
  done
  wait
  $ar rcs "$prefix/lib/liblua52.a" "${objs[@]}"
  gcc -m32 -O2 -DLUA_COMPAT_ALL -DLUA_USE_LONGLONG -I"$inc" -I"$src" "$src/luac.c" "${host_objs[@]}" -lm -o "$prefix/bin/luac52-i386"
  mkdir -p "$prefix/include/lua"
  cp "$src"/{lua.h,luaconf.h,lualib.h,lauxlib.h} "$inc/lua5.2-deb-multiarch.h" "$prefix/include/lua/"
  # The library is compiled as C++, so its declarations keep C++ linkage: no extern "C" here.
  printf '#pragma once\n#include "lua.h"\n#include "lualib.h"\n#include "lauxlib.h"\n' > "$prefix/include/lua/lua.hpp"
}

build_lzma() {
  local src
  src=$(fetch_source 7zip)/C
  mkdir -p "$work/lzma" "$prefix/include/lzma"
  local f objs=()
  for f in 7zAlloc 7zArcIn 7zBuf 7zBuf2 7zCrc 7zCrcOpt 7zDec 7zFile 7zStream Bcj2 Bra Bra86 BraIA64 CpuArch Delta Lzma2Dec LzmaDec; do
    $cc -O2 -DZ7_EXTRACT_ONLY -c "$src/$f.c" -o "$work/lzma/$f.o" &
    objs+=("$work/lzma/$f.o")
  done
  wait
  $ar rcs "$prefix/lib/liblzmadec.a" "${objs[@]}"
  cp "$src"/*.h "$prefix/include/lzma/"
}

build_curl() {
  local src
  src=$(fetch_source curl)
  cmake -S "$src" -B "$work/curl-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DHTTP_ONLY=ON -DCURL_DISABLE_LDAP=ON \
    -DCURL_DISABLE_LDAPS=ON -DCURL_ZLIB=OFF -DUSE_LIBIDN2=OFF -DCURL_USE_LIBPSL=OFF \
    -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF -DUSE_NGHTTP2=OFF -DCURL_BROTLI=OFF \
    -DCURL_ZSTD=OFF -DENABLE_UNIX_SOCKETS=OFF >"$work/curl-config.log" 2>&1 \
    || { cat "$work/curl-config.log" >&2; return 1; }
  cmake --build "$work/curl-build" -j"$jobs" >"$work/curl-build.log" 2>&1 || { tail -50 "$work/curl-build.log" >&2; return 1; }
  cmake --install "$work/curl-build" >/dev/null
}

build_gtest() {
  cmake -S /usr/src/googletest -B "$work/gtest-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -Dgtest_disable_pthreads=OFF \
    >"$work/gtest-config.log" 2>&1 || { cat "$work/gtest-config.log" >&2; return 1; }
  cmake --build "$work/gtest-build" -j"$jobs" >"$work/gtest-build.log" 2>&1 || { tail -50 "$work/gtest-build.log" >&2; return 1; }
  cmake --install "$work/gtest-build" >/dev/null
}

echo "building dependencies into $prefix" >&2
build_lua
build_lzma
build_curl
build_gtest
printf 'lua5.2 %s\n7zip %s\ncurl %s\ngoogletest %s\nmingw %s\n' "$lua_ver" "$sz_ver" "$curl_ver" "$gtest_ver" "$mingw_ver" > "$prefix/VERSIONS"
touch "$prefix/.complete"
echo "$prefix"
