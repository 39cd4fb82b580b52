#pragma once

#include <lua.hpp>

// DllManager loads a library and hands out callables for its exports; GLibTab loads a library
// the first time a script names it and keeps the library object under that name.
int OpenDllManager(lua_State* L);
int OpenGLibTab(lua_State* L);
