#!/bin/bash
# Runs every test: sets up and builds (tools/setup.sh), then runs ctest with the Wine server of
# a shared prefix kept warm and an X display for the windows and message boxes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(bash "$here/setup.sh" | tail -1)
. "$here/wine-env.sh"

export QEL_TEMPLATE_PREFIX
QEL_TEMPLATE_PREFIX=$(bash "$here/make-wine-template.sh" | tail -1)
work=$(mktemp -d "${TMPDIR:-/tmp}/qel-test.XXXXXX")
export QEL_RUN_PREFIX=$work/prefix

cleanup() {
  qel_wine_stop_server "$QEL_RUN_PREFIX"
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own: the first free number from 90 on (a run beside this one takes another).
for display in $(seq 90 300); do
  [ -e "/tmp/.X$display-lock" ] && continue
  Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$xvfb_pid" 2>/dev/null && break
  xvfb_pid=
done
[ -n "$xvfb_pid" ] || { echo "no X display could be started" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$display"
qel_wine_copy_prefix "$QEL_TEMPLATE_PREFIX" "$QEL_RUN_PREFIX"
qel_wine_start_server "$QEL_RUN_PREFIX"

cd "$build"
ctest --output-on-failure --timeout 1200 -j "$(nproc)" "$@"
