#!/usr/bin/python3
"""Fails unless kvstat.dll exports exactly the statistics entry points and udp_kv.dll its sender,
both as 32-bit DLLs. usage: check_stat_exports.py BIN_DIR"""
import os
import sys

import pefile

EXPECTED = {
    "kvstat.dll": {
        "stat_init", "stat_proxy", "stat_dispatch_addr", "stat_online_addr", "stat_action_addr",
        "stat_install_addr", "stat_loginout_addr", "stat_unionid", "stat_appid", "stat_level",
        "stat_version", "stat_version_ex", "stat_online", "stat_offline", "stat_action",
        "stat_mutilaction", "stat_install", "stat_close", "stat_app_install", "stat_http_post",
    },
    "udp_kv.dll": {"udp_kv_send"},
}


def exports_of(path):
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXPORT"]])
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"] or not pe.is_dll():
        sys.exit("%s is not a 32-bit DLL" % path)
    return {e.name.decode() for e in pe.DIRECTORY_ENTRY_EXPORT.symbols if e.name}


def main(bin_dir):
    failed = False
    for name, expected in EXPECTED.items():
        found = exports_of(os.path.join(bin_dir, name))
        if found != expected:
            failed = True
            print("%s: missing %s, unexpected %s" % (name, sorted(expected - found), sorted(found - expected)))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main(sys.argv[1])
