#include "ScriptApi.h"
#include "ScriptArgs.h"

#include "../base/DebugOutput.h"
#include "../base/Handles.h"
#include "../base/LaunchViaExplorer.h"
#include "../base/qelprocesstoolhelp.h"

#include <windows.h>
#include <psapi.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <tlhelp32.h>

using namespace qel;

namespace {

// Verbs that pin or unpin a program: they succeed whatever the shell says, and unpinning
// something that is gone is already done.
bool IsPinVerb(const std::wstring& verb)
{
    for (const wchar_t* pin : {L"Startunpin", L"Startpin", L"Taskbarunpin", L"Taskbarpin"})
        if (lstrcmpiW(verb.c_str(), pin) == 0)
            return true;
    return false;
}

bool IsUnpinVerb(const std::wstring& verb)
{
    return lstrcmpiW(verb.c_str(), L"Startunpin") == 0 || lstrcmpiW(verb.c_str(), L"Taskbarunpin") == 0;
}

bool ShellExecuteAndWait(const std::wstring& target, const std::wstring& parameters, const std::wstring& folder)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = target.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = folder.c_str();
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info))
        return false;
    CHandle process(info.hProcess);
    if (process)
        WaitForSingleObject(process.Get(), INFINITE);
    return true;
}

CHandle TakeProcessSnapshot()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    return CHandle(snapshot != INVALID_HANDLE_VALUE ? snapshot : nullptr);
}

// Argument 1 as a process id: a number, or a text that reads as one, is the id; any other text
// is an image name looked up in a snapshot.
DWORD ProcessIdArgument(lua_State* L)
{
    if (lua_isnumber(L, 1))
        return static_cast<DWORD>(ArgUnsigned(L, 1));
    CHandle snapshot = TakeProcessSnapshot();
    if (!snapshot)
        return kNoProcess;
    return FindProcessIdByName(snapshot.Get(), ArgText(L, 1).c_str());
}

int KillProcessOfArgument(lua_State* L)
{
    const DWORD processId = ProcessIdArgument(L);
    return PushBool(L, processId == kNoProcess || KillProcess(processId));
}

std::wstring LastArgumentText(lua_State* L)
{
    const int last = lua_gettop(L);
    return last > 0 ? ArgText(L, last) : std::wstring();
}

}  // namespace

int Lua_Exec(lua_State* L)
{
    std::wstring target = ArgText(L, 1);
    const std::wstring verb = ArgText(L, 2);
    std::wstring parameters;
    std::wstring folder;
    if (!PathIsURLW(target.c_str())) {
        ExpandPathArgument(target);
        if (!PathFileExistsW(target.c_str())) {
            if (IsUnpinVerb(verb))
                return PushBool(L, true);
            LogPathNotExists(L"Lua_Exec", target);
            return PushBool(L, false);
        }
        parameters = ArgText(L, 3);
        wchar_t parent[kPathChars];
        lstrcpynW(parent, target.c_str(), kPathChars);
        PathRemoveFileSpecW(parent);
        folder = parent;
    }
    if (ArgFlag(L, 5))
        return PushBool(L, LaunchViaExplorer(target, parameters) != 0);
    if (ArgFlag(L, 4))
        return PushBool(L, ShellExecuteAndWait(target, parameters, folder));
    const HINSTANCE result = ShellExecuteW(nullptr, verb.c_str(), target.c_str(), parameters.c_str(), folder.c_str(), SW_SHOWNORMAL);
    return PushBool(L, reinterpret_cast<INT_PTR>(result) > 32 || IsPinVerb(verb));
}

int Lua_ExplorerExec(lua_State* L)
{
    return PushBool(L, LaunchViaExplorer(ArgText(L, 1), ArgText(L, 2)) != 0);
}

