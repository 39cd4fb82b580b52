#!/bin/bash
# Installs the Debian packages the build and the tests need (as root). Safe to run again:
# it does nothing when every package is already there.
set -euo pipefail

PACKAGES=(
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix
  wine wine32:i386 wine64 libgnutls30:i386 xvfb xauth xdotool imagemagick
  cmake ninja-build gcc-multilib dpkg-dev libz-mingw-w64-dev googletest 7zip
  fonts-wqy-microhei python3 python3-pytest python3-pefile liblnk-utils locales nsis
  qemu-user-static
)

have_all() {
  local p
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || return 1
  done
}

add_source_stanzas() {
  # apt-get source needs deb-src entries; they mirror the binary entries already configured.
  local out=/etc/apt/sources.list.d/qelsetup-deb-src.sources
  [ -f "$out" ] && return 0
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -e 's/^Types:.*$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > "$out"
  elif [ -f /etc/apt/sources.list ]; then
    grep -E '^deb ' /etc/apt/sources.list | sed -e 's/^deb /deb-src /' > /etc/apt/sources.list.d/qelsetup-deb-src.list
  fi
}

enable_zh_cn_locale() {
  locale -a 2>/dev/null | grep -qi '^zh_CN.utf8$' && return 0
  sed -i -e 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
}

main() {
  add_source_stanzas
  if ! have_all; then
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    export DEBIAN_FRONTEND=noninteractive
    flock /var/lock/qelsetup-apt.lock apt-get update -q
    flock /var/lock/qelsetup-apt.lock apt-get install -y -q --no-install-recommends "${PACKAGES[@]}"
  elif ! ls /var/lib/apt/lists/*Sources* >/dev/null 2>&1; then
    flock /var/lock/qelsetup-apt.lock apt-get update -q
  fi
  enable_zh_cn_locale
}

main "$@"
