#include "RawBuffer.h"

#include "ScriptArgs.h"
#include "ScriptObjects.h"

#include "../base/TextConvert.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace {

const char kRawBufferMetaTable[] = "RawBufferMetaTable";

// The memory an operand stands for: a full userdata's block (its size is known, so accesses are
// checked against it) or the address a light userdata holds (unchecked, as the caller vouches for
// it). Anything else, and a null address, is no memory at all.
struct Memory {
    unsigned char* base = nullptr;
    size_t size = 0;
    bool sized = false;
};

Memory MemoryAt(lua_State* L, int index)
{
    Memory memory;
    switch (lua_type(L, index)) {
    case LUA_TUSERDATA:
        memory.base = static_cast<unsigned char*>(lua_touserdata(L, index));
        memory.size = lua_rawlen(L, index);
        memory.sized = true;
        break;
    case LUA_TLIGHTUSERDATA:
        memory.base = static_cast<unsigned char*>(lua_touserdata(L, index));
        break;
    default:
        break;
    }
    return memory;
}

// The address of width bytes at offset, or null when they do not lie inside the memory.
unsigned char* Reach(const Memory& memory, lua_Integer offset, size_t width)
{
    if (memory.base == nullptr || offset < 0)
        return nullptr;
    if (memory.sized && (static_cast<size_t>(offset) > memory.size || width > memory.size - static_cast<size_t>(offset)))
        return nullptr;
    return memory.base + offset;
}

// Getters: object at -2, offset at -1.
unsigned char* GetterTarget(lua_State* L, size_t width)
{
    return Reach(MemoryAt(L, -2), lua_tointegerx(L, -1, nullptr), width);
}

// Setters: object at -3, offset at -2, value at -1.
unsigned char* SetterTarget(lua_State* L, size_t width)
{
    return Reach(MemoryAt(L, -3), lua_tointegerx(L, -2, nullptr), width);
}

template <class T>
int GetNumber(lua_State* L)
{
    unsigned char* at = GetterTarget(L, sizeof(T));
    if (at == nullptr) {
        lua_pushnil(L);
        return 1;
    }
    T value;
    std::memcpy(&value, at, sizeof value);
    lua_pushnumber(L, static_cast<lua_Number>(value));
    return 1;
}

// Signed widths go through a signed 32-bit integer, unsigned ones keep the low bits; both round
// to the nearest integer, ties to even.
template <class T>
int SetNumber(lua_State* L)
{
    unsigned char* at = SetterTarget(L, sizeof(T));
    if (at == nullptr)
        return 0;
    T value;
    if (std::is_signed<T>::value)
        value = static_cast<T>(static_cast<int32_t>(lua_tointegerx(L, -1, nullptr)));
    else
        value = static_cast<T>(lua_tounsignedx(L, -1, nullptr));
    std::memcpy(at, &value, sizeof value);
    return 0;
}

// The units from the offset up to the first zero unit, or to the end of a sized block.
template <class Unit>
std::basic_string<Unit> TextFrom(lua_State* L)
{
    const Memory memory = MemoryAt(L, -2);
    const lua_Integer offset = lua_tointegerx(L, -1, nullptr);
    const Unit* text = reinterpret_cast<const Unit*>(Reach(memory, offset, 0));
    if (text == nullptr)
        return std::basic_string<Unit>();
    if (!memory.sized)
        return std::basic_string<Unit>(text);
    const size_t room = (memory.size - static_cast<size_t>(offset)) / sizeof(Unit);
    size_t length = 0;
    while (length < room && text[length] != 0)
        ++length;
    return std::basic_string<Unit>(text, length);
}

int GetWString(lua_State* L)
{
    if (GetterTarget(L, 0) == nullptr) {
        lua_pushnil(L);
        return 1;
    }
    return qel::PushText(L, TextFrom<wchar_t>(L));
}

int GetAString(lua_State* L)
{
    if (GetterTarget(L, 0) == nullptr) {
        lua_pushnil(L);
        return 1;
    }
    return qel::PushText(L, qel::AnsiToWide(TextFrom<char>(L)));
}

