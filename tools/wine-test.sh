#!/bin/bash
# ctest's runner for the test programs: runs a Windows program under Wine and strips the CR of
# its console lines. With --fresh-prefix the program runs in its own copy of the template
# prefix, with a server of its own, removed afterwards; otherwise in the run's shared prefix.
# Both prefixes come from run-tests.sh (QEL_TEMPLATE_PREFIX, QEL_RUN_PREFIX).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"

fresh=0
if [ "${1:-}" = --fresh-prefix ]; then
  fresh=1
  shift
fi
case " $* " in *" --gtest_list_tests "*) fresh=0 ;; esac

: "${QEL_RUN_PREFIX:?run the tests through tools/test.sh}"
prefix=$QEL_RUN_PREFIX
if [ $fresh = 1 ]; then
  prefix=$(mktemp -d "${TMPDIR:-/tmp}/qel-prefix.XXXXXX")
  qel_wine_copy_prefix "$QEL_TEMPLATE_PREFIX" "$prefix"
  qel_wine_start_server "$prefix"
fi

out=$(mktemp "${TMPDIR:-/tmp}/qel-out.XXXXXX")
WINEPREFIX=$prefix wine "$@" >"$out" 2>&1
rc=$?
tr -d '\r' <"$out"
rm -f "$out"

if [ $fresh = 1 ]; then
  qel_wine_stop_server "$prefix"
  rm -rf "$prefix"
fi
exit $rc
