/*
 * qemu-i386-shim.c - make 32-bit Wine start fast under Debian 12's qemu-user 7.2.
 *
 * FALLBACK ONLY: tools/enable-i386.sh normally uses qemu-user 10 (bookworm-backports), which
 * needs no shim. It builds this file only when no such qemu can be had. Even with the shim,
 * qemu 7.2 maps guest address 0 at host 0x1000, so the wineserver's accesses to a 32-bit
 * process's memory (ReadProcessMemory, the PEB BeingDebugged flag, debug events) are off by a
 * page; only qemu >= 8.1 fixes that.
 *
 * Why: on machines whose kernel cannot run i386 code, 32-bit programs run under qemu-i386-static
 * (binfmt_misc). qemu 7.2 (Debian 12) ignores MAP_FIXED_NOREPLACE: an mmap with that flag whose
 * range is busy does not fail with EEXIST, it returns some other free address. 32-bit Wine's
 * ntdll (reserve_area/anon_mmap_tryfixed in dlls/ntdll/unix/virtual.c) relies on the flag: with
 * no preloader (Debian ships none) it first reserves 0x10000-0x40000000, which holds qemu's guest
 * stack and shared libraries; every refused piece lands at a high address instead, where Wine
 * keeps it as "above the user limit". Afterwards every try to reserve 0x7ffe0000-0xffffffff
 * comes back elsewhere, so Wine halves the range down to 64 KiB pieces: ~65,000 mmap/munmap
 * pairs, ~52 s of CPU per process start.
 *
 * This file builds two things:
 *  - default (gcc -m32 -shared): an LD_PRELOAD library for the guest that gives mmap/mmap64 the
 *    kernel's MAP_FIXED_NOREPLACE meaning: if the result is not the requested address, unmap it
 *    and fail with EEXIST. Wine then sees exactly what it sees on a native kernel.
 *  - with -DQEL_WRAPPER (64-bit, static): the binfmt_misc interpreter. It runs
 *    qemu-i386-static -E LD_PRELOAD=<shim> <program> <args>, so no environment variable is
 *    needed anywhere. The shim removes itself from LD_PRELOAD at load time so that 64-bit
 *    children (wine64, wineserver) do not print "wrong ELF class" warnings; 32-bit children
 *    go through the wrapper again.
 */
#define _GNU_SOURCE
#include <stdlib.h>
#include <string.h>

#ifndef QEL_SHIM_PATH
#define QEL_SHIM_PATH "/var/cache/qelsetup/libqelmmap.so"
#endif

#ifdef QEL_WRAPPER
/* ---------------- binfmt_misc interpreter (x86-64, static) ---------------- */
#include <stdio.h>
#include <unistd.h>

#ifndef QEL_QEMU
#define QEL_QEMU "/usr/bin/qemu-i386-static"
#endif

int main(int argc, char **argv)
{
    /* binfmt_misc (flags F, no P) calls us as: wrapper /path/to/program arg1 arg2 ... */
    const char *old = getenv("LD_PRELOAD");
    size_t n = strlen(QEL_SHIM_PATH) + strlen("LD_PRELOAD=") + (old ? strlen(old) + 1 : 0) + 1;
    char *env = malloc(n);
    char **nargv = malloc((argc + 4) * sizeof(*nargv));
    int i, j = 0;

    if (!env || !nargv || argc < 2) {
        fprintf(stderr, "qemu-i386-wrap: usage: %s PROGRAM [ARGS...]\n", argv[0]);
        return 127;
    }
    /* ours first; keep any LD_PRELOAD the caller had, as plain qemu would */
    snprintf(env, n, "LD_PRELOAD=%s%s%s", QEL_SHIM_PATH, old ? ":" : "", old ? old : "");
    nargv[j++] = (char *)QEL_QEMU;
    nargv[j++] = (char *)"-E";
    nargv[j++] = env;
    for (i = 1; i < argc; i++) nargv[j++] = argv[i];
    nargv[j] = NULL;
    execv(QEL_QEMU, nargv);
    perror("qemu-i386-wrap: " QEL_QEMU);
    return 127;
}

#else
/* ---------------- LD_PRELOAD shim (i386, shared) ---------------- */
#include <dlfcn.h>
#include <errno.h>
#include <sys/mman.h>
#include <sys/types.h>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

/* Kernel semantics: MAP_FIXED_NOREPLACE either maps at ADDR or fails with EEXIST. */
static void *noreplace_result(void *want, void *got, size_t len, int flags)
{
    if ((flags & MAP_FIXED_NOREPLACE) && !(flags & MAP_FIXED) && got != MAP_FAILED && got != want) {
        munmap(got, len); /* qemu mapped a fresh area elsewhere: give it back */
        errno = EEXIST;
        return MAP_FAILED;
    }
    return got;
}

void *mmap64(void *addr, size_t len, int prot, int flags, int fd, off64_t off)
{
    static void *(*real)(void *, size_t, int, int, int, off64_t);
    if (!real) real = (void *(*)(void *, size_t, int, int, int, off64_t))dlsym(RTLD_NEXT, "mmap64");
    return noreplace_result(addr, real(addr, len, prot, flags, fd, off), len, flags);
}

void *mmap(void *addr, size_t len, int prot, int flags, int fd, off_t off)
{
    static void *(*real)(void *, size_t, int, int, int, off_t);
    if (!real) real = (void *(*)(void *, size_t, int, int, int, off_t))dlsym(RTLD_NEXT, "mmap");
    return noreplace_result(addr, real(addr, len, prot, flags, fd, off), len, flags);
}

/* Drop our own entry from LD_PRELOAD (the wrapper put it first), keep the rest. */
__attribute__((constructor)) static void qel_strip_preload(void)
{
    const char *v = getenv("LD_PRELOAD");
    size_t n = strlen(QEL_SHIM_PATH);

    if (!v || strncmp(v, QEL_SHIM_PATH, n) || (v[n] && v[n] != ':' && v[n] != ' ')) return;
    v += n;
    while (*v == ':' || *v == ' ') v++;
    if (*v) setenv("LD_PRELOAD", v, 1);
    else unsetenv("LD_PRELOAD");
}
#endif
