#include "StartUp.h"

#include "AppInstance.h"
#include "CommandLine.h"
#include "GdiPlusSession.h"
#include "InstallMgr.h"
#include "InteractiveRun.h"
#include "ListenerWindow.h"

#include "../utility/base/DebugOutput.h"
#include "../utility/base/Handles.h"
#include "../utility/base/TextConvert.h"
#include "../utility/qelscriptengine/QELScriptEngine.h"

#include <windows.h>
#include <objbase.h>
#include <shlwapi.h>

#include <cwchar>

namespace qel {

namespace {

const wchar_t kListenWindowSwitch[] = L"InstallListenWnd";
const wchar_t kSilentSwitch[] = L"InstallSlience";

void DeleteOldInstallLog()
{
    wchar_t path[MAX_PATH + 32];
    const DWORD length = GetTempPathW(MAX_PATH, path);
    if (length == 0 || length >= MAX_PATH)
        return;
    PathAddBackslashW(path);
    if (wcslen(path) + wcslen(L"Tarvik\\Navolo\\Install.log") >= sizeof path / sizeof path[0])
        return;
    wcscat(path, L"Tarvik\\Navolo\\Install.log");
    DeleteFileW(path);
}

void ReadListenerWindow(const CCommandLine& commandLine)
{
    std::wstring value;
    SetListenerWindow(commandLine.Lookup(kListenWindowSwitch, value) ? wcstoul(value.c_str(), nullptr, 10) : 0);
}

std::wstring GetGlobalText(lua_State* L, const char* name)
{
    lua_getglobal(L, name);
    size_t length = 0;
    const char* text = lua_tolstring(L, -1, &length);
    std::wstring value = text != nullptr ? Utf8ToWide(text, length) : std::wstring();
    lua_pop(L, 1);
    return value;
}

long long GetGlobalInteger(lua_State* L, const char* name)
{
    lua_getglobal(L, name);
    const long long value = lua_tointegerx(L, -1, nullptr);
    lua_pop(L, 1);
    return value;
}

bool GetGlobalFlag(lua_State* L, const char* name)
{
    lua_getglobal(L, name);
    const bool value = lua_toboolean(L, -1) != 0;
    lua_pop(L, 1);
    return value;
}

void SetGlobalText(lua_State* L, const char* name, const std::wstring& value)
{
    lua_pushstring(L, WideToUtf8(value).c_str());
    lua_setglobal(L, name);
}

void SetGlobalFlag(lua_State* L, const char* name, bool value)
{
    lua_pushboolean(L, value ? 1 : 0);
    lua_setglobal(L, name);
}

bool IsSilentRun(lua_State* L, const CCommandLine& commandLine)
{
    std::wstring value;
    if (commandLine.Lookup(kSilentSwitch, value) && value == L"true")
        return true;
    return GetGlobalFlag(L, "global_enable_ss_install") && GetGlobalFlag(L, "global_ss_install");
}

void RunSilentInstall(lua_State* L)
{
    SetGlobalFlag(L, "global_ss_install", true);
    XM_LOG(L"global_ss_install==true ~!\r\n");
    XM_LOG(L"start ss install!");
    SetGlobalText(L, "InstallPath", GetGlobalText(L, "global_install_path"));

    CInstallMgr& manager = CInstallMgr::Instance();
    manager.BeforeInstall();
    manager.OnInstall();
    manager.BeforeComplete();
    manager.AfterComplete();

    NotifyListenerInstallFinished();
    CoUninitialize();
}

// Everything after the scripts are loaded: the instance guard, the first event and the run.
void RunLoadedInstaller(lua_State* L, const CCommandLine& commandLine)
{
    const std::wstring mutexName = GetGlobalText(L, "global_install_mutex_guid");
    const long long appId = GetGlobalInteger(L, "global_app_id");
    CHandle otherInstance(CreateAppInstance(mutexName, appId));
    if (otherInstance && !commandLine.Has(kSilentSwitch)) {
        XM_LOG(L"CreateAppInstance return true");
        return;
    }

    CoInitialize(nullptr);
    StartGdiPlusOnce();
    CInstallMgr::Instance().BeforeInit();

    if (IsSilentRun(L, commandLine))
        RunSilentInstall(L);
    else
        RunInteractive();
}

}  // namespace

int RunStartUp()
{
    DeleteOldInstallLog();

    CCommandLine commandLine;
    commandLine.Parse(GetCommandLineW());
    ReadListenerWindow(commandLine);

    QELScriptEngine& engine = QELScriptEngine::Instance();
    if (!engine.DoResLua(L"LUA", L"GLOBAL_VAR.LUAC")) {
        XM_LOG(L"DoResLua failed, GLOBAL_VAR.LUAC");
        return 0;
    }
    if (!engine.DoResLua(L"LUA", L"INSTSCRIPT.LUAC")) {
        XM_LOG(L"DoResLua failed, INSTSCRIPT.LUAC");
        return 0;
    }
    RunLoadedInstaller(engine.GetState(), commandLine);
    return 0;
}

}  // namespace qel