int GetBoolean(lua_State* L)
{
    unsigned char* at = GetterTarget(L, 4);
    if (at == nullptr) {
        lua_pushnil(L);
        return 1;
    }
    uint32_t value;
    std::memcpy(&value, at, sizeof value);
    lua_pushboolean(L, value != 0);
    return 1;
}

int GetPointer(lua_State* L)
{
    unsigned char* at = GetterTarget(L, 0);
    if (at == nullptr)
        lua_pushnil(L);
    else
        lua_pushlightuserdata(L, at);
    return 1;
}

// Copies the raw bytes of the value: a userdata's whole block (terminator and spare capacity
// included) or a Lua string's bytes. Values without bytes of their own copy nothing.
int SetBlock(lua_State* L)
{
    const void* source = nullptr;
    size_t count = 0;
    if (lua_type(L, -1) == LUA_TUSERDATA) {
        source = lua_touserdata(L, -1);
        count = lua_rawlen(L, -1);
    } else if (lua_type(L, -1) == LUA_TSTRING) {
        source = lua_tolstring(L, -1, &count);
    }
    unsigned char* at = SetterTarget(L, count);
    if (at != nullptr && source != nullptr && count > 0)
        std::memmove(at, source, count);
    return 0;
}

int SetBoolean(lua_State* L)
{
    unsigned char* at = SetterTarget(L, 4);
    if (at == nullptr)
        return 0;
    const uint32_t value = lua_toboolean(L, -1) ? 1 : 0;
    std::memcpy(at, &value, sizeof value);
    return 0;
}

int SetPointer(lua_State* L)
{
    unsigned char* at = SetterTarget(L, 4);
    if (at == nullptr)
        return 0;
    const int type = lua_type(L, -1);
    const void* pointer = type == LUA_TUSERDATA || type == LUA_TLIGHTUSERDATA ? lua_touserdata(L, -1) : nullptr;
    const uint32_t value = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
    std::memcpy(at, &value, sizeof value);
    return 0;
}

int New(lua_State* L)
{
    const lua_Unsigned size = lua_tounsignedx(L, 1, nullptr);
    if (size == 0) {
        lua_pushnil(L);
        return 1;
    }
    void* block = lua_newuserdata(L, size);
    std::memset(block, 0, size);
    luaL_setmetatable(L, kRawBufferMetaTable);
    return 1;
}

const luaL_Reg kMethods[] = {
    {"OffsetGetAsInt32", GetNumber<int32_t>},   {"OffsetGetAsUInt32", GetNumber<uint32_t>},
    {"OffsetGetAsInt16", GetNumber<int16_t>},   {"OffsetGetAsUInt16", GetNumber<uint16_t>},
    {"OffsetGetAsInt8", GetNumber<int8_t>},     {"OffsetGetAsUInt8", GetNumber<uint8_t>},
    {"OffsetGetAsWString", GetWString},         {"OffsetGetAsAString", GetAString},
    {"OffsetGetAsBoolean", GetBoolean},         {"OffsetGetAsPointer", GetPointer},
    {"OffsetSetAsInt32", SetNumber<int32_t>},   {"OffsetSetAsUInt32", SetNumber<uint32_t>},
    {"OffsetSetAsInt16", SetNumber<int16_t>},   {"OffsetSetAsUInt16", SetNumber<uint16_t>},
    {"OffsetSetAsInt8", SetNumber<int8_t>},     {"OffsetSetAsUInt8", SetNumber<uint8_t>},
    {"OffsetSetAsWString", SetBlock},           {"OffsetSetAsAString", SetBlock},
    {"OffsetSetAsBoolean", SetBoolean},         {"OffsetSetAsPointer", SetPointer},
    {nullptr, nullptr},
};

}  // namespace

int OpenRawBuffer(lua_State* L)
{
    static const luaL_Reg kFunctions[] = {{"New", New}, {nullptr, nullptr}};
    return OpenMethodType(L, kRawBufferMetaTable, kMethods, kFunctions);
}
