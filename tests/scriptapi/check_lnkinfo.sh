#!/bin/bash
# Shortcuts made by the installer's engine under Wine, read back on the Linux side with lnkinfo
# (liblnk), which knows nothing of Wine's shell.
#   check_lnkinfo.sh BIN_DIR TOOLS_DIR
set -euo pipefail
bin=$1
tools=$2
out=$(mktemp -d "${TMPDIR:-/tmp}/qel-lnk.XXXXXX")
trap 'rm -rf "$out"' EXIT
win="Z:${out//\//\\}"

"$tools/wine-test.sh" --fresh-prefix "$bin/qelscripthost.exe" "$bin/call.lua" \
  Lua_CreateShortcut 's:%SystemRoot%\notepad.exe' "s:$win\\menu.lnk" 's:/menu' nil \; \
  Lua_CreateShortcut 's:%SystemRoot%\notepad.exe' "s:$win\\plain.lnk" \; \
  Lua_CreateShortcut 's:%SystemRoot%\notepad.exe' "s:$win\\described.lnk" 's:' 's:Navolo search' >"$out/run.txt"

failed=0
expect() {  # expect FILE present|absent TEXT
  local report=$out/$1.txt
  [ -f "$report" ] || lnkinfo "$out/$1.lnk" >"$report" 2>&1 || true
  if grep -qF -- "$3" "$report"; then found=present; else found=absent; fi
  if [ "$found" != "$2" ]; then
    echo "FAIL $1.lnk: expected $2: $3"
    cat "$report"
    failed=1
  fi
}
expect menu present $'Command line arguments\t\t: /menu'
expect menu present $'Working directory\t\t: C:\\windows'
expect menu absent 'Contains a description string'
expect plain absent 'Contains a command line arguments string'
expect plain absent 'Contains a description string'
expect plain present $'Working directory\t\t: C:\\windows'
expect described present $'Description\t\t\t: Navolo search'
exit $failed
