#include "DllManager.h"

#include "CallWords.h"
#include "ScriptArgs.h"
#include "ScriptObjects.h"

#include "../base/DebugOutput.h"
#include "../base/TextConvert.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

const char kDllManagerMetaTable[] = "DllManagerMetaTable";
const char kGLibTabMetaTable[] = "GlobalLibTableMetaTable";

// Text values below this are never addresses; for "astr" they name strings of the program's own
// string table.
constexpr uintptr_t kLowestAddress = 0x10000;

// Loads the library and pushes its object, or pushes nothing and returns false.
bool PushLibrary(lua_State* L, const std::wstring& name)
{
    HMODULE module = LoadLibraryW(name.c_str());
    if (module == nullptr)
        return false;
    auto* slot = static_cast<HMODULE*>(lua_newuserdata(L, sizeof(HMODULE)));
    *slot = module;
    luaL_setmetatable(L, kDllManagerMetaTable);
    return true;
}

int Load(lua_State* L)
{
    const int last = lua_gettop(L);
    const std::wstring name = last > 0 ? qel::ArgText(L, last) : std::wstring();
    if (PushLibrary(L, name))
        return 1;
    const DWORD error = GetLastError();
    lua_pushnil(L);
    lua_pushunsigned(L, error);
    return 2;
}

// Frees the library once: the object forgets the handle, so a second UnLoad frees nothing and a
// later Get finds no module.
int UnLoad(lua_State* L)
{
    const int last = lua_gettop(L);
    auto* slot = last > 0 ? static_cast<HMODULE*>(luaL_testudata(L, last, kDllManagerMetaTable)) : nullptr;
    if (slot != nullptr && *slot != nullptr) {
        FreeLibrary(*slot);
        *slot = nullptr;
    }
    lua_pushnil(L);
    return 1;
}

uint32_t ArgumentWord(lua_State* L, int index)
{
    switch (lua_type(L, index)) {
    case LUA_TNIL:
        return 0;
    case LUA_TBOOLEAN:
        return lua_toboolean(L, index) ? 1 : 0;
    case LUA_TNUMBER:
        return static_cast<uint32_t>(lua_tointegerx(L, index, nullptr));
    case LUA_TSTRING:
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(lua_tolstring(L, index, nullptr)));
    case LUA_TLIGHTUSERDATA:
    case LUA_TUSERDATA:
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(lua_touserdata(L, index)));
    default:
        lua_pushstring(L, "unknow argument type");
        lua_error(L);
        return 0;
    }
}

std::wstring ProgramString(uint32_t id)
{
    const wchar_t* text = nullptr;
    const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 && text != nullptr ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

void PushResult(lua_State* L, const char* type, uint32_t word)
{
    const uintptr_t address = word;
    if (type == nullptr) {
        lua_pushnil(L);
    } else if (lstrcmpA(type, "int") == 0) {
        lua_pushinteger(L, static_cast<int32_t>(word));
    } else if (lstrcmpA(type, "uint") == 0) {
        lua_pushunsigned(L, word);
    } else if (lstrcmpA(type, "bool") == 0) {
        lua_pushboolean(L, word != 0);
    } else if (lstrcmpA(type, "astr") == 0) {
        const char* text = reinterpret_cast<const char*>(address);
        qel::PushText(L, address < kLowestAddress ? ProgramString(word) : qel::AnsiToWide(text, std::strlen(text)));
    } else if (lstrcmpA(type, "wstr") == 0) {
        qel::PushText(L, address < kLowestAddress ? std::wstring() : std::wstring(reinterpret_cast<const wchar_t*>(address)));
    } else if (lstrcmpA(type, "ptr") == 0) {
        lua_pushlightuserdata(L, reinterpret_cast<void*>(address));
    } else {
        lua_pushnil(L);
    }
}

// The callable of an export. Upvalues: result type, caller-removes-arguments flag, address.
// The flag needs no code of its own: QelCallWords restores the stack pointer after every call,
// which removes the arguments a cdecl callee leaves and is a no-op after a stdcall one.
int CallExport(lua_State* L)
{
    const void* function = lua_touserdata(L, lua_upvalueindex(3));
    if (function == nullptr) {
        lua_pushinteger(L, 0);
        return 1;
    }
    const int count = lua_gettop(L);
    std::vector<uint32_t> words(static_cast<size_t>(count));
    for (int k = count; k >= 1; --k)
        words[static_cast<size_t>(k - 1)] = ArgumentWord(L, k);
    const uint32_t result = QelCallWords(function, words.data(), static_cast<uint32_t>(count));
    const DWORD error = GetLastError();
    PushResult(L, lua_tostring(L, lua_upvalueindex(1)), result);
    lua_pushunsigned(L, error);
    return 2;
}

int Get(lua_State* L)
{
    auto* slot = static_cast<HMODULE*>(luaL_testudata(L, 1, kDllManagerMetaTable));
    if (slot == nullptr || *slot == nullptr) {
        XM_LOG(L"if (nullptr == phMod)");
        lua_pushnil(L);
        lua_pushstring(L, "hModule is nil");
        return 2;
    }
    const char* exportName = lua_tolstring(L, 2, nullptr);
    FARPROC address = GetProcAddress(*slot, exportName != nullptr ? exportName : "");
    if (address == nullptr) {
        const DWORD error = GetLastError();
        OutputDebugStringW(L"if (nullptr == pfn)");
        lua_pushnil(L);
        lua_pushunsigned(L, error);
        return 2;
    }
    const int count = lua_gettop(L);
    if (count >= 3)
        lua_pushvalue(L, 3);
    else
        lua_pushnil(L);
    if (count >= 4)
        lua_pushvalue(L, 4);
    else
        lua_pushnil(L);
    lua_pushlightuserdata(L, reinterpret_cast<void*>(address));
    lua_pushcclosure(L, CallExport, 3);
    lua_pushinteger(L, 0);
    return 2;
}

// GLibTab[key]: loads the library named by a string or number key and keeps its object under
// that very key; a library that does not load is not kept, so the next access tries again.
int LibraryTableIndex(lua_State* L)
{
    const int type = lua_type(L, 2);
    if (type != LUA_TSTRING && type != LUA_TNUMBER) {
        lua_pushnil(L);
        return 1;
    }
    lua_pushvalue(L, 2);
    const std::wstring name = qel::ArgText(L, -1);
    lua_pop(L, 1);
    if (!PushLibrary(L, name)) {
        lua_pushnil(L);
        return 1;
    }
    lua_pushvalue(L, 2);
    lua_pushvalue(L, -2);
    lua_rawset(L, 1);
    return 1;
}

}  // namespace

int OpenDllManager(lua_State* L)
{
    static const luaL_Reg kMethods[] = {{"UnLoad", UnLoad}, {"Get", Get}, {nullptr, nullptr}};
    static const luaL_Reg kFunctions[] = {{"Load", Load}, {nullptr, nullptr}};
    return OpenMethodType(L, kDllManagerMetaTable, kMethods, kFunctions);
}

int OpenGLibTab(lua_State* L)
{
    static const luaL_Reg kMetaMethods[] = {{"__index", LibraryTableIndex}, {nullptr, nullptr}};
    lua_newtable(L);
    luaL_newmetatable(L, kGLibTabMetaTable);
    luaL_setfuncs(L, kMetaMethods, 0);
    lua_setmetatable(L, -2);
    return 1;
}
