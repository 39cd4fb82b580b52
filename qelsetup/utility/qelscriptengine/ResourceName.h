#pragma once

#include <lua.hpp>

#include <windows.h>

#include <string>

// A resource of the installer's own executable named by a script: a number, or a text that
// reads as one, is an integer identifier cut to 16 bits; any other value is a name.
struct CResourceName {
    std::wstring text;
    WORD id = 0;
    bool numeric = false;

    LPCWSTR Get() const { return numeric ? MAKEINTRESOURCEW(id) : text.c_str(); }
};

CResourceName ArgResourceName(lua_State* L, int index);
