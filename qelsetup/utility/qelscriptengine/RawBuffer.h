#pragma once

#include <lua.hpp>

// RawBuffer: a zero-filled block of memory owned by Lua, read and written at byte offsets as
// integers, booleans, pointers or texts.
int OpenRawBuffer(lua_State* L);
