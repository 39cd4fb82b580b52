#!/usr/bin/python3
"""Makes the archive tests' fixtures with 7zz (nothing binary is kept in the repo).

  make_archives.py OUT_DIR

OUT_DIR/tree/      the files every method archive holds (the expected result of an extraction)
OUT_DIR/NAME.7z    the archives; NAME.7z.swapped the same with its first two bytes exchanged
Each archive's methods are checked with 7zz, so a fixture that does not exercise its coder fails
the build instead of passing a test for the wrong reason.
"""
import os
import random
import shutil
import struct
import subprocess
import sys
import zlib

MTIME = 1614834367  # 2021-03-04 05:06:07 UTC
CHINESE = "\u4e2d\u6587\u6587\u4ef6.txt"  # 中文文件.txt


def x86_like(seed, size):
    """Bytes with many E8/E9 (call/jump) opcodes, so the branch converters have work to do."""
    rnd = random.Random(seed)
    out = bytearray()
    while len(out) < size:
        out += bytes((0xE8,)) + struct.pack("<i", rnd.randrange(-4096, 4096)) + bytes(rnd.randrange(256) for _ in range(3))
    return bytes(out[:size])


def make_tree(tree):
    shutil.rmtree(tree, ignore_errors=True)
    os.makedirs(os.path.join(tree, "emptydir"))
    os.makedirs(os.path.join(tree, "sub", "deeper"))
    files = {
        "readme.txt": b"plain text\r\n" * 40,
        "empty.bin": b"",
        "code.exe": x86_like(1, 24000),
        "sub/deeper/nested.txt": b"nested\n",
        CHINESE: "\u4e2d\u6587\u5185\u5bb9\n".encode("utf-8"),
        "ro.txt": b"read only\n",
    }
    for name, data in files.items():
        with open(os.path.join(tree, name), "wb") as f:
            f.write(data)
    for root, dirs, names in os.walk(tree):
        for n in dirs + names:
            os.utime(os.path.join(root, n), (MTIME, MTIME))
    os.chmod(os.path.join(tree, "ro.txt"), 0o444)


def sevenzip(cwd, archive, switches, *items):
    if os.path.exists(archive):
        os.remove(archive)
    subprocess.run(["7zz", "a", "-t7z", "-bd", "-bso0", "-bsp0", *switches, archive, *items], cwd=cwd, check=True)


def methods_of(archive, password=None):
    command = ["7zz", "l", "-slt", archive]
    if password:
        command.insert(2, "-p" + password)
    text = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    return {line.split(" = ", 1)[1] for line in text.splitlines() if line.startswith("Method = ")}


def expect_method(archive, word, password=None):
    found = methods_of(archive, password)
    if not any(word in m for m in found):
        sys.exit("%s: expected a %s coder, 7zz lists %s" % (archive, word, found))


def swapped(archive):
    data = bytearray(open(archive, "rb").read())
    data[0], data[1] = data[1], data[0]
    with open(archive + ".swapped", "wb") as f:
        f.write(data)


def patch_name(archive, out, old, new):
    """Renames an entry in an archive whose header is stored plain, and mends the header CRCs."""
    assert len(old) == len(new)
    data = bytearray(open(archive, "rb").read())
    offset, size = struct.unpack_from("<QQ", data, 12)
    start = 32 + offset
    header = bytes(data[start:start + size])
    old_bytes, new_bytes = old.encode("utf-16-le"), new.encode("utf-16-le")
    if header.count(old_bytes) != 1:
        sys.exit("%s: the name %s is not in the plain header once" % (archive, old))
    data[start:start + size] = header.replace(old_bytes, new_bytes)
    struct.pack_into("<I", data, 28, zlib.crc32(data[start:start + size]) & 0xFFFFFFFF)
    struct.pack_into("<I", data, 8, zlib.crc32(data[12:32]) & 0xFFFFFFFF)
    with open(out, "wb") as f:
        f.write(data)


def main(out):
    os.makedirs(out, exist_ok=True)
    tree = os.path.join(out, "tree")
    make_tree(tree)
    cases = {
        "lzma": (["-m0=LZMA"], "LZMA:"),
        "lzma2": (["-m0=LZMA2"], "LZMA2"),
        "bcj": (["-m0=LZMA2", "-mf=BCJ"], "BCJ"),
        "bcj2": (["-mf=BCJ2"], "BCJ2"),
        "arm": (["-m0=LZMA2", "-mf=ARM"], "ARM"),
        "copy": (["-m0=Copy"], "Copy"),
        "ppmd": (["-m0=PPMd"], "PPMD"),
    }
    for name, (switches, word) in cases.items():
        archive = os.path.join(out, name + ".7z")
        sevenzip(tree, archive, ["-mtm=on", "-mtc=off", "-mta=off", *switches], ".")
        expect_method(archive, word)
    aes = os.path.join(out, "aes.7z")
    sevenzip(tree, aes, ["-pSecret"], ".")
    expect_method(aes, "AES", "Secret")

    # Only the file a/b/c.txt, without entries for a and a/b.
    loose = os.path.join(out, "loose")
    shutil.rmtree(loose, ignore_errors=True)
    os.makedirs(os.path.join(loose, "a", "b"))
    open(os.path.join(loose, "a", "b", "c.txt"), "wb").write(b"c\n")
    sevenzip(loose, os.path.join(out, "nodirs.7z"), [], "a/b/c.txt")

    # Entries ordered 1.txt, 2.txt, 3.txt in one solid block, for the output-file error cases.
    numbered = os.path.join(out, "numbered")
    shutil.rmtree(numbered, ignore_errors=True)
    os.makedirs(numbered)
    for i in (1, 2, 3):
        open(os.path.join(numbered, "%d.txt" % i), "wb").write(b"new %d\n" % i)
    sevenzip(numbered, os.path.join(out, "numbered.7z"), [], "1.txt", "2.txt", "3.txt")

    # Archives whose second entry would leave the destination (the first is harmless).
    bait = os.path.join(out, "bait")
    shutil.rmtree(bait, ignore_errors=True)
    os.makedirs(os.path.join(bait, "zz"))
    open(os.path.join(bait, "first.txt"), "wb").write(b"first\n")
    for n in ("zz/e.txt", "zzqe.txt", "Cz/e.txt", "Xzz/e.txt", "zzz/e.txt"):
        os.makedirs(os.path.dirname(os.path.join(bait, n)) or bait, exist_ok=True)
    plain = os.path.join(out, "bait.7z")
    for old, new, tag in (("zz/e.txt", "../e.txt", "dotdot"), ("zzqe.txt", "..\\e.txt", "backslash"),
                          ("Cz/e.txt", "C:/e.txt", "drive"), ("Xzz/e.txt", "/zz/e.txt", "absolute"),
                          ("zzz/e.txt", ".. /e.txt", "dotspace")):
        path = os.path.join(bait, *old.split("/"))
        open(path, "wb").write(b"escaped\n")
        sevenzip(bait, plain, ["-mhc=off", "-m0=Copy"], "first.txt", old)
        patch_name(plain, os.path.join(out, "escape_%s.7z" % tag), old, new)
    os.remove(plain)

    for name in ("lzma2", "bcj2"):
        swapped(os.path.join(out, name + ".7z"))


if __name__ == "__main__":
    main(sys.argv[1])
