#!/bin/bash
# Extraction benchmark: the bench payload packed as the product's payload (7zz -mx9, first two
# bytes exchanged), unpacked by qelbench_extract.exe through Lua_UnCompress7z in resource mode,
# side by side with the peer NSIS installer's silent install of the same files, under Wine.
#   bash bench/extract-bench.sh [BUILD_DIR] [RUNS]     (defaults: build, 5)
# Prints each run, then the median wall times (whole process, until wine returns), their ratio,
# and the peak memory of each (max RSS of the process, qemu-user's own share included where
# 32-bit code is emulated), with the goal's bound: archive + largest solid block + 32 MB.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-5}
shared=$(cd "$root/../shared/bench" 2>/dev/null && pwd || cd /work/shared/bench && pwd)
work=${QEL_BENCH_WORK:-/tmp/qel-bench}
. "$root/tools/wine-env.sh"
mkdir -p "$work"

if [ ! -f "$work/payload.done" ]; then
  bash "$shared/build-payload.sh" "$work/payload" | tee "$work/payload.txt"
  touch "$work/payload.done"
fi
if [ ! -f "$work/APP.7Z" ]; then
  /usr/bin/python3 "$root/tools/resources.py" payload "$work/payload" "$work/APP.7Z" -mx9
fi
if [ ! -f "$work/peer-setup.exe" ]; then
  cp "$shared/peer-nsis.nsi" "$shared/license.txt" "$work/"
  (cd "$work" && makensis -V2 -DPAYLOAD="$work/payload" peer-nsis.nsi)
fi
cmake -DQEL_BENCH_ARCHIVE="$work/APP.7Z" "$build" >/dev/null
cmake --build "$build" --target qelbench_extract >/dev/null

# The largest folder's unpacked size, from the archive's own listing.
python3 - "$work/APP.7Z" > "$work/blocks.txt" <<'PY'
import subprocess, sys, tempfile, os
data = bytearray(open(sys.argv[1], "rb").read())
data[0], data[1] = data[1], data[0]
with tempfile.NamedTemporaryFile(suffix=".7z", delete=False) as f:
    f.write(data)
text = subprocess.run(["7zz", "l", "-slt", f.name], capture_output=True, text=True, check=True).stdout
os.remove(f.name)
blocks, size, block = {}, 0, None
for line in text.splitlines() + [""]:
    if line.startswith("Size = "):
        size = int(line[7:] or 0)
    elif line.startswith("Block = "):
        block = line[8:]
    elif line == "" and block:
        blocks[block] = blocks.get(block, 0) + size
        block, size = None, 0
methods = sorted({l[9:] for l in text.splitlines() if l.startswith("Method = ")})
print(len(data), max(blocks.values()), len(blocks), "/".join(methods))
PY
read -r archive_bytes largest_block block_count methods < "$work/blocks.txt"

prefix=$work/prefix
rm -rf "$prefix"
qel_wine_copy_prefix "$(bash "$root/tools/make-wine-template.sh" | tail -1)" "$prefix"
export WINEPREFIX=$prefix
qel_wine_start_server "$prefix"
trap 'qel_wine_stop_server "$prefix"' EXIT
cp "$build/bin/qelbench_extract.exe" "$build/bin/qelscripthost.exe" "$work/peer-setup.exe" "$prefix/drive_c/"
: > "$prefix/drive_c/empty.lua"

# run NAME COMMAND...: one timed run, "seconds kilobytes" appended to $work/NAME.times
run() {
  local name=$1
  shift
  rm -rf "$prefix/drive_c/Bench"
  mkdir -p "$prefix/drive_c/Bench/Ours"
  sync
  /usr/bin/time -f '%e %M' -o "$work/$name.last" "$@" >"$work/$name.out" 2>&1 || { cat "$work/$name.out"; exit 1; }
  cat "$work/$name.last" >> "$work/$name.times"
  printf '%-5s %s s, %s KB max RSS  %s\n' "$name" $(cat "$work/$name.last") "$(tr -d '\r' < "$work/$name.out" | grep -m1 extract || true)"
}
rm -f "$work/ours.times" "$work/peer.times"
for i in $(seq "$runs"); do
  run ours wine 'C:\qelbench_extract.exe' 'C:\Bench\Ours'
  run peer wine 'C:\peer-setup.exe' /S '/D=C:\Bench\Peer'
done
# What any 32-bit program of ours costs under this Wine before it does anything: the same engine,
# an empty script.
/usr/bin/time -f '%e %M' -o "$work/baseline.last" wine 'C:\qelscripthost.exe' 'C:\empty.lua' >/dev/null 2>&1
read -r baseline_s baseline_kb < "$work/baseline.last"
# The decoder alone, every folder into memory and nothing written.
decode=$(wine 'C:\qelbench_extract.exe' --decode-only 2>/dev/null | tr -d '\r')
echo "baseline (script host, empty script): $baseline_s s, $baseline_kb KB max RSS"
echo "decoder alone: $decode"
echo "payload: $(cat "$work/payload.txt" | head -1); archive $archive_bytes bytes, $block_count solid blocks, largest $largest_block bytes, $methods"
python3 - "$work/ours.times" "$work/peer.times" "$archive_bytes" "$largest_block" <<'PY'
import statistics, sys
def load(p):
    rows = [tuple(map(float, l.split())) for l in open(p) if l.strip()]
    return statistics.median(r[0] for r in rows), max(r[1] for r in rows) / 1024
ours, ours_mb = load(sys.argv[1])
peer, peer_mb = load(sys.argv[2])
bound = (int(sys.argv[3]) + int(sys.argv[4])) / 1048576 + 32
print("median wall: ours %.2f s, peer %.2f s, ratio %.2f (goal <= 0.60)" % (ours, peer, ours / peer))
print("peak memory: ours %.1f MB, peer %.1f MB; bound archive + largest block + 32 MB = %.1f MB" % (ours_mb, peer_mb, bound))
PY
