#include "StringObjects.h"

#include "ScriptArgs.h"

#include "../base/TextConvert.h"

#include <windows.h>

#include <cstring>
#include <limits>

namespace {

const char kAStringMetaTable[] = "AStringMetaTable";
const char kWStringMetaTable[] = "WStringMetaTable";

bool HasMetaTable(lua_State* L, int index, const char* name)
{
    if (lua_type(L, index) != LUA_TUSERDATA || !lua_getmetatable(L, index))
        return false;
    luaL_getmetatable(L, name);
    const bool same = lua_rawequal(L, -1, -2) != 0;
    lua_pop(L, 2);
    return same;
}

// A string object's buffer and its capacity in units. The text ends at the first zero unit or,
// when a called function filled the buffer completely, at the capacity.
template <class Unit>
struct Buffer {
    Unit* data = nullptr;
    size_t capacity = 0;

    size_t Length() const
    {
        size_t length = 0;
        while (length < capacity && data[length] != 0)
            ++length;
        return length;
    }
    std::basic_string<Unit> Text() const { return std::basic_string<Unit>(data, Length()); }
};

template <class Unit>
Buffer<Unit> BufferAt(lua_State* L, int index, const char* metaTable)
{
    Buffer<Unit> buffer;
    if (HasMetaTable(L, index, metaTable)) {
        buffer.data = static_cast<Unit*>(lua_touserdata(L, index));
        buffer.capacity = lua_rawlen(L, index) / sizeof(Unit);
    }
    return buffer;
}

bool IsLuaText(lua_State* L, int index)
{
    const int type = lua_type(L, index);
    return type == LUA_TSTRING || type == LUA_TNUMBER;
}

// What tells the two types apart; everything else is written once for both.
struct Narrow {
    using Unit = char;
    static constexpr const char* kMetaTable = kAStringMetaTable;
    static std::string TextOf(lua_State* L, int index) { return qel::ToNarrowText(L, index); }
    static std::string FromLua(const std::wstring& text) { return qel::WideToAnsi(text); }
    static std::wstring ToWide(const std::string& text) { return qel::AnsiToWide(text); }
    // A byte is widened as a signed value: 0x80 and above become 0xFF80 to 0xFFFF.
    static wchar_t UnitAsWide(char unit) { return static_cast<wchar_t>(static_cast<short>(static_cast<signed char>(unit))); }
};

struct Wide {
    using Unit = wchar_t;
    static constexpr const char* kMetaTable = kWStringMetaTable;
    static std::wstring TextOf(lua_State* L, int index) { return qel::ToWideText(L, index); }
    static std::wstring FromLua(const std::wstring& text) { return text; }
    static std::wstring ToWide(const std::wstring& text) { return text; }
    static wchar_t UnitAsWide(wchar_t unit) { return unit; }
};

template <class T>
void PushObject(lua_State* L, const std::basic_string<typename T::Unit>& text, size_t capacity)
{
    using Unit = typename T::Unit;
    if (capacity > std::numeric_limits<size_t>::max() / sizeof(Unit))
        luaL_error(L, "not enough memory");
    Unit* data = static_cast<Unit*>(lua_newuserdata(L, capacity * sizeof(Unit)));
    std::memset(data, 0, capacity * sizeof(Unit));
    std::memcpy(data, text.data(), text.size() * sizeof(Unit));
    luaL_setmetatable(L, T::kMetaTable);
}

template <class T>
int New(lua_State* L)
{
    const lua_Integer size = lua_tointegerx(L, 1, nullptr);
    std::basic_string<typename T::Unit> text;
    if (lua_gettop(L) <= 1) {
        if (size < 1) {
            lua_pushnil(L);
            return 1;
        }
    } else {
        text = T::TextOf(L, 2);
    }
    const size_t capacity = size > 0 && text.size() < static_cast<size_t>(size) ? static_cast<size_t>(size) : text.size() + 1;
    PushObject<T>(L, text, capacity);
    return 1;
}

template <class T>
int Length(lua_State* L)
{
    lua_pushinteger(L, static_cast<lua_Integer>(BufferAt<typename T::Unit>(L, 1, T::kMetaTable).Length()));
    return 1;
}

template <class T>
int ToString(lua_State* L)
{
    const std::string utf8 = qel::WideToUtf8(T::ToWide(BufferAt<typename T::Unit>(L, 1, T::kMetaTable).Text()));
    lua_pushlstring(L, utf8.data(), utf8.size());
    return 1;
}

template <class T>
int Concat(lua_State* L)
{
    const auto joined = T::TextOf(L, 1) + T::TextOf(L, 2);
    PushObject<T>(L, joined, joined.size() + 1);
    return 1;
}

template <class T>
int Equal(lua_State* L)
{
    const auto left = BufferAt<typename T::Unit>(L, 1, T::kMetaTable);
    const auto right = BufferAt<typename T::Unit>(L, 2, T::kMetaTable);
    lua_pushboolean(L, left.data != nullptr && right.data != nullptr && left.Text() == right.Text());
    return 1;
}

// obj[i]: the unit at zero-based position i; nil outside the buffer.
template <class T>
int Index(lua_State* L)
{
    const auto buffer = BufferAt<typename T::Unit>(L, 1, T::kMetaTable);
    const lua_Integer position = lua_tointegerx(L, 2, nullptr);
    if (buffer.data == nullptr || position < 0 || static_cast<size_t>(position) >= buffer.capacity) {
        lua_pushnil(L);
        return 1;
    }
    const wchar_t unit = T::UnitAsWide(buffer.data[position]);
    const std::string utf8 = unit != 0 ? qel::WideToUtf8(&unit, 1) : std::string();
    lua_pushlstring(L, utf8.data(), utf8.size());
    return 1;
}

// obj[i] = v: replaces one unit inside the text, never the first one and never the terminator.
template <class T>
int NewIndex(lua_State* L)
{
    const auto buffer = BufferAt<typename T::Unit>(L, 1, T::kMetaTable);
    const lua_Integer position = lua_tointegerx(L, 2, nullptr);
    const auto value = T::FromLua(qel::ArgText(L, 3));
    if (buffer.data != nullptr && position >= 1 && static_cast<size_t>(position) < buffer.Length() && !value.empty())
        buffer.data[position] = value[0];
    return 0;
}

template <class T>
int Open(lua_State* L)
{
    static const luaL_Reg kMetaMethods[] = {
        {"__index", Index<T>},   {"__newindex", NewIndex<T>}, {"__len", Length<T>},
        {"__tostring", ToString<T>}, {"__concat", Concat<T>},  {"__eq", Equal<T>},
        {nullptr, nullptr},
    };
    static const luaL_Reg kFunctions[] = {{"New", New<T>}, {nullptr, nullptr}};
    luaL_newmetatable(L, T::kMetaTable);
    lua_pushvalue(L, -1);
    lua_setfield(L, -2, "__index");
    luaL_setfuncs(L, kMetaMethods, 0);
    lua_pop(L, 1);
    luaL_newlib(L, kFunctions);
    return 1;
}

}  // namespace

int OpenAString(lua_State* L) { return Open<Narrow>(L); }
int OpenWString(lua_State* L) { return Open<Wide>(L); }

namespace qel {

std::wstring ToWideText(lua_State* L, int index)
{
    if (IsLuaText(L, index))
        return qel::ArgText(L, index);
    if (HasMetaTable(L, index, kAStringMetaTable))
        return AnsiToWide(BufferAt<char>(L, index, kAStringMetaTable).Text());
    return BufferAt<wchar_t>(L, index, kWStringMetaTable).Text();
}

std::string ToNarrowText(lua_State* L, int index)
{
    if (IsLuaText(L, index))
        return WideToAnsi(qel::ArgText(L, index));
    if (HasMetaTable(L, index, kWStringMetaTable))
        return WideToAnsi(BufferAt<wchar_t>(L, index, kWStringMetaTable).Text());
    return BufferAt<char>(L, index, kAStringMetaTable).Text();
}

}  // namespace qel
