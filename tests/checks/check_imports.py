#!/usr/bin/python3
"""Fails when a built .exe or .dll imports a DLL that is not part of Windows.

Wine ships DLLs of its own (zlib1.dll, libwinpthread...), so a program that needs one still runs
under Wine and fails on Windows; this check reads the import tables instead of running anything.
usage: check_imports.py DIR [DIR...]
"""
import os
import sys

import pefile

SYSTEM_DLLS = {
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll", "gdi32.dll",
    "gdiplus.dll", "imm32.dll", "iphlpapi.dll", "kernel32.dll", "msimg32.dll", "msvcrt.dll",
    "normaliz.dll", "ntdll.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll",
    "secur32.dll", "setupapi.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "userenv.dll",
    "uxtheme.dll", "version.dll", "winhttp.dll", "wininet.dll", "winmm.dll", "ws2_32.dll",
    "wtsapi32.dll", "dwmapi.dll", "shcore.dll", "wldap32.dll", "dbghelp.dll", "netapi32.dll",
    "mpr.dll", "wintrust.dll", "msi.dll",
}


def imports_of(path):
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"]])
    names = [e.dll.decode().lower() for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    names += [e.dll.decode().lower() for e in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])]
    return names


def main(dirs):
    binaries = sorted(os.path.join(d, f) for d in dirs for f in os.listdir(d) if f.lower().endswith((".exe", ".dll")))
    if not binaries:
        sys.exit("no binaries in %s" % ", ".join(dirs))
    bad = []
    for path in binaries:
        foreign = [d for d in imports_of(path) if d not in SYSTEM_DLLS]
        if foreign:
            bad.append("%s imports %s" % (path, ", ".join(foreign)))
    print("checked %d binaries" % len(binaries))
    if bad:
        print("\n".join(bad))
        sys.exit(1)


if __name__ == "__main__":
    main(sys.argv[1:])
