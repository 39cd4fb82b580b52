#!/usr/bin/python3
"""Prints what a run of the installer did, from the launcher's transcript and from snapshots of
the Wine prefix taken before and after (file listing, system.reg and user.reg).
usage: report.py TRANSCRIPT BEFORE_DIR AFTER_DIR INSTALLER [WORK_DIR]
WORK_DIR holds shortcuts.txt (each new link, then lnkinfo's target and arguments, indented) and
may hold services.txt (`sc query` of the product's service) and journal.txt (the statistics
library's journal).
"""
import re
import sys

# Values Wine itself rewrites in every session; they say nothing about the install.
NOISE_KEYS = (
    r"^Software\\Wine\\",
    r"^System\\CurrentControlSet\\Control\\DeviceClasses",
    r"^System\\CurrentControlSet\\Control\\Class\\",
    r"^System\\CurrentControlSet\\Enum\\",
    r"^Hardware\\",
    r"^Volatile Environment",
    r"^Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\",
    r"^Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
    r"^System\\MountedDevices",
)
NOISE_FILES = (r"^users/[^/]+/AppData/Local/Temp/qel", r"^users/[^/]+/Temp/qel")


def unescape(text):
    return text.replace("\\\\", "\x00").replace("\\r", "\r").replace("\\n", "\n").replace("\\t", "\t").replace("\x00", "\\")


def read_transcript(path):
    records = []
    for line in open(path, encoding="utf-8", errors="replace").read().split("\n"):
        if ": " in line:
            kind, value = line.split(": ", 1)
            records.append((kind, value))
        elif line:
            records.append((line, ""))
    return records


def read_reg(path):
    """{key: {value name: value text}} of a Wine registry file."""
    keys, current, pending = {}, None, ""
    for raw in open(path, encoding="utf-8", errors="replace"):
        line = raw.rstrip("\n")
        if pending:
            line, pending = pending + line.lstrip(), ""
        if line.endswith("\\") and not line.endswith("\\\\"):
            pending = line[:-1]
            continue
        if line.startswith("["):
            current = line[1:line.rfind("]")].replace("\\\\", "\\")
            keys[current] = {}
        elif current is not None and line and not line.startswith("#") and "=" in line:
            name, value = split_value(line)
            keys[current][name] = value
    return keys


def split_value(line):
    if line.startswith('"'):
        end = 1
        while end < len(line):
            if line[end] == "\\":
                end += 2
                continue
            if line[end] == '"':
                break
            end += 1
        return line[1:end].replace('\\"', '"').replace("\\\\", "\\"), line[end + 2:]
    name, value = line.split("=", 1)
    return ("(default)" if name == "@" else name), value


def decode_reg_value(value):
    if value.startswith('str:"') or value.startswith('"'):
        text = value[value.index('"') + 1:-1]
        return "REG_SZ " + decode_wine_string(text)
    if value.startswith("dword:"):
        return "REG_DWORD %d" % int(value[6:], 16)
    if value.startswith("str(2):"):
        return "REG_EXPAND_SZ " + decode_wine_string(value[8:-1])
    return value


def decode_wine_string(text):
    text = re.sub(r"\\x([0-9a-fA-F]{1,4})", lambda m: chr(int(m.group(1), 16)), text)
    return text.replace('\\"', '"').replace("\\\\", "\\")


def registry_changes(before_dir, after_dir):
    lines = []
    for hive, name in (("HKLM", "system.reg"), ("HKCU", "user.reg")):
        before, after = read_reg(before_dir + "/" + name), read_reg(after_dir + "/" + name)
        for key in sorted(set(before) | set(after)):
            if any(re.search(p, key, re.I) for p in NOISE_KEYS):
                continue
            old, new = before.get(key, {}), after.get(key, {})
            if old == new and (key in before) == (key in after):
                continue
            mark = "+" if key not in before else "-" if key not in after else "*"
            lines.append("  %s %s\\%s" % (mark, hive, key))
            for value in sorted(set(old) | set(new)):
                if old.get(value) == new.get(value):
                    continue
                if value in new:
                    lines.append("      %s = %s" % (value, decode_reg_value(new[value])))
                else:
                    lines.append("      %s deleted" % value)
    return lines


def read_files(path):
    files = {}
    for line in open(path, encoding="utf-8", errors="replace"):
        kind, size, mtime, name = line.rstrip("\n").split(" ", 3)
        files[name] = (kind, int(size), mtime)
    return files


def file_changes(before_dir, after_dir):
    before, after = read_files(before_dir + "/files.txt"), read_files(after_dir + "/files.txt")
    lines = []
    for name in sorted(set(before) | set(after)):
        if not name or any(re.search(p, name) for p in NOISE_FILES):
            continue
        if name not in before:
            kind, size, _ = after[name]
            lines.append("  + C:/%s%s" % (name, "/" if kind == "d" else "  (%d bytes)" % size))
        elif name not in after:
            lines.append("  - C:/%s" % name)
        elif before[name] != after[name] and after[name][0] == "f":
            lines.append("  * C:/%s  (%d bytes)" % (name, after[name][1]))
    return lines


