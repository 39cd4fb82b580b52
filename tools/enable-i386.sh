#!/bin/bash
# Makes 32-bit (i386) Linux programs, and so 32-bit Wine, run on a machine whose kernel cannot
# execute i386 code (IA-32 emulation off). Run as root after wine and qemu-user-static are
# installed. Idempotent; prints one line on success. Does nothing where i386 runs natively.
#
# Why not Debian 12's own qemu-i386-static (7.2)?
#   - it ignores MAP_FIXED_NOREPLACE, so 32-bit Wine's ntdll (reserve_area) makes ~65,000
#     mmap/munmap calls per process start: ~52 s of CPU for every 32-bit process;
#   - it puts guest address 0 at host 0x1000 (guest_base 0x1000), so when the 64-bit
#     wineserver reads or writes a 32-bit process's memory (/proc/PID/mem, ptrace) it is off by
#     one page: ReadProcessMemory, the PEB BeingDebugged flag and so debug events
#     (OutputDebugString, breakpoints) are wrong.
# qemu-user 10 (Debian bookworm-backports, a static binary with no dependencies) has neither
# problem. This script fetches that package with apt from the Debian archive already configured
# on the machine (private apt state under a temporary folder: the system's sources, lists and
# installed packages are not touched), extracts qemu-i386 to /var/cache/qelsetup/qemu-i386 and
# registers it with binfmt_misc (entry "qemu-i386", flag F).
#
# Fallback, only if no good qemu can be had: Debian 12's qemu with an LD_PRELOAD shim built from
# tools/qemu-i386-shim.c (fast start-up, but the guest_base problem above remains).
#
# No environment variable is needed; /var/cache/qelsetup/wine-i386.env is written empty so that
# wrappers may source it unconditionally.
set -euo pipefail

CACHE=/var/cache/qelsetup
SRC="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/qemu-i386-shim.c"
SYSQEMU=/usr/bin/qemu-i386-static
OURQEMU="$CACHE/qemu-i386"
BINFMT=/proc/sys/fs/binfmt_misc
NAME=qemu-i386
LOG="$CACHE/enable-i386.log"
TMP=""

die() { echo "enable-i386: $*" >&2; [ -s "$LOG" ] && tail -n 20 "$LOG" >&2; exit 1; }
cleanup() { [ -n "$TMP" ] && rm -rf "$TMP"; return 0; }
trap cleanup EXIT
[ "$(id -u)" = 0 ] || die "must run as root"
mkdir -p "$CACHE"
: > "$LOG"
touch "$CACHE/wine-i386.env"
TMP=$(mktemp -d)

# --- i386 probe ----------------------------------------------------------------------------
# A static i386 ELF: mmap2(own text page, MAP_FIXED_NOREPLACE) must fail with EEXIST.
# Exit 42: it did (a kernel or a qemu with working MAP_FIXED_NOREPLACE); 43: the call mapped
# elsewhere (qemu 7.2). $TMP/probe-native has EI_ABIVERSION=1 (the kernel ignores that byte)
# so that no binfmt_misc i386 entry (they require 0 there) can run it: only the kernel can.
cat > "$TMP/p.s" <<'EOF'
.globl _start
_start:
    movl $192, %eax            # mmap2
    movl $_start, %ebx
    andl $0xfffff000, %ebx     # our own (busy) text page
    movl $4096, %ecx
    xorl %edx, %edx            # PROT_NONE
    movl $0x100022, %esi       # MAP_PRIVATE|MAP_ANONYMOUS|MAP_FIXED_NOREPLACE
    movl $-1, %edi
    pushl %ebp
    xorl %ebp, %ebp
    int $0x80
    popl %ebp
    movl $42, %ebx
    cmpl $-17, %eax            # -EEXIST
    je 1f
    movl $43, %ebx
1:  movl $1, %eax              # exit
    int $0x80
EOF
{ as --32 -o "$TMP/p.o" "$TMP/p.s" && ld -m elf_i386 -o "$TMP/probe" "$TMP/p.o"; } >>"$LOG" 2>&1 \
    || die "cannot build the i386 probe (binutils missing?)"
