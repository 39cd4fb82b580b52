#!/bin/bash
# Lua_GetDriverInstallPath on machines with different fixed drives: each case is a copy of the
# template prefix whose Wine drives (dosdevices links) are set up before its server starts.
#   install_drive_test.sh QELSCRIPTHOST.EXE PRINT_INSTALL_PATH.lua
set -uo pipefail
here=$(cd "$(dirname "$0")/../../tools" && pwd)
. "$here/wine-env.sh"
: "${QEL_TEMPLATE_PREFIX:?run the tests through tools/test.sh}"
host=$1 script=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/qel-drives.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

# run_case NAME EXPECTED DRIVE:FOLDER_WITH_PROGRAM_FILES(yes|no)...
run_case() {
  local name=$1 expected=$2
  shift 2
  local prefix=$work/$name
  qel_wine_copy_prefix "$QEL_TEMPLATE_PREFIX" "$prefix"
  rm -f "$prefix/dosdevices/"[a-y]: "$prefix/dosdevices/z:"
  local spec letter has
  for spec in "$@"; do
    letter=${spec%%=*} has=${spec#*=}
    mkdir -p "$work/$name-$letter"
    [ "$has" = yes ] && mkdir -p "$work/$name-$letter/Program Files (x86)"
    ln -s "$work/$name-$letter" "$prefix/dosdevices/$letter:"
  done
  ln -s ../drive_c "$prefix/dosdevices/c:"
  cp "$script" "$prefix/drive_c/print_install_path.lua"
  qel_wine_start_server "$prefix"
  local got
  got=$(WINEPREFIX=$prefix wine "$host" 'C:\print_install_path.lua' 2>/dev/null | tr -d '\r')
  qel_wine_stop_server "$prefix"
  if [ "$got" = "$expected" ]; then
    echo "ok   $name: $got"
  else
    echo "FAIL $name: expected '$expected', got '$got'"
    failures=$((failures + 1))
  fi
}

run_case only_c 'C:\Program Files (x86)\'
run_case folder_on_e_only 'E:\Program Files (x86)\' d=no e=yes
run_case folder_on_d_and_e 'D:\Program Files (x86)\' d=yes e=yes
exit $failures
