#!/usr/bin/python3
"""Reads the default installer's resources with independent tools (pefile, 7zz, zipfile) and
fails when one is missing or not what the installer relies on.
usage: check_resources.py INSTALLER.exe SETTINGS.lua
"""
import io
import re
import subprocess
import sys
import tempfile
import zipfile

import pefile


def resources(pe):
    found = {}
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        tname = str(rtype.name) if rtype.name is not None else rtype.id
        for rname in rtype.directory.entries:
            nname = str(rname.name) if rname.name is not None else rname.id
            for lang in rname.directory.entries:
                data = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
                found[(tname, nname)] = (lang.id, data)
    return found


def main(exe, settings):
    pe = pefile.PE(exe)
    res = resources(pe)
    failures = []

    def check(condition, message):
        if not condition:
            failures.append(message)

    for name in ("GLOBAL_VAR.LUAC", "INSTSCRIPT.LUAC", "UNINSTSCRIPT.LUAC"):
        entry = res.get(("LUA", name))
        check(entry is not None, "LUA %s missing" % name)
        if entry:
            header = entry[1][:12]
            # Lua 5.2 bytecode for 32-bit x86: version 0x52, format 0, little endian, int 4,
            # size_t 4, instruction 4, number 8, not integral
            check(header[:4] == b"\x1bLua" and header[4:12] == bytes([0x52, 0, 1, 4, 4, 4, 8, 0]),
                  "LUA %s is not 32-bit Lua 5.2 bytecode: %r" % (name, header))

    payload = res.get(("_7Z", "APP.7Z"))
    check(payload is not None, "_7Z APP.7Z missing")
    if payload:
        data = bytearray(payload[1])
        check(data[:2] == b"z7", "payload's first two bytes are not exchanged: %r" % bytes(data[:2]))
        data[0], data[1] = data[1], data[0]
        with tempfile.NamedTemporaryFile(suffix=".7z") as f:
            f.write(data)
            f.flush()
            result = subprocess.run(["7zz", "t", f.name], capture_output=True, text=True)
            check(result.returncode == 0, "payload does not test as a 7z archive: %s" % result.stdout[-400:])

    skin = res.get(("ZIP", 249))
    check(skin is not None, "ZIP 249 missing")
    if skin:
        check(skin[0] == 2052, "ZIP 249 language is %s, not 2052" % skin[0])
        with zipfile.ZipFile(io.BytesIO(skin[1])) as z:
            names = z.namelist()
            check(names[:3] == ["Layout/", "Layout/Layout.xml", "font.xml"], "skin entry order: %s" % names)
            for info in z.infolist():
                if not info.is_dir():
                    check(info.compress_type == zipfile.ZIP_DEFLATED, "%s is not deflated" % info.filename)
            check(z.testzip() is None, "skin package has a bad entry")

    check(any(t == 14 and n == 128 for (t, n) in res), "icon group 128 missing")
    check(any(t == 24 for (t, n) in res), "manifest missing")
    # String 1 of the table lives in block 1 (ids 0-15): a length-prefixed UTF-16 string per id.
    strings = res.get((6, 1))
    check(strings is not None, "string table block 1 missing")
    if strings:
        block = strings[1]
        length = int.from_bytes(block[2:4], "little")
        check(block[4:4 + 2 * length].decode("utf-16-le") == "Navolo Setup", "string 1 is not \"Navolo Setup\"")

    wanted = re.search(r'global_version\s*=\s*"(\d+)\.(\d+)\.(\d+)\.(\d+)"', open(settings, encoding="utf-8").read())
    info = pe.VS_FIXEDFILEINFO[0]
    version = (info.FileVersionMS >> 16, info.FileVersionMS & 0xFFFF, info.FileVersionLS >> 16, info.FileVersionLS & 0xFFFF)
    check(version == tuple(int(x) for x in wanted.groups()), "file version %s, settings say %s" % (version, wanted.groups()))

    if failures:
        print("\n".join(failures))
        sys.exit(1)
    print("resources of %s: LUA x3, _7Z APP.7Z, ZIP 249 (2052), icon 128, manifest, version %d.%d.%d.%d" % ((exe,) + version))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