cp "$TMP/probe" "$TMP/probe-native"
printf '\001' | dd of="$TMP/probe-native" bs=1 seek=8 conv=notrunc status=none

run_rc() { local rc=0; "$@" >>"$LOG" 2>&1 || rc=$?; echo "$rc"; }

rc=$(run_rc "$TMP/probe-native")
if [ "$rc" = 42 ] || [ "$rc" = 43 ]; then
    echo "enable-i386: kernel runs i386 natively; nothing to do"
    exit 0
fi

# A qemu is good if MAP_FIXED_NOREPLACE works and guest addresses equal host addresses.
good_qemu() {
    [ -x "$1" ] || return 1
    rm -f "$TMP/page.log"
    [ "$(run_rc "$1" -d page -D "$TMP/page.log" "$TMP/probe")" = 42 ] || return 1
    grep -qE '^guest_base +(\(nil\)|0x0+)$' "$TMP/page.log"
}

# --- choose the interpreter ----------------------------------------------------------------
fetch_backports_qemu() {
    # Private apt state; sources derived from the machine's own Debian entries (same archive,
    # same keyring), suite <codename>-backports, amd64 only.
    local codename a="$TMP/apt"
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || return 1
    mkdir -p "$a/parts" "$a/lists/partial" "$a/cache/archives/partial" "$a/x"
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        awk -v s="$codename-backports" 'BEGIN { RS = ""; ORS = "\n\n" }
            /URIs:/ && !/security/ && /(^|\n)Types:[^\n]*deb( |\n|$)/ {
                n = split($0, l, "\n"); out = ""
                for (i = 1; i <= n; i++) {
                    if (l[i] ~ /^Suites:/) l[i] = "Suites: " s
                    else if (l[i] ~ /^Types:/) l[i] = "Types: deb"
                    out = out l[i] "\n"
                }
                printf "%s\n", out; exit
            }' /etc/apt/sources.list.d/debian.sources > "$a/parts/bp.sources"
    fi
    if [ ! -s "$a/parts/bp.sources" ] && [ -f /etc/apt/sources.list ]; then
        awk -v c="$codename" '$1 == "deb" && !/security/ { for (i = 1; i <= NF; i++) if ($i == c) { $i = c "-backports"; print; exit } }' \
            /etc/apt/sources.list > "$a/parts/bp.list"
    fi
    ls "$a"/parts/bp.* >/dev/null 2>&1 && [ -s "$(ls "$a"/parts/bp.* | head -1)" ] || return 1
    local o=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$a/parts"
             -o Dir::State::Lists="$a/lists" -o Dir::Cache="$a/cache"
             -o Dir::Etc::Preferences=/dev/null -o Dir::Etc::PreferencesParts=/dev/null
             -o APT::Architectures::=amd64 -o APT::Sandbox::User=root -qq)
    apt-get "${o[@]}" update >>"$LOG" 2>&1 || return 1
    (cd "$a" && apt-get "${o[@]}" download "qemu-user/$codename-backports") >>"$LOG" 2>&1 || return 1
    dpkg-deb -x "$a"/qemu-user_*.deb "$a/x" >>"$LOG" 2>&1 || return 1
    good_qemu "$a/x/usr/bin/qemu-i386" || return 1
    cp "$a/x/usr/bin/qemu-i386" "$OURQEMU.tmp" && chmod 755 "$OURQEMU.tmp"
    mv -f "$OURQEMU.tmp" "$OURQEMU"     # new inode: running processes keep the old one
}

mode=""
if good_qemu "$OURQEMU"; then
    INTERP="$OURQEMU"; mode="qemu $("$OURQEMU" --version | awk 'NR == 1 { print $3 }')"
elif good_qemu "$SYSQEMU"; then
    INTERP="$SYSQEMU"; mode="system qemu"
elif fetch_backports_qemu; then
    INTERP="$OURQEMU"; mode="qemu $("$OURQEMU" --version | awk 'NR == 1 { print $3 }') from backports"
