#!/usr/bin/python3
"""Makes the installer's resource files at build time (nothing binary is kept in the repo).

  resources.py payload SRC_DIR OUT [7zz switches...]  7z archive of SRC_DIR, first two bytes exchanged
  resources.py skin SRC_DIR OUT                        zip (deflate) in the skin package's entry order
  resources.py icon OUT                                a 32x32 and 16x16 application icon
"""
import os
import struct
import subprocess
import sys
import tempfile
import zipfile


def make_payload(src, out, switches):
    with tempfile.TemporaryDirectory() as tmp:
        archive = os.path.join(tmp, "payload.7z")
        subprocess.run(["7zz", "a", "-t7z", "-bd", "-bso0", "-bsp0", *switches, archive, "."],
                       cwd=src, check=True)
        data = bytearray(open(archive, "rb").read())
    data[0], data[1] = data[1], data[0]
    write_if_changed(out, bytes(data))


def skin_entries(src):
    """Layout/, Layout/Layout.xml, font.xml, Image/, then the images by name."""
    expected_top = {"Layout", "font.xml", "Image"}
    extra = sorted(set(os.listdir(src)) - expected_top)
    if extra:
        sys.exit("skin folder holds entries the package has no place for: %s" % ", ".join(extra))
    entries = []
    if os.path.isdir(os.path.join(src, "Layout")):
        entries.append("Layout/")
        entries += ["Layout/" + n for n in sorted(os.listdir(os.path.join(src, "Layout")))]
    if os.path.isfile(os.path.join(src, "font.xml")):
        entries.append("font.xml")
    if os.path.isdir(os.path.join(src, "Image")):
        entries.append("Image/")
        entries += ["Image/" + n for n in sorted(os.listdir(os.path.join(src, "Image")))]
    return entries


def make_skin(src, out):
    tmp = out + ".tmp"
    with zipfile.ZipFile(tmp, "w", compression=zipfile.ZIP_DEFLATED) as z:
        for name in skin_entries(src):
            path = os.path.join(src, *name.rstrip("/").split("/"))
            info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
            if name.endswith("/"):
                info.external_attr = 0o40755 << 16 | 0x10
                z.writestr(info, b"")
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                info.external_attr = 0o644 << 16
                z.writestr(info, open(path, "rb").read())
    data = open(tmp, "rb").read()
    os.remove(tmp)
    write_if_changed(out, data)


def icon_image(size):
    """A 32-bit BGRA icon image: a rounded blue tile with a white magnifier ring."""
    pixels = bytearray()
    centre, ring_outer, ring_inner = size * 0.42, size * 0.30, size * 0.20
    for y in range(size - 1, -1, -1):
        for x in range(size):
            dx, dy = x + 0.5 - centre, y + 0.5 - centre
            d = (dx * dx + dy * dy) ** 0.5
            on_handle = x > size * 0.55 and y > size * 0.55 and abs(x - y) < size * 0.09
            if ring_inner <= d <= ring_outer or on_handle:
                pixels += bytes((255, 255, 255, 255))
            else:
                pixels += bytes((0xC8, 0x7A, 0x1F, 255))
    mask = bytes(((size + 31) // 32) * 4 * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + bytes(pixels) + mask


def make_icon(out):
    images = [icon_image(32), icon_image(16)]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for image, size in zip(images, (32, 16)):
        data += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    write_if_changed(out, data + b"".join(images))


def write_if_changed(path, data):
    if os.path.exists(path) and open(path, "rb").read() == data:
        return
    with open(path, "wb") as f:
        f.write(data)


def main(argv):
    if len(argv) >= 3 and argv[0] == "payload":
        make_payload(argv[1], argv[2], argv[3:])
    elif len(argv) == 3 and argv[0] == "skin":
        make_skin(argv[1], argv[2])
    elif len(argv) == 2 and argv[0] == "icon":
        make_icon(argv[1])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
