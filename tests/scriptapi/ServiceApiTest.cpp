#include "ScriptApiSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

using namespace qeltest;

namespace {

DWORD ServiceState(const std::wstring& name)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager != nullptr ? OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS status = {};
    const bool queried = service != nullptr && QueryServiceStatus(service, &status);
    if (service != nullptr)
        CloseServiceHandle(service);
    if (manager != nullptr)
        CloseServiceHandle(manager);
    return queried ? status.dwCurrentState : 0;
}

// A test service of ours for the length of one test; stopped and deleted afterwards. The
// service lives only as long as this prefix's wineserver, which outlasts the test.
class TestService
{
public:
    TestService(const std::wstring& name, const std::wstring& mode) : m_name(name)
    {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        const std::wstring command = QuoteArgument(BinPath(L"qeltest_service.exe")) + L" " + mode;
        SC_HANDLE service = CreateServiceW(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                           SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                           nullptr, nullptr, nullptr);
        m_created = service != nullptr;
        if (service != nullptr)
            CloseServiceHandle(service);
        CloseServiceHandle(manager);
    }
    ~TestService()
    {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = OpenServiceW(manager, m_name.c_str(), SERVICE_ALL_ACCESS);
        if (service != nullptr) {
            SERVICE_STATUS status = {};
            ControlService(service, SERVICE_CONTROL_STOP, &status);
            for (int i = 0; i < 50 && ServiceState(m_name) != SERVICE_STOPPED; ++i)
                Sleep(100);
            DeleteService(service);
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }
    bool Created() const { return m_created; }

private:
    std::wstring m_name;
    bool m_created = false;
};

ApiCall Scm(const std::wstring& name, const std::wstring& action) { return {L"Lua_SCM", {Text(name), Text(action)}}; }

TEST(ServiceApi, StartsAndStopsAndAcceptsTheStateItIsIn)
{
    TestService service(L"QelTestSvc", L"normal");
    ASSERT_TRUE(service.Created()) << GetLastError();
    const Transcript started = RunCalls({Scm(L"QelTestSvc", L"start"), Scm(L"QelTestSvc", L"START")});
    EXPECT_EQ(L"boolean:true", Result(started, 1)) << started.raw;
    EXPECT_EQ(L"boolean:true", Result(started, 2)) << started.raw;  // already running
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(L"QelTestSvc"));

    const Transcript stopped = RunCalls({Scm(L"QelTestSvc", L"Stop"), Scm(L"QelTestSvc", L"stop")});
    EXPECT_EQ(L"boolean:true", Result(stopped, 1)) << stopped.raw;
    EXPECT_EQ(L"boolean:true", Result(stopped, 2)) << stopped.raw;  // already stopped
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(L"QelTestSvc"));
}

TEST(ServiceApi, UnknownActionsFailAndMissingServicesCountAsDone)
{
    TestService service(L"QelTestSvc", L"normal");
    ASSERT_TRUE(service.Created());
    const Transcript t = RunCalls({Scm(L"QelTestSvc", L"restart"), Scm(L"QelTestNoSuchService", L"start"),
                                   Scm(L"QelTestNoSuchService", L"stop")});
    EXPECT_EQ(L"boolean:false", Result(t, 1)) << t.raw;
    EXPECT_TRUE(t.HasLine(L"xm Unknow Error in fun:Lua_SCM\r\n")) << t.raw;
    EXPECT_EQ(L"boolean:true", Result(t, 2)) << t.raw;
    EXPECT_EQ(L"boolean:true", Result(t, 3)) << t.raw;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(L"QelTestSvc"));
}

// The service reports start pending with a wait hint of 0 and then stops again: the wait must
// neither spin nor hang, and the answer is false.
TEST(ServiceApi, AServiceThatStopsAgainAfterStartingGivesFalse)
{
    TestService service(L"QelTestFailSvc", L"fail");
    ASSERT_TRUE(service.Created());
    const ULONGLONG start = GetTickCount64();
    const Transcript t = RunCalls({Scm(L"QelTestFailSvc", L"start")});
    const ULONGLONG elapsed = GetTickCount64() - start;
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_EQ(L"boolean:false", Result(t, 1)) << t.raw;
    EXPECT_TRUE(t.HasLine(L"xm Lua_SCM: the service came to rest in state 1, not 4\r\n")) << t.raw;
    EXPECT_LT(elapsed, 25000u) << "ended by the overall bound, not by seeing the service at rest";
}

