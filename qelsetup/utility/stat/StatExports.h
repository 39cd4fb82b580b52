#pragma once

#include <cstdint>

// The entry points of the statistics library kvstat.dll (C exports, cdecl, narrow texts).
namespace qel {

extern "C" {
typedef bool (*StatInitFn)();
typedef void (*StatAddressFn)(const char* host, int port);
typedef void (*StatNumberFn)(int32_t value);
typedef void (*StatAppIdFn)(uint8_t appId);
typedef void (*StatVersionFn)(const char* version);
typedef void (*StatVersionExFn)(int32_t major, int32_t minor, int32_t build, int32_t revision);
typedef void (*StatVoidFn)();
typedef void (*StatMultiActionFn)(const int32_t* actions, int32_t count, uint8_t flag);
typedef int (*StatInstallFn)(int32_t kind);
typedef int (*StatHttpPostFn)(const char* url, const char* data, int32_t length, bool flag);
}

struct StatExportTable {
    StatInitFn stat_init = nullptr;
    StatAddressFn stat_proxy = nullptr;
    StatAddressFn stat_dispatch_addr = nullptr;
    StatAddressFn stat_online_addr = nullptr;
    StatAddressFn stat_action_addr = nullptr;
    StatAddressFn stat_install_addr = nullptr;
    StatAddressFn stat_loginout_addr = nullptr;
    StatNumberFn stat_unionid = nullptr;
    StatAppIdFn stat_appid = nullptr;
    StatNumberFn stat_level = nullptr;
    StatVersionFn stat_version = nullptr;
    StatVersionExFn stat_version_ex = nullptr;
    StatVoidFn stat_online = nullptr;
    StatVoidFn stat_offline = nullptr;
    StatNumberFn stat_action = nullptr;
    StatMultiActionFn stat_mutilaction = nullptr;
    StatInstallFn stat_install = nullptr;
    StatVoidFn stat_close = nullptr;
    StatInstallFn stat_app_install = nullptr;
    StatHttpPostFn stat_http_post = nullptr;
};

}  // namespace qel
