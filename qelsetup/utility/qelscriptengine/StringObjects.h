#pragma once

#include <lua.hpp>

#include <string>

// AString (text in the thread's ANSI code page) and WString (UTF-16): zero-terminated character
// buffers owned by Lua, for system functions called through DllManager.
int OpenAString(lua_State* L);
int OpenWString(lua_State* L);

namespace qel {

// The text of a Lua string or number (UTF-8), of an AString or of a WString at index; anything
// else is the empty text. An object's text ends at its first zero or at its capacity.
std::wstring ToWideText(lua_State* L, int index);
std::string ToNarrowText(lua_State* L, int index);

}  // namespace qel