else
    # --- fallback: Debian 12 qemu + LD_PRELOAD shim (see tools/qemu-i386-shim.c) --------------
    [ -x "$SYSQEMU" ] || { flock /var/lib/apt/lists/qelsetup.lock apt-get install -y -qq qemu-user-static >>"$LOG" 2>&1 || true; }
    [ -x "$SYSQEMU" ] || die "no usable qemu-i386"
    [ -f "$SRC" ] || die "missing $SRC"
    echo 'int main(void){return 0;}' > "$TMP/m32.c"
    if ! gcc -m32 -o "$TMP/m32" "$TMP/m32.c" >>"$LOG" 2>&1; then
        flock /var/lib/apt/lists/qelsetup.lock sh -c 'apt-get update -qq && apt-get install -y -qq --no-install-recommends gcc-multilib' >>"$LOG" 2>&1 \
            || die "apt-get install gcc-multilib failed"
    fi
    SHIM="$CACHE/libqelmmap.so"
    INTERP="$CACHE/qemu-i386-wrap"
    gcc -m32 -O2 -Wall -shared -fPIC -DQEL_SHIM_PATH="\"$SHIM\"" -o "$SHIM.tmp" "$SRC" -ldl >>"$LOG" 2>&1 \
        || die "building the shim failed"
    gcc -O2 -Wall -static -DQEL_WRAPPER -DQEL_QEMU="\"$SYSQEMU\"" -DQEL_SHIM_PATH="\"$SHIM\"" \
        -o "$INTERP.tmp" "$SRC" >>"$LOG" 2>&1 || die "building the wrapper failed"
    if ! cmp -s "$SHIM.tmp" "$SHIM"; then mv -f "$SHIM.tmp" "$SHIM"; else rm -f "$SHIM.tmp"; fi
    if ! cmp -s "$INTERP.tmp" "$INTERP"; then mv -f "$INTERP.tmp" "$INTERP"; else rm -f "$INTERP.tmp"; fi
    mode="FALLBACK qemu 7.2 + shim: starts fast, but ReadProcessMemory/debug events of 32-bit processes are wrong"
fi

# --- binfmt_misc ---------------------------------------------------------------------------
if [ ! -e "$BINFMT/register" ]; then
    modprobe binfmt_misc >>"$LOG" 2>&1 || true
    mount -t binfmt_misc binfmt_misc "$BINFMT" >>"$LOG" 2>&1 || die "cannot mount binfmt_misc"
fi
[ "$(cat "$BINFMT/status")" = enabled ] || echo 1 > "$BINFMT/status"

# With flag F the kernel holds the interpreter file open: re-register when it was replaced.
registered_ok() {
    [ -f "$BINFMT/$NAME" ] && grep -qx enabled "$BINFMT/$NAME" &&
    grep -qx "interpreter $INTERP" "$BINFMT/$NAME" && grep -qx 'flags: F' "$BINFMT/$NAME" &&
    [ "$(stat -c %i "$INTERP")" = "$(cat "$CACHE/registered.inode" 2>/dev/null)" ]
}
if registered_ok; then
    did="already set up"
else
    [ -f "$BINFMT/$NAME" ] && echo -1 > "$BINFMT/$NAME"
    # i386 ELF, ET_EXEC or ET_DYN: the magic and mask of qemu's own qemu-binfmt-conf.sh
    printf '%s\n' ":$NAME:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$INTERP:F" \
        > "$BINFMT/register" || die "binfmt_misc registration failed"
    stat -c %i "$INTERP" > "$CACHE/registered.inode"
    registered_ok || die "binfmt_misc entry $NAME not as expected"
    did="registered binfmt_misc $NAME"
fi

# --- check: an i386 program now runs through binfmt_misc ----------------------------------
rc=$(run_rc "$TMP/probe")
case "$mode" in
    FALLBACK*) [ "$rc" = 43 ] || [ "$rc" = 42 ] || die "an i386 program still does not run (exit $rc)" ;;
    *) [ "$rc" = 42 ] || die "an i386 program does not run as expected (exit $rc)" ;;
esac

echo "enable-i386: $did -> $INTERP ($mode); no env vars needed"
