#pragma once

#include <lua.hpp>

#include <string>

// How every Lua_* function reads its arguments and pushes its results. Nothing here raises a
// Lua error: a missing or unusable argument reads as the empty text, zero or false.
namespace qel {

constexpr size_t kPathChars = 260;

// A string as it is, a number in its Lua text form (the slot becomes that string), anything
// else as the empty text; converted from UTF-8.
std::wstring ArgText(lua_State* L, int index);
lua_Integer ArgInteger(lua_State* L, int index);
lua_Unsigned ArgUnsigned(lua_State* L, int index);
// Lua truth: nil, false and a missing argument are false; everything else, 0 included, is true.
bool ArgFlag(lua_State* L, int index);

// Expands environment variables into at most kPathChars characters (terminator included).
// A text whose expansion does not fit is refused: path becomes empty and the result is false.
bool ExpandPathArgument(std::wstring& path);

// "Fun:<function>, Description:<path> it's not exists!"
void LogPathNotExists(const wchar_t* function, const std::wstring& path);

int PushBool(lua_State* L, bool value);
int PushText(lua_State* L, const std::wstring& text);
int PushNumber(lua_State* L, lua_Number value);

}  // namespace qel
