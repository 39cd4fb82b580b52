#pragma once

#include <lua.hpp>

// The Lua_* functions of the script API, declared by family; each family lives in its own file
// beside this one. RegisterScriptApi sets them as globals in the engine's fixed order.

// ProcessSystemApi.cpp: processes, the system, messages to the user.
int Lua_Logout(lua_State* L);
int Lua_MsgBox(lua_State* L);

void RegisterScriptApi(lua_State* L);