def print_optional(title, path, empty, keep_indent=False):
    print()
    print(title)
    print("\n".join("  " + l for l in read_lines(path, keep_indent)) or "  " + empty)


def read_lines(path, keep_indent=False):
    try:
        lines = [l.rstrip() for l in open(path, encoding="utf-8", errors="replace") if l.strip()]
    except OSError:
        return []
    return lines if keep_indent else [l.strip() for l in lines]


def reg_data(values, name):
    """The data of one value as the report prints it, without its type."""
    return decode_reg_value(values[name]).split(" ", 1)[-1] if name in values else "(missing)"


def summary(records, files, after_dir, work_dir):
    """A few sentences on the whole run, from the same sources as the sections below."""
    exits = [v for k, v in records if k == "exit"]
    finished = any(k == "message" and v.split(" ")[0] == "3014" for k, v in records)
    boxes = sum(1 for k, _ in records if k == "msgbox")
    lines = ["Exit code %s; %s; %s." % (
        exits[0] if exits else "none",
        "the listener window got 3014 (install finished)" if finished else "no 3014 reached the listener window",
        "%d message box(es)" % boxes if boxes else "no message box")]
    after = read_reg(after_dir + "/system.reg")
    product = after.get("Software\\Wow6432Node\\Navolo", {})
    uninstall = after.get("Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Navolo", {})
    if "AppPath" in product:
        folder = reg_data(product, "AppPath")
        prefix = "  + " + folder.replace("\\", "/") + "/"
        added = [l for l in files if l.startswith("  + ") and not l.endswith("/")]
        in_folder = sum(1 for l in added if l.startswith(prefix))
        links = sum(1 for l in added if ".lnk" in l)
        lines.append("Installed into %s: %d files; %d shortcuts (Start menu and desktop)." % (folder, in_folder, links))
        uninstaller = reg_data(uninstall, "UninstallString")
        present = any(l.startswith("  + " + uninstaller.replace("\\", "/") + "  ") for l in added)
        lines.append("Uninstall entry \"%s\" version %s, uninstaller %s%s; channel %s." % (
            reg_data(uninstall, "DisplayName"), reg_data(uninstall, "DisplayVersion"), uninstaller,
            "" if present else " (not in the payload)", reg_data(product, "UnionId")))
    else:
        lines.append("Nothing was installed: the product key has no AppPath.")
    if work_dir:
        state = [l.split()[3] for l in read_lines(work_dir + "/services.txt") if l.startswith("STATE")]
        lines.append("Search service nvss: %s." % (state[0] if state else "not installed"))
        kinds = [l.split()[1] for l in read_lines(work_dir + "/journal.txt") if l.startswith("stat_install ")]
        lines.append("Statistics: %s." % ("install reported as kind " + kinds[0] if kinds else "no install reported"))
    return lines


def main(transcript, before_dir, after_dir, installer, work_dir=None):
    records = read_transcript(transcript)
    print("Silent install of %s" % installer)
    print()
    files = file_changes(before_dir, after_dir)
    print("In short:")
    for line in summary(records, files, after_dir, work_dir):
        print("  " + line)
    print()
    print("Debug output:")
    for kind, value in records:
        if kind == "debug":
            print("  " + unescape(value).rstrip("\r\n").replace("\r\n", "\n  "))
    print()
    messages = [v for k, v in records if k == "message"]
    print("Messages to the listener window:")
    for value in messages:
        number = value.split(" ")[0]
        print("  %s%s" % (value, "  (install finished)" if number == "3014" else ""))
    if not messages:
        print("  none (no message 3014 arrived)")
    boxes = [v for k, v in records if k == "msgbox"]
    if boxes:
        print()
        print("Message boxes:")
        for value in boxes:
            print("  " + unescape(value).replace("\t", " | "))
    print()
    exits = [v for k, v in records if k == "exit"]
    print("Exit code: %s%s" % (exits[0] if exits else "none", "  (timed out)" if any(k == "timeout" for k, _ in records) else ""))
    print()
    print("Files written (outside C:/windows):")
    print("\n".join(files) or "  none")
    print()
    print("Registry values written:")
    print("\n".join(registry_changes(before_dir, after_dir)) or "  none")
    if work_dir:
        print_optional("Shortcuts, read back with lnkinfo:", work_dir + "/shortcuts.txt", "none", keep_indent=True)
        print_optional("The product's search service (sc query nvss):", work_dir + "/services.txt", "not installed")
        print_optional("Calls the statistics library received, in order:", work_dir + "/journal.txt", "none")


if __name__ == "__main__":
    main(*sys.argv[1:6])
