#include "ScriptCallback.h"

#include "QELScriptEngine.h"

#include "../base/DebugOutput.h"
#include "../base/TextConvert.h"

ScriptCallback::ScriptCallback(lua_State* L, int index) : m_state(L)
{
    if (!lua_isfunction(L, index))
        return;
    lua_pushvalue(L, index);
    m_ref = luaL_ref(L, LUA_REGISTRYINDEX);
}

ScriptCallback::~ScriptCallback()
{
    if (m_ref >= 0)
        luaL_unref(m_state, LUA_REGISTRYINDEX, m_ref);
}

bool ScriptCallback::Call(const std::wstring* text, const unsigned int* number, lua_Integer* result) const
{
    const int top = lua_gettop(m_state);
    lua_rawgeti(m_state, LUA_REGISTRYINDEX, m_ref);
    int argumentCount = 0;
    if (text != nullptr) {
        lua_pushstring(m_state, qel::WideToUtf8(*text).c_str());
        ++argumentCount;
    }
    if (number != nullptr) {
        lua_pushnumber(m_state, static_cast<lua_Number>(*number));
        ++argumentCount;
    }
    if (QELScriptEngine::CallWithErrorHandler(m_state, argumentCount, 1) != LUA_OK) {
        size_t length = 0;
        const char* message = lua_tolstring(m_state, -1, &length);
        XM_LOG(L"%ls\r\n", qel::Utf8ToWide(message, message != nullptr ? length : 0).c_str());
        lua_settop(m_state, top);
        return false;
    }
    if (result != nullptr)
        *result = lua_tointegerx(m_state, -1, nullptr);
    lua_settop(m_state, top);
    return true;
}

int ScriptCallback::Invoke(const std::wstring& text, unsigned int number) const
{
    lua_Integer result = 0;
    if (!Call(&text, &number, &result))
        return 2;
    return static_cast<int>(result);
}

void ScriptCallback::Notify(const std::wstring& text) const
{
    Call(&text, nullptr, nullptr);
}
