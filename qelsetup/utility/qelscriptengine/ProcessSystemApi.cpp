#include "ScriptApi.h"
#include "ScriptArgs.h"

#include "../base/DebugOutput.h"

#include <windows.h>

using namespace qel;

int Lua_Logout(lua_State* L)
{
    XM_LOG(L"%ls", ArgText(L, 1).c_str());
    return 0;
}

int Lua_MsgBox(lua_State* L)
{
    const int count = lua_gettop(L);
    std::wstring text;
    std::wstring caption;
    UINT style = 0;
    if (count >= 1 && count <= 3)
        text = ArgText(L, 1);
    if (count >= 2 && count <= 3)
        caption = ArgText(L, 2);
    if (count == 3)
        style = static_cast<UINT>(ArgUnsigned(L, 3));
    return PushNumber(L, MessageBoxW(nullptr, text.c_str(), caption.c_str(), style));
}