std::string LogOf(const std::wstring& dll)
{
    std::string text;
    ReadTextFile(dll + L".log", text);
    return text;
}

// regsvr32 runs in a process of its own and is not waited for: poll for its effect.
std::string WaitForLog(const std::wstring& dll, size_t lines)
{
    std::string text;
    for (int i = 0; i < 300; ++i) {
        text = LogOf(dll);
        size_t count = 0;
        for (char c : text)
            count += c == '\n';
        if (count >= lines)
            break;
        Sleep(100);
    }
    return text;
}

struct RegistrationDir {
    TempDir dir;
    std::wstring folder = dir.File(L"with space");
    std::wstring dll = folder + L"\\qel server.dll";
    std::wstring noExports = folder + L"\\no exports.dll";
    RegistrationDir()
    {
        CreateDirectoryW(folder.c_str(), nullptr);
        CopyFileW(BinPath(L"qeltest_regserver.dll").c_str(), dll.c_str(), FALSE);
        CopyFileW(BinPath(L"qeltest_noexports.dll").c_str(), noExports.c_str(), FALSE);
    }
};

TEST(ServiceApi, RegSvr32CallsTheEntryPointInProcess)
{
    RegistrationDir d;
    const std::wstring missing = d.folder + L"\\missing.dll";
    const Transcript t = RunCalls({{L"Lua_RegSvr32", {Text(d.dll), kTrue}},
                                   {L"Lua_RegSvr32", {Text(d.dll)}},
                                   {L"Lua_RegSvr32", {Text(d.noExports), kTrue}},
                                   {L"Lua_RegSvr32", {Text(missing), kTrue}}});
    EXPECT_EQ(L"boolean:true", Result(t, 1)) << t.raw;
    EXPECT_EQ(L"boolean:true", Result(t, 2)) << t.raw;
    EXPECT_EQ(L"boolean:false", Result(t, 3)) << t.raw;
    EXPECT_EQ(L"boolean:false", Result(t, 4)) << t.raw;
    EXPECT_TRUE(t.HasLine(L"xm Fun:Lua_RegSvr32, Description:" + missing + L" it's not exists!\r\n")) << t.raw;
    const std::string log = LogOf(d.dll);
    EXPECT_EQ(0u, log.find("register|")) << log;
    EXPECT_NE(std::string::npos, log.find("\nunregister|")) << log;
    size_t inHost = 0;
    for (size_t at = log.find("qelscripthost"); at != std::string::npos; at = log.find("qelscripthost", at + 1))
        ++inHost;
    EXPECT_EQ(2u, inHost) << "both entry points ran inside the script host: " << log;
}

TEST(ServiceApi, RegistDllStartsRegsvr32WithTheSwitchesAndTheQuotedPath)
{
    RegistrationDir d;
    const Transcript t = RunCalls({{L"Lua_RegistDll", {Text(d.dll), Text(L"/i /s"), kFalse}}});
    EXPECT_EQ(L"boolean:true", Result(t, 1)) << t.raw;
    // Wine's regsvr32 calls DllInstall after DllRegisterServer for /i.
    const std::string registered = WaitForLog(d.dll, 2);
    const std::string command = "regsvr32 /i /s \"" + WideToUtf8(d.dll) + "\"";
    EXPECT_EQ("register|" + command + "\ninstall|" + command + "\n", registered);

    const Transcript u = RunCalls({{L"Lua_RegistDll", {Text(d.dll), Text(L"/u /s")}}});
    EXPECT_EQ(L"boolean:true", Result(u, 1)) << u.raw;
    const std::string unregistered = WaitForLog(d.dll, 3);
    EXPECT_EQ(registered + "unregister|regsvr32 /u /s \"" + WideToUtf8(d.dll) + "\"\n", unregistered);
}

TEST(ServiceApi, RegistDllOfAMissingDllStartsNothing)
{
    RegistrationDir d;
    const std::wstring missing = d.folder + L"\\missing.dll";
    const Transcript t = RunCalls({{L"Lua_RegistDll", {Text(missing), Text(L"/i /s")}}});
    EXPECT_EQ(L"boolean:false", Result(t, 1)) << t.raw;
    EXPECT_TRUE(t.HasLine(L"xm Fun:Lua_RegistDll, Description:" + missing + L" it's not exists!\r\n")) << t.raw;
}

}  // namespace
