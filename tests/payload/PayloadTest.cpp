#include "support/TestSupport.h"

#include "utility/base/Handles.h"

#include <windows.h>
#include <aclapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring PayloadPath(const std::wstring& name) { return qeltest::BinDir() + L"\\..\\payload\\Navolo\\" + name; }

std::wstring KnownFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, 0, path);
    return path;
}

std::wstring RegText(HKEY root, const std::wstring& subKey, const wchar_t* name, REGSAM view = 0)
{
    qel::CRegKey key;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE | view, key.Put()) != ERROR_SUCCESS)
        return L"(none)";
    wchar_t data[1024] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    const LONG rc = RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    return rc == ERROR_SUCCESS && type == REG_SZ ? data : L"(none)";
}

DWORD RunAndWait(const std::wstring& commandLine, DWORD timeoutMs = 60000)
{
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 0xFFFFFFFF;
    WaitForSingleObject(pi.hProcess, timeoutMs);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

class ComTest : public ::testing::Test
{
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
};

TEST(SearchService, InstallRegistersAnAutoStartServiceAndStartsIt)
{
    ASSERT_EQ(0u, RunAndWait(L"\"" + PayloadPath(L"NvSS.exe") + L"\" --install"));
    qel::CServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    qel::CServiceHandle service(OpenServiceW(manager.Get(), L"nvss", SERVICE_ALL_ACCESS));
    ASSERT_TRUE(service);
    SERVICE_STATUS status = {};
    for (int i = 0; i < 100 && QueryServiceStatus(service.Get(), &status) && status.dwCurrentState != SERVICE_RUNNING; ++i)
        Sleep(100);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), status.dwServiceType & SERVICE_WIN32_OWN_PROCESS);

    BYTE buffer[8192];
    DWORD needed = 0;
    auto config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
    ASSERT_TRUE(QueryServiceConfigW(service.Get(), config, sizeof buffer, &needed));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config->dwStartType);
    EXPECT_NE(std::wstring::npos, std::wstring(config->lpBinaryPathName).find(L"NvSS.exe"));

    ASSERT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
    for (int i = 0; i < 100 && QueryServiceStatus(service.Get(), &status) && status.dwCurrentState != SERVICE_STOPPED; ++i)
        Sleep(100);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
    EXPECT_TRUE(DeleteService(service.Get()));
}

class MainProgram : public ::testing::Test
{
protected:
    std::wstring Trace()
    {
        std::string text;
        qeltest::ReadTextFile(KnownFolder(CSIDL_LOCAL_APPDATA) + L"\\Tarvik\\Navolo\\Navolo.trace", text);
        return qeltest::Utf8ToWide(text);
    }
};

TEST_F(MainProgram, ShowsItsSearchWindowAndClosesOnTheInstallersMessage)
{
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    std::wstring line = L"\"" + PayloadPath(L"Navolo.exe") + L"\" /menu";
    ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    qel::CHandle process(pi.hProcess);
    qel::CHandle thread(pi.hThread);
    HWND window = nullptr;
    for (int i = 0; i < 300 && window == nullptr; ++i) {
        window = FindWindowW(L"CDlgSearch", L"Navolo");
        if (window == nullptr)
            Sleep(100);
    }
    ASSERT_NE(nullptr, window);
    SendMessageW(window, 3023, 0, 0);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(process.Get(), 30000));
    const std::wstring trace = Trace();
    EXPECT_NE(std::wstring::npos, trace.find(L"cmdline=\"" + PayloadPath(L"Navolo.exe") + L"\" /menu")) << trace;
    EXPECT_NE(std::wstring::npos, trace.find(L"close message 3023")) << trace;
}

TEST_F(MainProgram, AssociateAllSetsTheAssociationAndEnds)
{
    EXPECT_EQ(0u, RunAndWait(L"\"" + PayloadPath(L"Navolo.exe") + L"\" -AssociateAll"));
    EXPECT_EQ(L"Navolo.SavedSearch", RegText(HKEY_CURRENT_USER, L"Software\\Classes\\.nvq", nullptr));
    EXPECT_NE(std::wstring::npos, Trace().find(L"associated"));
}

class HelperLibrary : public ComTest
{
protected:
    void SetUp() override
    {
        ComTest::SetUp();
        m_library.Reset(LoadLibraryW(PayloadPath(L"func_helper.dll").c_str()));
        ASSERT_TRUE(m_library);
    }
    template <class F>
    F Export(const char* name)
    {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m_library.Get(), name)));
    }
    qel::CModule m_library;
};

using ShortcutFn = void(WINAPI*)(const wchar_t*, const wchar_t*, const wchar_t*);

TEST_F(HelperLibrary, ExportsTheFiveFunctionsByTheirPlainNames)
{
    for (const char* name : {"AllowAccountPrivilege", "CreateDesktopShortcut", "UnpinFromTaskbar", "IsOSWin11", "CreateTaskbarShortcut"})
        EXPECT_NE(nullptr, Export<void*>(name)) << name;
}

TEST_F(HelperLibrary, WindowsTenUnderWineIsNotWindows11)
{
    auto isWin11 = Export<BOOL(WINAPI*)()>("IsOSWin11");
    ASSERT_NE(nullptr, isWin11);
    EXPECT_FALSE(isWin11()) << "Wine reports Windows 10";
}

