#pragma once

#include <lua.hpp>

// The script object types (AString, WString, RawBuffer, DllManager) and the library table
// GLibTab: each is opened with luaL_requiref, so it is a global and an entry of package.loaded.
void OpenScriptObjectTypes(lua_State* L);
