#!/bin/bash
# Makes 32-bit (i386) Linux programs, and so 32-bit Wine, run on a machine whose kernel cannot
# execute i386 code (IA-32 emulation off). Run as root after wine and qemu-user-static are
# installed. Idempotent; prints one line on success.
#
# Only when the kernel cannot run an i386 ELF itself:
#   - mounts binfmt_misc if needed;
#   - builds, from tools/qemu-i386-shim.c, into /var/cache/qelsetup/:
#       libqelmmap.so     i386 LD_PRELOAD shim: gives mmap the kernel's MAP_FIXED_NOREPLACE
#                         meaning, which qemu 7.2 lacks (without it each 32-bit Wine process
#                         spends ~52 s in ntdll's address-space reservation loop);
#       qemu-i386-wrap    static x86-64 binfmt interpreter: execs
#                         qemu-i386-static -E LD_PRELOAD=<shim> PROGRAM ARGS...
#   - registers binfmt_misc entry "qemu-i386" for i386 ELF (ET_EXEC/ET_DYN) with that wrapper.
# No environment variable is needed; /var/cache/qelsetup/wine-i386.env is written empty so
# that wrappers may source it unconditionally.
set -euo pipefail

CACHE=/var/cache/qelsetup
SRC="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/qemu-i386-shim.c"
QEMU=/usr/bin/qemu-i386-static
BINFMT=/proc/sys/fs/binfmt_misc
NAME=qemu-i386
LOG="$CACHE/enable-i386.log"

die() { echo "enable-i386: $*" >&2; [ -s "$LOG" ] && tail -n 20 "$LOG" >&2; exit 1; }
[ "$(id -u)" = 0 ] || die "must run as root"
mkdir -p "$CACHE"
: > "$LOG"
touch "$CACHE/wine-i386.env"

# --- 1. Can the kernel run i386 code itself? -------------------------------------------------
# A 2-instruction static i386 ELF that exits with 42. Its EI_ABIVERSION byte is set to 1 (the
# kernel ignores it) so that no binfmt_misc i386 entry (they match that byte as 0) can serve it:
# only the kernel's own ELF loader can run it.
native_i386() {
    local d rc=0
    d=$(mktemp -d)
    printf '.globl _start\n_start:\n movl $1,%%eax\n movl $42,%%ebx\n int $0x80\n' > "$d/t.s"
    if ! { as --32 -o "$d/t.o" "$d/t.s" && ld -m elf_i386 -o "$d/t" "$d/t.o"; } >>"$LOG" 2>&1; then
        rm -rf "$d"; die "cannot assemble the i386 probe (binutils missing?)"
    fi
    printf '\001' | dd of="$d/t" bs=1 seek=8 conv=notrunc status=none
    "$d/t" 2>/dev/null || rc=$?
    rm -rf "$d"
    [ "$rc" = 42 ]
}
if native_i386; then
    echo "enable-i386: kernel runs i386 natively; nothing to do"
    exit 0
fi

# --- 2. Tools --------------------------------------------------------------------------------
apt_install() {
    flock /var/lib/apt/lists/qelsetup.lock sh -c \
        'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@"' \
        sh "$@" >>"$LOG" 2>&1 || die "apt-get install $* failed"
}
[ -x "$QEMU" ] || apt_install qemu-user-static
[ -x "$QEMU" ] || die "$QEMU missing"
echo 'int main(void){return 0;}' > "$CACHE/m32.c"
if ! gcc -m32 -o "$CACHE/m32" "$CACHE/m32.c" >>"$LOG" 2>&1; then
    apt_install gcc-multilib
    gcc -m32 -o "$CACHE/m32" "$CACHE/m32.c" >>"$LOG" 2>&1 || die "gcc -m32 does not work"
fi
rm -f "$CACHE/m32" "$CACHE/m32.c"

# --- 3. Build shim and wrapper (only when the source or build recipe changed) ----------------
[ -f "$SRC" ] || die "missing $SRC"
SHIM="$CACHE/libqelmmap.so"
WRAP="$CACHE/qemu-i386-wrap"
RECIPE="v1 $QEMU $SHIM"
STAMP="$(cat "$SRC" - <<<"$RECIPE" | sha256sum | cut -d' ' -f1)"
built=0
if [ "$(cat "$CACHE/build.stamp" 2>/dev/null)" != "$STAMP" ] || [ ! -f "$SHIM" ] || [ ! -x "$WRAP" ]; then
    gcc -m32 -O2 -Wall -shared -fPIC -DQEL_SHIM_PATH="\"$SHIM\"" -o "$SHIM.tmp" "$SRC" -ldl >>"$LOG" 2>&1 \
        || die "building the shim failed"
    gcc -O2 -Wall -static -DQEL_WRAPPER -DQEL_QEMU="\"$QEMU\"" -DQEL_SHIM_PATH="\"$SHIM\"" \
        -o "$WRAP.tmp" "$SRC" >>"$LOG" 2>&1 || die "building the wrapper failed"
    chmod 644 "$SHIM.tmp"; chmod 755 "$WRAP.tmp"
    mv -f "$SHIM.tmp" "$SHIM"; mv -f "$WRAP.tmp" "$WRAP"   # new inodes: running processes keep theirs
    echo "$STAMP" > "$CACHE/build.stamp"
    built=1
fi

# --- 4. binfmt_misc --------------------------------------------------------------------------
if [ ! -e "$BINFMT/register" ]; then
    modprobe binfmt_misc >>"$LOG" 2>&1 || true
    mount -t binfmt_misc binfmt_misc "$BINFMT" >>"$LOG" 2>&1 || die "cannot mount binfmt_misc"
fi
[ "$(cat "$BINFMT/status")" = enabled ] || echo 1 > "$BINFMT/status"

registered_ok() {
    [ -f "$BINFMT/$NAME" ] &&
    grep -qx enabled "$BINFMT/$NAME" &&
    grep -qx "interpreter $WRAP" "$BINFMT/$NAME" &&
    grep -qx 'flags: F' "$BINFMT/$NAME"
}
# With flag F the kernel keeps the interpreter file open, so a rebuilt wrapper needs a new entry.
if [ "$built" = 1 ] || ! registered_ok; then
    [ -f "$BINFMT/$NAME" ] && echo -1 > "$BINFMT/$NAME"
    # i386 ELF, ET_EXEC or ET_DYN (the same magic/mask as qemu's own qemu-binfmt-conf.sh)
    printf '%s\n' ":$NAME:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$WRAP:F" \
        > "$BINFMT/register" || die "binfmt_misc registration failed"
    registered_ok || die "binfmt_misc entry $NAME not as expected"
    did="registered binfmt_misc $NAME -> $WRAP (qemu-i386 + MAP_FIXED_NOREPLACE shim)"
else
    did="already set up (binfmt_misc $NAME -> $WRAP)"
fi

# --- 5. Check: an i386 ELF now runs (exit 42) ------------------------------------------------
d=$(mktemp -d)
printf '.globl _start\n_start:\n movl $1,%%eax\n movl $42,%%ebx\n int $0x80\n' > "$d/t.s"
as --32 -o "$d/t.o" "$d/t.s" && ld -m elf_i386 -o "$d/t" "$d/t.o"
rc=0; "$d/t" 2>>"$LOG" || rc=$?
rm -rf "$d"
[ "$rc" = 42 ] || die "an i386 program still does not run (exit $rc)"

echo "enable-i386: $did; no env vars needed ($CACHE/wine-i386.env is empty)"
