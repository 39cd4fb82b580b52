#include "ScriptApi.h"

namespace {

struct ScriptFunction {
    const char* name;
    lua_CFunction function;
};

// The order in which the globals are created; every function of the API has its row here.
const ScriptFunction kScriptApi[] = {
    {"Lua_UnCompress7z", Lua_UnCompress7z},
    {"Lua_Exec", Lua_Exec},
    {"Lua_ExplorerExec", Lua_ExplorerExec},
    {"Lua_TaskKill", Lua_TaskKill},
    {"Lua_ExtractResource", Lua_ExtractResource},
    {"Lua_GetOSVersion", Lua_GetOSVersion},
    {"Lua_Logout", Lua_Logout},
    {"Lua_MsgBox", Lua_MsgBox},
    {"Lua_IsWow64", Lua_IsWow64},
    {"Lua_GetProcessId", Lua_GetProcessId},
    {"Lua_ExitWindows", Lua_ExitWindows},
    {"Lua_GetModuleFileName", Lua_GetModuleFileName},
    {"Lua_GetCommandLineArgv", Lua_GetCommandLineArgv},
    {"Lua_EnablePrivilege", Lua_EnablePrivilege},
    {"Lua_GetImagePathByPid", Lua_GetImagePathByPid},
    {"Lua_GetDriverInstallPath", Lua_GetDriverInstallPath},
    {"Lua_KillAllTaskByName", Lua_KillAllTaskByName},
    {"Lua_ShellExec", Lua_ShellExec},
};

}  // namespace

void RegisterScriptApi(lua_State* L)
{
    for (const ScriptFunction& entry : kScriptApi) {
        lua_pushcfunction(L, entry.function);
        lua_setglobal(L, entry.name);
    }
}