int Lua_TaskKill(lua_State* L)
{
    if (!lua_isnil(L, 2)) {
        UINT message = WM_SYSCOMMAND;
        WPARAM wParam = SC_CLOSE;
        LPARAM lParam = 0;
        if (!lua_isnil(L, 3)) {
            message = static_cast<UINT>(ArgUnsigned(L, 3));
            wParam = static_cast<WPARAM>(ArgUnsigned(L, 4));
            lParam = static_cast<LPARAM>(ArgUnsigned(L, 5));
        }
        HWND window = FindWindowW(ArgText(L, 2).c_str(), nullptr);
        if (window != nullptr)
            PostMessageW(window, message, wParam, lParam);
    }
    return KillProcessOfArgument(L);
}

int Lua_GetOSVersion(lua_State* L)
{
    return PushNumber(L, LOBYTE(LOWORD(GetVersion())));
}

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

int Lua_IsWow64(lua_State* L)
{
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto isWow64Process = reinterpret_cast<IsWow64ProcessFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    return PushBool(L, isWow64Process != nullptr && isWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

int Lua_GetProcessId(lua_State* L)
{
    const std::wstring name = LastArgumentText(L);
    std::vector<DWORD> ids;
    CHandle snapshot = TakeProcessSnapshot();
    if (snapshot)
        ids = FindProcessIdsByName(snapshot.Get(), name.c_str());
    if (ids.empty() || !lua_checkstack(L, static_cast<int>(ids.size())))
        return PushNumber(L, -1);
    for (DWORD id : ids)
        lua_pushnumber(L, id);
    return static_cast<int>(ids.size());
}

int Lua_ExitWindows(lua_State* L)
{
    EnablePrivilege(L"SeShutdownPrivilege", true);
    return PushBool(L, ExitWindowsEx(static_cast<UINT>(ArgInteger(L, 1)), static_cast<DWORD>(ArgInteger(L, 2))) != FALSE);
}

int Lua_GetModuleFileName(lua_State* L)
{
    HMODULE module = lua_gettop(L) >= 1 ? GetModuleHandleW(ArgText(L, 1).c_str()) : nullptr;
    wchar_t path[kPathChars] = {};
    const DWORD length = GetModuleFileNameW(module, path, kPathChars);
    return PushText(L, std::wstring(path, length < kPathChars ? length : 0));
}

int Lua_GetCommandLineArgv(lua_State* L)
{
    int count = 0;
    CLocalMemory memory(reinterpret_cast<HLOCAL>(CommandLineToArgvW(GetCommandLineW(), &count)));
    wchar_t** argv = static_cast<wchar_t**>(memory.Get());
    if (argv == nullptr || count < 1)
        return 0;
    lua_createtable(L, count, 0);
    for (int i = 0; i < count; ++i) {
        PushText(L, argv[i]);
        lua_rawseti(L, -2, i + 1);
    }
    return 1;
}

int Lua_EnablePrivilege(lua_State* L)
{
    return PushBool(L, EnablePrivilege(ArgText(L, -2).c_str(), ArgFlag(L, -1)));
}

int Lua_GetImagePathByPid(lua_State* L)
{
    const int last = lua_gettop(L);
    const DWORD processId = static_cast<DWORD>(last > 0 ? ArgInteger(L, last) : 0);
    CHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
    if (!process)
        return 0;
    wchar_t image[kPathChars];
    const DWORD length = GetProcessImageFileNameW(process.Get(), image, kPathChars);
    if (length == 0)
        return 0;
    std::wstring path(image, length);
    CDeviceMap devices;
    if (!devices.MapDevicePathToDrive(path))
        return 0;
    return PushText(L, path);
}

int Lua_KillAllTaskByName(lua_State* L)
{
    return KillProcessOfArgument(L);
}

int Lua_ShellExec(lua_State* L)
{
    const std::wstring program = ArgText(L, 1);
    const std::wstring parameters = ArgText(L, 2);
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"open";
    info.lpFile = program.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_HIDE;
    const bool started = ShellExecuteExW(&info) != FALSE;
    CHandle process(info.hProcess);
    return PushBool(L, started);
}
