#include "ScriptArgs.h"

#include "../base/DebugOutput.h"
#include "../base/TextConvert.h"

#include <windows.h>

namespace qel {

std::wstring ArgText(lua_State* L, int index)
{
    size_t length = 0;
    const char* text = lua_tolstring(L, index, &length);
    return text != nullptr ? Utf8ToWide(text, length) : std::wstring();
}

lua_Integer ArgInteger(lua_State* L, int index) { return lua_tointegerx(L, index, nullptr); }

lua_Unsigned ArgUnsigned(lua_State* L, int index) { return lua_tounsignedx(L, index, nullptr); }

bool ArgFlag(lua_State* L, int index) { return lua_toboolean(L, index) != 0; }

bool ExpandPathArgument(std::wstring& path)
{
    wchar_t expanded[kPathChars];
    const DWORD needed = ExpandEnvironmentStringsW(path.c_str(), expanded, kPathChars);
    if (needed == 0 || needed > kPathChars) {
        XM_LOG(L"ExpandEnvironmentStrings failed, %u characters needed: %ls\r\n", static_cast<unsigned>(needed), path.c_str());
        path.clear();
        return false;
    }
    path.assign(expanded);
    return true;
}

void LogPathNotExists(const wchar_t* function, const std::wstring& path)
{
    XM_LOG(L"Fun:%ls, Description:%ls it's not exists!\r\n", function, path.c_str());
}

int PushBool(lua_State* L, bool value)
{
    lua_pushboolean(L, value ? 1 : 0);
    return 1;
}

int PushText(lua_State* L, const std::wstring& text)
{
    lua_pushstring(L, WideToUtf8(text).c_str());
    return 1;
}

int PushNumber(lua_State* L, lua_Number value)
{
    lua_pushnumber(L, value);
    return 1;
}

}  // namespace qel
