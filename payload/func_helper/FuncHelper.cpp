// func_helper.dll: the product's helper library that the install and uninstall scripts call.
// Every text argument is a wide string; every export uses the stdcall convention.

#include <windows.h>
#include <aclapi.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <shlwapi.h>

#include "utility/base/Handles.h"

#include <string>

namespace {

// COM for the duration of one export, whatever the caller's thread has set up.
class CComScope
{
public:
    CComScope() : m_initialised(SUCCEEDED(CoInitialize(nullptr))) {}
    ~CComScope()
    {
        if (m_initialised)
            CoUninitialize();
    }

private:
    bool m_initialised;
};

std::wstring FolderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring KnownFolder(int csidl)
{
    wchar_t path[MAX_PATH];
    return SUCCEEDED(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, 0, path)) ? path : L"";
}

bool CreateFolders(const std::wstring& folder)
{
    const int result = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    return result == ERROR_SUCCESS || result == ERROR_ALREADY_EXISTS || result == ERROR_FILE_EXISTS;
}

bool WriteShortcut(const std::wstring& target, const std::wstring& linkPath, const std::wstring& description)
{
    if (!CreateFolders(FolderOf(linkPath)))
        return false;
    CComScope com;
    qel::CComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid())))
        return false;
    link->SetPath(target.c_str());
    link->SetWorkingDirectory(FolderOf(target).c_str());
    link->SetDescription(description.c_str());
    qel::CComPtr<IPersistFile> file;
    return SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.PutVoid())) && SUCCEEDED(file->Save(linkPath.c_str(), TRUE));
}

std::wstring Text(const wchar_t* text) { return text != nullptr ? text : L""; }

}  // namespace

extern "C" {

// Gives the local Users group modify rights on the folder, inherited by what it holds.
BOOL WINAPI AllowAccountPrivilege(const wchar_t* folder)
{
    if (folder == nullptr || *folder == L'\0')
        return FALSE;
    PSID users = nullptr;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0, 0, &users))
        return FALSE;
    auto freeUsers = qel::MakeScopeGuard([users] { FreeSid(users); });

    PACL oldAcl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &oldAcl, nullptr,
                              &descriptor) != ERROR_SUCCESS)
        return FALSE;
    qel::CLocalMemory ownDescriptor(descriptor);

    EXPLICIT_ACCESSW access = {};
    access.grfAccessPermissions = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_GROUP;
    access.Trustee.ptstrName = static_cast<LPWSTR>(users);
    PACL newAcl = nullptr;
    if (SetEntriesInAclW(1, &access, oldAcl, &newAcl) != ERROR_SUCCESS)
        return FALSE;
    qel::CLocalMemory ownAcl(newAcl);
    return SetNamedSecurityInfoW(const_cast<wchar_t*>(folder), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                 newAcl, nullptr) == ERROR_SUCCESS;
}

// "<desktop>\<display name>.lnk" starting the main program in its own folder.
void WINAPI CreateDesktopShortcut(const wchar_t* program, const wchar_t*, const wchar_t* displayName)
{
    const std::wstring desktop = KnownFolder(CSIDL_DESKTOPDIRECTORY);
    if (!desktop.empty() && program != nullptr && displayName != nullptr)
        WriteShortcut(program, desktop + L"\\" + displayName + L".lnk", Text(displayName));
}

// Removes a pinned or quick-launch shortcut; the path may hold environment variables.
void WINAPI UnpinFromTaskbar(const wchar_t* shortcut)
{
    if (shortcut == nullptr)
        return;
    wchar_t path[MAX_PATH];
    const DWORD needed = ExpandEnvironmentStringsW(shortcut, path, MAX_PATH);
    if (needed == 0 || needed > MAX_PATH)
        return;
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path);
}

// Windows 11 reports itself as 10.0 with build 22000 or later; RtlGetVersion does not lie.
BOOL WINAPI IsOSWin11()
{
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    FARPROC export_ = ntdll != nullptr ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr;
    auto getVersion = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(export_));
    OSVERSIONINFOW info = {sizeof info};
    if (getVersion == nullptr || getVersion(&info) != 0)
        return FALSE;
    return info.dwMajorVersion == 10 && info.dwBuildNumber >= 22000;
}

// Pins the product: its shortcut in the taskbar's pinned folder of the user.
void WINAPI CreateTaskbarShortcut(const wchar_t* program, const wchar_t*, const wchar_t* displayName)
{
    const std::wstring appData = KnownFolder(CSIDL_APPDATA);
    if (appData.empty() || program == nullptr || displayName == nullptr)
        return;
    const std::wstring pinned = appData + L"\\Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar\\";
    WriteShortcut(program, pinned + displayName + L".lnk", Text(displayName));
}

}  // extern "C"
