#!/bin/bash
# Creates the template win64 Wine prefix that test runs and the main job copy, once per Wine
# version and version of this script. Prints its path (last line).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"

key=$( (wine --version; cat "$0" "$here/wine-env.sh") | sha256sum | cut -c1-12)
template=$QEL_CACHE/wine-template-$key
if [ -f "$template/.complete" ]; then
  echo "$template"
  exit 0
fi

rm -rf "$template"
mkdir -p "$QEL_CACHE"
home=$(mktemp -d "$QEL_CACHE/wine-home.XXXXXX")
trap 'rm -rf "$home"' EXIT
echo "creating the template Wine prefix $template" >&2
export WINEPREFIX=$template
HOME=$home wineboot -i >"$home/wineboot.log" 2>&1 || { cat "$home/wineboot.log" >&2; exit 1; }
wineserver -w

# Wine links the user's Desktop, Documents... to $HOME: make them real folders of the prefix.
for link in "$template"/drive_c/users/*/*; do
  if [ -L "$link" ]; then
    rm "$link"
    mkdir -p "$link"
  fi
done

# A second fixed drive, D:, on a folder of the prefix: installs onto another drive than the
# temporary folder's.
mkdir -p "$template/drive_d"
ln -s ../drive_d "$template/dosdevices/d:"

# Message boxes close at once after a click only without a window manager's management.
HOME=$home wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >"$home/reg.log" 2>&1
wineserver -w
touch "$template/.complete"
echo "$template"
