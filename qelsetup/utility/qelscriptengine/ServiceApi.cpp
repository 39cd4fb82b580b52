// Services and component registration: start or stop a service and wait for it, register a
// COM server in this process or through the system's regsvr32.

#include "ScriptApi.h"
#include "ScriptArgs.h"

#include "../base/DebugOutput.h"
#include "../base/Handles.h"
#include "../base/TextConvert.h"

#include <windows.h>
#include <ole2.h>
#include <shlwapi.h>

#include <algorithm>

using namespace qel;

namespace {

constexpr DWORD kServiceAccess = SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP;

// The wait for a service ends after this long at the most. Between polls it sleeps the
// service's wait hint, kept within bounds so that a hint of 0 never spins and a long hint
// does not hide the moment the service gets there.
constexpr DWORD kServiceWaitLimitMs = 30000;
constexpr DWORD kMinPollMs = 100;
constexpr DWORD kMaxPollMs = 1000;
// A service seen at rest in another state than the one asked for (it stopped again after
// starting, say) has given its answer once it stays so this long; the grace covers a service
// that reports its pending state a little late.
constexpr DWORD kSettledOtherwiseMs = 1000;

bool IsRestState(DWORD state)
{
    return state == SERVICE_STOPPED || state == SERVICE_RUNNING || state == SERVICE_PAUSED;
}

bool LogUnknownError()
{
    XM_LOG(L"Unknow Error in fun:%ls\r\n", L"Lua_SCM");
    XM_FAILURE_TAILS();
    return false;
}

bool WaitForServiceState(SC_HANDLE service, DWORD target)
{
    const ULONGLONG start = GetTickCount64();
    ULONGLONG otherwiseSince = 0;
    for (;;) {
        SERVICE_STATUS status = {};
        if (!QueryServiceStatus(service, &status))
            return LogUnknownError();
        if (status.dwCurrentState == target)
            return true;
        const ULONGLONG now = GetTickCount64();
        if (!IsRestState(status.dwCurrentState)) {
            otherwiseSince = 0;
        } else if (otherwiseSince == 0) {
            otherwiseSince = now;
        } else if (now - otherwiseSince >= kSettledOtherwiseMs) {
            XM_LOG(L"Lua_SCM: the service came to rest in state %lu, not %lu\r\n", status.dwCurrentState, target);
            return false;
        }
        if (now - start >= kServiceWaitLimitMs) {
            XM_LOG(L"Lua_SCM: the service is still in state %lu after %lu ms\r\n", status.dwCurrentState, kServiceWaitLimitMs);
            return false;
        }
        Sleep(std::min(std::max(status.dwWaitHint, kMinPollMs), kMaxPollMs));
    }
}

bool ControlServiceState(const std::wstring& name, const std::wstring& action)
{
    CServiceHandle manager(OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, GENERIC_EXECUTE));
    if (!manager) {
        XM_FAILURE(L"OpenSCManager failed!");
        return false;
    }
    CServiceHandle service(OpenServiceW(manager.Get(), name.c_str(), kServiceAccess));
    if (!service) {
        if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST)
            return true;
        XM_FAILURE(L"OpenService failed!");
        return false;
    }
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service.Get(), &status)) {
        XM_FAILURE(L"QueryServiceStatus failed!");
        return false;
    }
    if (_wcsicmp(action.c_str(), L"start") == 0) {
        if (status.dwCurrentState == SERVICE_STOPPED && !StartServiceW(service.Get(), 0, nullptr)) {
            XM_FAILURE(L"StartService failed!");
            return false;
        }
        return WaitForServiceState(service.Get(), SERVICE_RUNNING);
    }
    if (_wcsicmp(action.c_str(), L"stop") == 0) {
        if (status.dwCurrentState == SERVICE_RUNNING && !ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) {
            XM_FAILURE(L"StopService failed!");
            return false;
        }
        return WaitForServiceState(service.Get(), SERVICE_STOPPED);
    }
    return LogUnknownError();
}

// OLE is balanced when the scope ends.
class COleSession
{
public:
    COleSession() { OleInitialize(nullptr); }
    ~COleSession() { OleUninitialize(); }
    COleSession(const COleSession&) = delete;
    COleSession& operator=(const COleSession&) = delete;
};

bool ExpandExistingDll(lua_State* L, const wchar_t* functionName, std::wstring& path)
{
    path = ArgText(L, 1);
    ExpandPathArgument(path);
    if (!path.empty() && PathFileExistsW(path.c_str()))
        return true;
    LogPathNotExists(functionName, path);
    return false;
}

bool RegisterInProcess(lua_State* L)
{
    CModule library;  // freed after OLE is shut down, as the server's objects may still live
    const COleSession ole;
    std::wstring path;
    if (!ExpandExistingDll(L, L"Lua_RegSvr32", path))
        return false;
    library.Reset(LoadLibraryW(path.c_str()));
    if (!library) {
        XM_LOG(L"Fun:%ls, Description: LoadLibrary %ls Failed!\r\n", L"Lua_RegSvr32", path.c_str());
        XM_FAILURE_TAILS();
        return false;
    }
    using EntryPoint = HRESULT(STDAPICALLTYPE*)();
    const char* entryName = ArgFlag(L, 2) ? "DllRegisterServer" : "DllUnregisterServer";
    const EntryPoint entry = reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(library.Get(), entryName)));
    return entry != nullptr && SUCCEEDED(entry());
}

bool RunRegsvr32(lua_State* L)
{
    const COleSession ole;
    std::wstring path;
    if (!ExpandExistingDll(L, L"Lua_RegistDll", path))
        return false;
    const std::wstring command = L"regsvr32 " + ArgText(L, 2) + L" \"" + path + L"\"";
    if (WinExec(WideToAnsi(command).c_str(), SW_HIDE) > 32)
        return true;
    XM_LOG(L"reg failed!!! %lu", GetLastError());
    return false;
}

}  // namespace

// A missing service counts as being in any state asked for.
int Lua_SCM(lua_State* L)
{
    return PushBool(L, ControlServiceState(ArgText(L, 1), ArgText(L, 2)));
}

int Lua_RegSvr32(lua_State* L)
{
    return PushBool(L, RegisterInProcess(L));
}

// Starts regsvr32 and does not wait for it.
int Lua_RegistDll(lua_State* L)
{
    return PushBool(L, RunRegsvr32(L));
}
