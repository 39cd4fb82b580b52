#include "ScriptApi.h"

namespace {

struct ScriptFunction {
    const char* name;
    lua_CFunction function;
};

// The order in which the globals are created; every function of the API has its row here.
const ScriptFunction kScriptApi[] = {
    {"Lua_UnCompress7z", Lua_UnCompress7z},
    {"Lua_ExtractResource", Lua_ExtractResource},
    {"Lua_Logout", Lua_Logout},
    {"Lua_MsgBox", Lua_MsgBox},
    {"Lua_GetDriverInstallPath", Lua_GetDriverInstallPath},
};

}  // namespace

void RegisterScriptApi(lua_State* L)
{
    for (const ScriptFunction& entry : kScriptApi) {
        lua_pushcfunction(L, entry.function);
        lua_setglobal(L, entry.name);
    }
}
