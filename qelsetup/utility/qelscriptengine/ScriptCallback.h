#pragma once

#include <lua.hpp>

#include <string>

// A script function handed to a native operation, kept as a registry reference for as long as
// the operation runs. A negative reference means no function was given.
class ScriptCallback
{
public:
    // Takes a reference on the function at index; any other value gives an empty callback.
    ScriptCallback(lua_State* L, int index);
    ~ScriptCallback();
    ScriptCallback(const ScriptCallback&) = delete;
    ScriptCallback& operator=(const ScriptCallback&) = delete;

    bool IsSet() const { return m_ref >= 0; }

    // Calls the function with (text, number); its result read as an integer (not a number: 0).
    // An error that escaped the message handler gives 2.
    int Invoke(const std::wstring& text, unsigned int number) const;

    // Calls the function with (text) and drops its result.
    void Notify(const std::wstring& text) const;

private:
    bool Call(const std::wstring* text, const unsigned int* number, lua_Integer* result) const;

    int m_ref = LUA_NOREF;
    lua_State* m_state = nullptr;
};
