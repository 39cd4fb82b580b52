#pragma once

#include <lua.hpp>

#include <functional>
#include <string>

// Owner of the process's one Lua state. The settings script, the install script and every
// native caller share its globals; nothing else is kept here.
class QELScriptEngine
{
public:
    static QELScriptEngine& Instance();

    lua_State* GetState() const { return m_state; }

    // Loads a resource of this program as a chunk (source text or Lua 5.2 bytecode) and runs it.
    bool DoResLua(const wchar_t* type, const wchar_t* name);

    // Calls the global function of this name without arguments; anything else is skipped.
    void CallEvent(const char* name);

    // Protected call of the function below the arguments with ScriptErrorHandler as the message
    // handler. Returns the lua_pcall status.
    static int CallWithErrorHandler(lua_State* L, int argumentCount, int resultCount);

    // Message handler: shows the error and the call stack, then ends the process with code 0.
    static int ScriptErrorHandler(lua_State* L);

    static void AppendCallStack(lua_State* L, int level, std::string& report);

    // Steps out of path when it is the current directory, so removing it is never blocked.
    static void LeaveCurrentDirectory(const wchar_t* path);

    // Called with the full path of a file that could not be deleted and the system error.
    using DeleteErrorCallback = std::function<void(const std::wstring& path, unsigned long error)>;

    // Removes a directory tree depth first (read-only files included), or deletes a single file
    // when path is not a directory. What cannot be removed stays; nothing is reported. The Ex
    // form tells callback (when set) about every file that could not be deleted. FileApi.cpp.
    static void DeleteDirectories(const std::wstring& path);
    static void DeleteDirectoriesEx(const std::wstring& path, const DeleteErrorCallback& callback);

    // Runs a chunk given as bytes; used by DoResLua and by the script host.
    bool RunChunk(const char* data, size_t size, const char* chunkName);

    QELScriptEngine(const QELScriptEngine&) = delete;
    QELScriptEngine& operator=(const QELScriptEngine&) = delete;

private:
    QELScriptEngine();
    ~QELScriptEngine();

    void OpenStandardLibraries();

    lua_State* m_state = nullptr;
};
