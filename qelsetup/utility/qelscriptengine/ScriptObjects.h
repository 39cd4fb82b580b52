#pragma once

#include <lua.hpp>

// The script object types (AString, WString, RawBuffer, DllManager) and the library table
// GLibTab: each is opened with luaL_requiref, so it is a global and an entry of package.loaded.
void OpenScriptObjectTypes(lua_State* L);

// Registers metaTable with the methods and __index pointing at the metatable itself (so that
// obj:Method() works), and pushes the type's global table of functions.
int OpenMethodType(lua_State* L, const char* metaTable, const luaL_Reg* methods, const luaL_Reg* functions);
