#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

// Process utilities: privileges of this process, ending a process, finding processes by image
// name in a toolhelp snapshot, and turning NT device paths into drive paths.
namespace qel {

// A process id that no process has.
constexpr DWORD kNoProcess = static_cast<DWORD>(-1);

bool EnablePrivilege(const wchar_t* name, bool enable);

// Asks the process's windows to close, then ends it; true when it is gone (or was never there).
bool KillProcess(DWORD processId);

// The EnumWindows callback of KillProcess: posts SC_CLOSE and WM_CLOSE to every top-level
// window of the process whose id is the parameter.
BOOL CALLBACK CloseProcessWindows(HWND window, LPARAM processId);

// Every entry of the snapshot is compared (without regard to case), the first one included.
std::vector<DWORD> FindProcessIdsByName(HANDLE snapshot, const wchar_t* name);
DWORD FindProcessIdByName(HANDLE snapshot, const wchar_t* name);

// Maps NT device names (\Device\HarddiskVolume1) to drives (C:), built on first use.
class CDeviceMap
{
public:
    bool BuildDeviceMap();
    // Replaces the device prefix of path (up to its third backslash) by its drive; a device
    // without a drive is removed.
    bool MapDevicePathToDrive(std::wstring& path);

private:
    std::map<std::wstring, std::wstring> m_drives;
};

}  // namespace qel