TEST_F(HelperLibrary, DesktopAndTaskbarShortcutsPointAtTheProgramAndUnpinRemovesThePin)
{
    wchar_t program_[MAX_PATH];
    GetFullPathNameW(PayloadPath(L"Navolo.exe").c_str(), MAX_PATH, program_, nullptr);
    const std::wstring program = program_;
    Export<ShortcutFn>("CreateDesktopShortcut")(program.c_str(), L"CDlgSearch", L"Navolo");
    const std::wstring desktopLink = KnownFolder(CSIDL_DESKTOPDIRECTORY) + L"\\Navolo.lnk";
    EXPECT_TRUE(qeltest::FileExists(desktopLink));
    EXPECT_EQ(0, _wcsicmp(program.c_str(), qeltest::ReadShortcut(desktopLink).c_str())) << qeltest::ReadShortcut(desktopLink);

    Export<ShortcutFn>("CreateTaskbarShortcut")(program.c_str(), L"CDlgSearch", L"Navolo");
    const std::wstring pinned = KnownFolder(CSIDL_APPDATA) + L"\\Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar\\Navolo.lnk";
    ASSERT_TRUE(qeltest::FileExists(pinned));
    Export<void(WINAPI*)(const wchar_t*)>("UnpinFromTaskbar")(
        L"%APPDATA%\\Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar\\Navolo.lnk");
    EXPECT_FALSE(qeltest::FileExists(pinned));
}

// Wine keeps no access list of its own for a file (it turns a DACL into Unix mode bits), so the
// entry for Users cannot be read back here; what can be shown is that the system took the new
// DACL for an existing folder and that a missing folder is refused.
TEST_F(HelperLibrary, AllowAccountPrivilegeIsAcceptedForAFolderAndRefusedForAMissingOne_WineKeepsNoFileAcl)
{
    auto allow = Export<BOOL(WINAPI*)(const wchar_t*)>("AllowAccountPrivilege");
    qeltest::TempDir dir;
    EXPECT_TRUE(allow(dir.Path().c_str()));
    EXPECT_FALSE(allow((dir.Path() + L"\\missing").c_str()));
    EXPECT_FALSE(allow(L""));
}

const wchar_t kShellExtClsid[] = L"CLSID\\{6C1E9C5E-3A5B-4C1D-9E77-4E1F6B0A2D31}";

TEST(ShellExtension, RegisterAndUnregisterWriteAndRemoveTheClassAndHandler)
{
    const std::wstring path = PayloadPath(L"NvToolMenuShellExt.dll");
    qel::CModule library(LoadLibraryW(path.c_str()));
    ASSERT_TRUE(library);
    using EntryFn = HRESULT(WINAPI*)();
    auto registerServer = reinterpret_cast<EntryFn>(reinterpret_cast<void*>(GetProcAddress(library.Get(), "DllRegisterServer")));
    auto unregisterServer = reinterpret_cast<EntryFn>(reinterpret_cast<void*>(GetProcAddress(library.Get(), "DllUnregisterServer")));
    ASSERT_NE(nullptr, registerServer);
    ASSERT_NE(nullptr, unregisterServer);

    ASSERT_EQ(S_OK, registerServer());
    wchar_t full[MAX_PATH];
    GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    EXPECT_EQ(0, _wcsicmp(full, RegText(HKEY_CLASSES_ROOT, std::wstring(kShellExtClsid) + L"\\InprocServer32", nullptr).c_str()));
    EXPECT_EQ(L"{6C1E9C5E-3A5B-4C1D-9E77-4E1F6B0A2D31}",
              RegText(HKEY_CLASSES_ROOT, L"*\\shellex\\ContextMenuHandlers\\NvToolMenu", nullptr));

    ASSERT_EQ(S_OK, unregisterServer());
    EXPECT_EQ(L"(none)", RegText(HKEY_CLASSES_ROOT, std::wstring(kShellExtClsid) + L"\\InprocServer32", nullptr));
    EXPECT_EQ(L"(none)", RegText(HKEY_CLASSES_ROOT, L"*\\shellex\\ContextMenuHandlers\\NvToolMenu", nullptr));
}

TEST(ShellExtension, The64BitLibraryRegistersThroughThe64BitRegsvr32)
{
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring regsvr32 = std::wstring(windows) + L"\\Sysnative\\regsvr32.exe";
    const std::wstring dll = PayloadPath(L"NvToolMenuShellExt64.dll");
    ASSERT_EQ(0u, RunAndWait(L"\"" + regsvr32 + L"\" /s \"" + dll + L"\""));
    const std::wstring server = std::wstring(kShellExtClsid) + L"\\InprocServer32";
    EXPECT_NE(std::wstring::npos, RegText(HKEY_CLASSES_ROOT, server, nullptr, KEY_WOW64_64KEY).find(L"NvToolMenuShellExt64.dll"));
    EXPECT_EQ(L"(none)", RegText(HKEY_CLASSES_ROOT, server, nullptr)) << "the 32-bit view stays untouched";
    ASSERT_EQ(0u, RunAndWait(L"\"" + regsvr32 + L"\" /u /s \"" + dll + L"\""));
    EXPECT_EQ(L"(none)", RegText(HKEY_CLASSES_ROOT, server, nullptr, KEY_WOW64_64KEY));
}

}  // namespace
