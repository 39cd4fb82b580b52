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
