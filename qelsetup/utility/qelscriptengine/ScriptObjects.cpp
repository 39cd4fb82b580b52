#include "ScriptObjects.h"

#include "DllManager.h"
#include "RawBuffer.h"
#include "StringObjects.h"

#include <initializer_list>

namespace {

struct ObjectType {
    const char* name;
    lua_CFunction open;
};

// Opened in this order, after the standard libraries and before the Lua_* functions.
const std::initializer_list<ObjectType> kObjectTypes = {
    {"AString", OpenAString},       {"WString", OpenWString}, {"RawBuffer", OpenRawBuffer},
    {"DllManager", OpenDllManager}, {"GLibTab", OpenGLibTab},
};

}  // namespace

void OpenScriptObjectTypes(lua_State* L)
{
    for (const ObjectType& type : kObjectTypes) {
        luaL_requiref(L, type.name, type.open, 1);
        lua_pop(L, 1);
    }
}

int OpenMethodType(lua_State* L, const char* metaTable, const luaL_Reg* methods, const luaL_Reg* functions)
{
    luaL_newmetatable(L, metaTable);
    luaL_setfuncs(L, methods, 0);
    lua_pushvalue(L, -1);
    lua_setfield(L, -2, "__index");
    lua_pop(L, 1);
    lua_newtable(L);
    luaL_setfuncs(L, functions, 0);
    return 1;
}
