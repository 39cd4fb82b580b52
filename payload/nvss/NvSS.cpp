// NvSS.exe, the product's search service. "--install" registers it as the service "nvss" (own
// process, started automatically with Windows) and starts it; started by the service manager it
// runs until it is told to stop.

#include <windows.h>

#include "utility/base/Handles.h"

#include <cwchar>

namespace {

wchar_t kServiceName[] = L"nvss";
const wchar_t kDisplayName[] = L"Navolo Search Service";

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_stopEvent = nullptr;

void ReportStatus(DWORD state, DWORD waitHint)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWaitHint = waitHint;
    SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD, void*, void*)
{
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        ReportStatus(SERVICE_STOP_PENDING, 3000);
        SetEvent(g_stopEvent);
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, LPWSTR*)
{
    g_statusHandle = RegisterServiceCtrlHandlerExW(kServiceName, ControlHandler, nullptr);
    if (g_statusHandle == nullptr)
        return;
    qel::CHandle stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_stopEvent = stopEvent.Get();
    ReportStatus(SERVICE_RUNNING, 0);
    WaitForSingleObject(g_stopEvent, INFINITE);
    ReportStatus(SERVICE_STOPPED, 0);
}

int InstallAndStart()
{
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    wchar_t binaryPath[MAX_PATH + 2];
    _snwprintf(binaryPath, MAX_PATH + 2, L"\"%ls\"", exe);
    binaryPath[MAX_PATH + 1] = L'\0';

    qel::CServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE | SC_MANAGER_CONNECT));
    if (!manager)
        return 2;
    qel::CServiceHandle service(CreateServiceW(manager.Get(), kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                                               SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, binaryPath,
                                               nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service && GetLastError() == ERROR_SERVICE_EXISTS)
        service.Reset(OpenServiceW(manager.Get(), kServiceName, SERVICE_ALL_ACCESS));
    if (!service)
        return 3;
    return StartServiceW(service.Get(), 0, nullptr) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING ? 0 : 4;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc > 1 && wcscmp(argv[1], L"--install") == 0)
        return InstallAndStart();
    SERVICE_TABLE_ENTRYW table[] = {{kServiceName, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
