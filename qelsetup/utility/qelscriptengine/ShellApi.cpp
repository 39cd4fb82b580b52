// Shortcuts and shell integration: shell links and Internet shortcuts, special folders published
// as environment variables.

#include "ScriptApi.h"
#include "ScriptArgs.h"

#include "../base/DebugOutput.h"
#include "../base/Handles.h"

#include <windows.h>
#include <intshcut.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cmath>

using namespace qel;

namespace {

const CLSID kClsidShellLink = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidShellLinkW = {0x000214F9, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const CLSID kClsidInternetShortcut = {0xFBF23B40, 0xE3F0, 0x101B, {0x84, 0x88, 0x00, 0xAA, 0x00, 0x3E, 0x56, 0xF8}};
const IID kIidUniformResourceLocatorW = {0xCABB0DA0, 0xDA57, 0x11CF, {0x99, 0x74, 0x00, 0x20, 0xAF, 0xD7, 0x97, 0x62}};
const IID kIidPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The path less its last component; empty when the path does not fit a path buffer.
std::wstring ParentFolder(const std::wstring& path)
{
    if (path.size() >= MAX_PATH)
        return std::wstring();
    wchar_t folder[MAX_PATH] = {};
    wcscpy(folder, path.c_str());
    PathRemoveFileSpecW(folder);
    return folder;
}

bool FailWithText(const wchar_t* format, const std::wstring& text)
{
    XM_LOG(format, text.c_str());
    XM_FAILURE_TAILS();
    return false;
}

bool ReportHresult(HRESULT hr, const wchar_t* message)
{
    SetLastError(static_cast<DWORD>(hr));
    XM_FAILURE(message);
    return false;
}

bool MakeInternetShortcut(const std::wstring& url, CComPtr<IPersistFile>& file)
{
    CComPtr<IUniformResourceLocatorW> locator;
    HRESULT hr = CoCreateInstance(kClsidInternetShortcut, nullptr, CLSCTX_ALL, kIidUniformResourceLocatorW, locator.PutVoid());
    if (FAILED(hr))
        return ReportHresult(hr, L"CoCreateInstance(CLSID_InternetShortcut) failed!");
    if (FAILED(locator->SetURL(url.c_str(), 0)))
        return FailWithText(L"SetURL %ls failed!\r\n", url);
    hr = locator->QueryInterface(kIidPersistFile, file.PutVoid());
    if (FAILED(hr))
        return ReportHresult(hr, L"QueryInterface IID_IPersistFile failed!");
    return true;
}

// Arguments and description are set only when the script gives them: a nil third or fourth
// argument leaves that field unset; with three arguments the description is set empty.
bool MakeShellLink(lua_State* L, std::wstring target, CComPtr<IPersistFile>& file)
{
    if (!ExpandPathArgument(target))
        return FailWithText(L"SetPath %ls failed!\r\n", target);
    CComPtr<IShellLinkW> link;
    HRESULT hr = CoCreateInstance(kClsidShellLink, nullptr, CLSCTX_ALL, kIidShellLinkW, link.PutVoid());
    if (FAILED(hr))
        return ReportHresult(hr, L"CoCreateInstance(CLSID_ShellLink) failed!");
    const int count = lua_gettop(L);
    if (count >= 3) {
        if (!lua_isnil(L, 3)) {
            const std::wstring arguments = ArgText(L, 3);
            if (FAILED(link->SetArguments(arguments.c_str())))
                return FailWithText(L"SetArguments %ls failed!\r\n", arguments);
        }
        if (count < 4 || !lua_isnil(L, 4)) {
            const std::wstring description = count >= 4 ? ArgText(L, 4) : std::wstring();
            if (FAILED(link->SetDescription(description.c_str())))
                return FailWithText(L"SetDescription %ls failed!\r\n", description);
        }
    }
    if (FAILED(link->SetPath(target.c_str())))
        return FailWithText(L"SetPath %ls failed!\r\n", target);
    const std::wstring folder = ParentFolder(target);
    if (FAILED(link->SetWorkingDirectory(folder.c_str())))
        return FailWithText(L"SetWorkingDirectory %ls failed!\r\n", folder);
    hr = link->QueryInterface(kIidPersistFile, file.PutVoid());
    if (FAILED(hr))
        return ReportHresult(hr, L"QueryInterface IID_IPersistFile failed!");
    return true;
}

bool CreateShortcut(lua_State* L)
{
    const std::wstring target = ArgText(L, 1);
    std::wstring shortcut = ArgText(L, 2);
    if (!ExpandPathArgument(shortcut) || shortcut.empty())
        return FailWithText(L"Save %ls failed!\r\n", shortcut);
    const std::wstring folder = ParentFolder(shortcut);
    if (!folder.empty() && !PathFileExistsW(folder.c_str()))
        SHCreateDirectory(nullptr, folder.c_str());

    CComPtr<IPersistFile> file;
    const bool made = PathIsURLW(target.c_str()) ? MakeInternetShortcut(target, file) : MakeShellLink(L, target, file);
    if (!made)
        return false;
    if (FAILED(file->Save(shortcut.c_str(), TRUE)))
        return FailWithText(L"Save %ls failed!\r\n", shortcut);
    XM_LOG(L"Save Shortcut %ls \r\n", shortcut.c_str());
    return true;
}

}  // namespace

int Lua_CreateShortcut(lua_State* L)
{
    CoInitialize(nullptr);
    const auto uninitialize = MakeScopeGuard([] { CoUninitialize(); });
    return PushBool(L, CreateShortcut(L));
}

// The variable lives in this process's environment: every later expansion here sees it, and
// programs started afterwards inherit it.
int Lua_RegVarByCSIDL(lua_State* L)
{
    const std::wstring name = ArgText(L, 1);
    int isNumber = 0;
    const lua_Number number = lua_tonumberx(L, 2, &isNumber);
    const int csidl = isNumber ? static_cast<int>(std::lround(number)) : 0;
    wchar_t folder[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, folder, csidl, FALSE)) {
        XM_LOG(L"SHGetSpecialFolderPathW csidl=%d failed!\r\n", csidl);
        XM_FAILURE_TAILS();
        return PushBool(L, false);
    }
    if (!SetEnvironmentVariableW(name.c_str(), folder)) {
        XM_FAILURE(L"SetEnvironmentVariableW failed!");
        return PushBool(L, false);
    }
    return PushBool(L, true);
}
