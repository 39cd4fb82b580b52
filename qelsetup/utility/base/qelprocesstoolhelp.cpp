#include "qelprocesstoolhelp.h"

#include "DebugOutput.h"
#include "Handles.h"

#include <tlhelp32.h>

namespace qel {

namespace {

constexpr DWORD kTerminateAndWait = PROCESS_TERMINATE | SYNCHRONIZE;
constexpr DWORD kKillWaitMilliseconds = 3000;

}  // namespace

bool EnablePrivilege(const wchar_t* name, bool enable)
{
    CHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.Put())) {
        XM_FAILURE(L"OpenProcessToken failed!");
        return false;
    }
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) {
        XM_FAILURE(L"LookupPrivilegeValue failed!");
        return false;
    }
    if (!AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr)) {
        XM_FAILURE(L"AdjustTokenPrivileges failed!");
        return false;
    }
    return true;
}

BOOL CALLBACK CloseProcessWindows(HWND window, LPARAM processId)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(processId)) {
        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

bool KillProcess(DWORD processId)
{
    if (processId == 0)
        return true;
    EnumWindows(CloseProcessWindows, static_cast<LPARAM>(processId));
    EnablePrivilege(L"SeDebugPrivilege", true);
    CHandle process(OpenProcess(kTerminateAndWait, FALSE, processId));
    if (!process)
        return GetLastError() == ERROR_INVALID_PARAMETER;
    if (WaitForSingleObject(process.Get(), kKillWaitMilliseconds) != WAIT_OBJECT_0)
        TerminateProcess(process.Get(), 0);
    return WaitForSingleObject(process.Get(), kKillWaitMilliseconds) == WAIT_OBJECT_0;
}

std::vector<DWORD> FindProcessIdsByName(HANDLE snapshot, const wchar_t* name)
{
    std::vector<DWORD> ids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID != 0 && lstrcmpiW(entry.szExeFile, name) == 0)
            ids.push_back(entry.th32ProcessID);
    }
    return ids;
}

DWORD FindProcessIdByName(HANDLE snapshot, const wchar_t* name)
{
    const std::vector<DWORD> ids = FindProcessIdsByName(snapshot, name);
    return ids.empty() ? kNoProcess : ids.front();
}

bool CDeviceMap::BuildDeviceMap()
{
    const DWORD needed = GetLogicalDriveStringsW(0, nullptr);
    std::wstring roots(needed + 1, L'\0');
    if (needed == 0 || GetLogicalDriveStringsW(needed + 1, &roots[0]) == 0) {
        XM_FAILURE(L"GetLogicalDriveStrings failed");
        return false;
    }
    for (const wchar_t* root = roots.c_str(); *root != L'\0'; root += wcslen(root) + 1) {
        const std::wstring drive(root, wcsnlen(root, 2));
        wchar_t device[MAX_PATH];
        if (QueryDosDeviceW(drive.c_str(), device, MAX_PATH) != 0)
            m_drives[device] = drive;
    }
    return true;
}

bool CDeviceMap::MapDevicePathToDrive(std::wstring& path)
{
    if (m_drives.empty() && !BuildDeviceMap())
        return false;
    size_t end = 0;
    int backslashes = 0;
    for (size_t i = 0; i < path.size() && backslashes < 3; ++i) {
        if (path[i] == L'\\' && ++backslashes == 3)
            end = i;
    }
    if (backslashes < 3)
        return true;
    const std::wstring prefix = path.substr(0, end);
    const std::wstring& drive = m_drives[prefix];
    for (size_t at = path.find(prefix); at != std::wstring::npos; at = path.find(prefix, at + drive.size()))
        path.replace(at, prefix.size(), drive);
    return true;
}

}  // namespace qel
