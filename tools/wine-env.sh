# Sourced by the scripts that run Wine: one environment for the build's tools, the tests and the
# main job. The product's users run a zh_CN system, so the ANSI code page is 936.
QEL_CACHE=${QEL_CACHE:-/var/cache/qelsetup}
export WINEDEBUG=${WINEDEBUG:--all,err+module}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LC_ALL=zh_CN.UTF-8
export WINEARCH=win64
# Set up by enable-i386.sh when this machine runs 32-bit code only through an emulator.
if [ -f "$QEL_CACHE/wine-i386.env" ]; then
  set -a
  . "$QEL_CACHE/wine-i386.env"
  set +a
fi

# qel_wine_start_server PREFIX: a persistent wineserver with Wine's services already up, started
# detached so that no service inherits the caller's output. With a display, the desktop window
# is brought up too (rundll32 makes a window), so a program's first window or message box never
# waits for the desktop to start, which under load can fail.
qel_wine_start_server() {
  WINEPREFIX=$1 wineserver -p
  WINEPREFIX=$1 setsid wine cmd /c exit </dev/null >/dev/null 2>&1
  if [ -n "${DISPLAY:-}" ]; then
    WINEPREFIX=$1 setsid wine rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1
  fi
}

qel_wine_stop_server() {
  WINEPREFIX=$1 wineserver -k 2>/dev/null || true
  WINEPREFIX=$1 wineserver -w 2>/dev/null || true
}

# qel_wine_copy_prefix TEMPLATE DEST: a cheap copy that shares the big system files with the
# template; what Wine rewrites in place (the registry files, the users' folders) is copied.
qel_wine_copy_prefix() {
  local template=$1 dest=$2
  mkdir -p "$dest"
  cp -al "$template/." "$dest/"
  local f
  for f in system.reg user.reg userdef.reg; do
    cp --remove-destination "$template/$f" "$dest/$f"
  done
  rm -rf "$dest/drive_c/users"
  cp -a "$template/drive_c/users" "$dest/drive_c/users"
}
