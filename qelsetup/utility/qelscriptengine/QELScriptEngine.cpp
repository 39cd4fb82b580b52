#include "QELScriptEngine.h"

#include "ScriptApi.h"
#include "ScriptObjects.h"

#include "../base/DebugOutput.h"
#include "../base/Handles.h"
#include "../base/TextConvert.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstdio>
#include <stdexcept>

namespace {

// Creating the engine here makes the state exist before the entry point runs.
QELScriptEngine& g_engine = QELScriptEngine::Instance();

const wchar_t kErrorFeedbackRequest[] = L"请向我们反馈以上错误信息，以便我们改善产品质量！";
const wchar_t kErrorCaption[] = L":-( 杯具，脚本执行时发生错误";

struct StandardLibrary {
    const char* name;
    lua_CFunction open;
};

const StandardLibrary kStandardLibraries[] = {
    {"_G", luaopen_base},           {"package", luaopen_package}, {"coroutine", luaopen_coroutine},
    {"table", luaopen_table},       {"io", luaopen_io},           {"os", luaopen_os},
    {"string", luaopen_string},     {"bit32", luaopen_bit32},     {"math", luaopen_math},
    {"debug", luaopen_debug},
};

void AppendFormatted(std::string& report, const char* format, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    const int written = vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (written > 0)
        report.append(buffer, static_cast<size_t>(written) < sizeof buffer ? static_cast<size_t>(written) : sizeof buffer - 1);
}

}  // namespace

QELScriptEngine& QELScriptEngine::Instance()
{
    static QELScriptEngine engine;
    return engine;
}

QELScriptEngine::QELScriptEngine()
{
    m_state = luaL_newstate();
    if (m_state == nullptr)
        throw std::runtime_error("luaL_newstate failed");
    OpenStandardLibraries();
    OpenScriptObjectTypes(m_state);
    RegisterScriptApi(m_state);
}

QELScriptEngine::~QELScriptEngine()
{
    if (m_state != nullptr)
        lua_close(m_state);
}

void QELScriptEngine::OpenStandardLibraries()
{
    for (const StandardLibrary& library : kStandardLibraries) {
        luaL_requiref(m_state, library.name, library.open, 1);
        lua_pop(m_state, 1);
    }
}

bool QELScriptEngine::DoResLua(const wchar_t* type, const wchar_t* name)
{
    HRSRC found = FindResourceW(nullptr, name, type);
    qel::CResourceHandle loaded(found != nullptr ? LoadResource(nullptr, found) : nullptr);
    if (!loaded) {
        XM_LOG(L"LoadResource failed. Type : %ls ID : %ls\r\n", type, name);
        XM_FAILURE_TAILS();
        return false;
    }
    const void* data = LockResource(loaded.Get());
    if (data == nullptr) {
        XM_FAILURE(L"LockResource failed.");
        return false;
    }
    const DWORD size = SizeofResource(nullptr, found);
    if (size == 0) {
        XM_LOG(L"ResSize == 0\r\n");
        return false;
    }
    const std::string chunkName = qel::WideToAnsi(name, wcslen(name));
    return RunChunk(static_cast<const char*>(data), size, chunkName.c_str());
}

bool QELScriptEngine::RunChunk(const char* data, size_t size, const char* chunkName)
{
    if (luaL_loadbufferx(m_state, data, size, chunkName, nullptr) != LUA_OK) {
        size_t length = 0;
        const char* message = lua_tolstring(m_state, -1, &length);
        XM_LOG(L"%ls\r\n", qel::Utf8ToWide(message, message != nullptr ? length : 0).c_str());
        XM_LOG(L"luaL_loadbuffer failed!\r\n");
        lua_pop(m_state, 1);
        return false;
    }
    return CallWithErrorHandler(m_state, 0, 0) == LUA_OK;
}

void QELScriptEngine::CallEvent(const char* name)
{
    lua_getglobal(m_state, name);
    if (lua_isfunction(m_state, -1)) {
        CallWithErrorHandler(m_state, 0, 0);
        return;
    }
    lua_pop(m_state, 1);
}

int QELScriptEngine::CallWithErrorHandler(lua_State* L, int argumentCount, int resultCount)
{
    const int base = lua_gettop(L) - argumentCount;
    lua_pushcfunction(L, ScriptErrorHandler);
    lua_insert(L, base);
    const int status = lua_pcall(L, argumentCount, resultCount, base);
    lua_remove(L, base);
    return status;
}

int QELScriptEngine::ScriptErrorHandler(lua_State* L)
{
    const char* message = lua_tolstring(L, -1, nullptr);
    std::string report = message != nullptr ? message : "(null)";
    report += "\n";
    AppendCallStack(L, 0, report);
    std::wstring text = qel::AnsiToWide(report);
    text += kErrorFeedbackRequest;
    MessageBoxW(nullptr, text.c_str(), kErrorCaption, MB_ICONERROR);
    ExitProcess(0);
}

void QELScriptEngine::AppendCallStack(lua_State* L, int level, std::string& report)
{
    for (;; ++level) {
        lua_Debug ar;
        if (lua_getstack(L, level, &ar) == 0)
            return;
        lua_getinfo(L, "nSlu", &ar);
        const char* prefix = "--  | ";
        if (level == 0) {
            report += "      <call stack>\n";
            prefix = "-> | ";
        }
        if (ar.name != nullptr)
            AppendFormatted(report, "%s%s() : line %d [%s : line %d]\n", prefix, ar.name, ar.currentline, ar.source, ar.linedefined);
        else
            AppendFormatted(report, "%sunknown : line %d [%s : line %d]\n", prefix, ar.currentline, ar.source, ar.linedefined);
    }
}

void QELScriptEngine::LeaveCurrentDirectory(const wchar_t* path)
{
    wchar_t current[MAX_PATH];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, current);
    if (length == 0 || length >= MAX_PATH || wcscmp(current, path) != 0)
        return;
    PathRemoveFileSpecW(current);
    SetCurrentDirectoryW(current);
}
