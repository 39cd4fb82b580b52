#!/bin/bash
# The main job: sets up and builds (tools/setup.sh), then installs the default installer
# silently into a fresh Wine prefix and prints a report of what happened: the installer's debug
# lines, the messages its listener received (3014 at the end), its exit code, every file and
# registry value the install wrote, the shortcuts as lnkinfo reads them, the product's service
# and what the statistics library was told. The report is also kept in build/main-job-report.txt.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(bash "$here/setup.sh" | tail -1)
. "$here/wine-env.sh"

template=$(bash "$here/make-wine-template.sh" | tail -1)
work=$(mktemp -d "${TMPDIR:-/tmp}/qel-main.XXXXXX")
prefix=$work/prefix
trap 'qel_wine_stop_server "$prefix"; rm -rf "$work"' EXIT

snapshot() {
  # the registry files are current only while no server runs
  qel_wine_stop_server "$prefix"
  mkdir -p "$work/$1"
  cp "$prefix"/system.reg "$prefix"/user.reg "$work/$1/"
  (cd "$prefix/drive_c" && find . -path ./windows -prune -o -printf '%y %s %T@ %P\n') > "$work/$1/files.txt"
}

qel_wine_copy_prefix "$template" "$prefix"
qel_wine_start_server "$prefix"
snapshot before
qel_wine_start_server "$prefix"

export WINEPREFIX=$prefix
installer=$(winepath -w "$build/bin/QELInstaller.exe")
transcript=$(winepath -w "$work/transcript.txt")
echo "== silent install: $installer /InstallSlience true" >&2
wine "$build/bin/qeltest_launcher.exe" --transcript "$transcript" --listen --timeout 1800 \
  --args "/InstallSlience true" "$installer" >"$work/launcher.out" 2>&1 \
  || { cat "$work/launcher.out" >&2; exit 1; }
wine sc query nvss >"$work/services.txt" 2>&1 || true
find "$prefix/drive_c" -name kvstat_journal.txt -exec cp {} "$work/journal.txt" \; 2>/dev/null || true
# The shortcuts, read back by an independent reader of the link format.
find "$prefix/drive_c" -path "$prefix/drive_c/windows" -prune -o -name '*.lnk' -newer "$work/before/files.txt" -print \
  | sort | while read -r link; do
      printf 'C:/%s\n' "${link#"$prefix/drive_c/"}"
      lnkinfo "$link" 2>&1 | grep -E '^\s*(Local path|Command line arguments)\s*:' | sed 's/^\s*/    /; s/\t\+:/:/'
    done >"$work/shortcuts.txt"
snapshot after

/usr/bin/python3 "$here/report.py" "$work/transcript.txt" "$work/before" "$work/after" "$installer" "$work" \
  | tee "$build/main-job-report.txt"
