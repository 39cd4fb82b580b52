#include "qelinstaller/AppInstance.h"
#include "qelinstaller/InstallMgr.h"
#include "utility/qelscriptengine/QELScriptEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

const std::wstring kDefaultName = L"Global\\{A043B702-166A-4FB8-9733-E2BC4713F36F}";

struct MutexNameCase {
    std::wstring configured;
    long long appId;
    bool fits;
    std::wstring name;
};

void PrintTo(const MutexNameCase& c, std::ostream* os)
{
    *os << (c.configured.empty() ? "default" : "configured" + std::to_string(c.configured.size())) << "_id" << c.appId;
}

class MutexNames : public ::testing::TestWithParam<MutexNameCase> {};

TEST_P(MutexNames, AreBuiltFromTheSettings)
{
    const MutexNameCase& c = GetParam();
    std::wstring name = L"stale";
    EXPECT_EQ(c.fits, qel::BuildInstanceMutexName(c.configured, c.appId, name));
    EXPECT_EQ(c.name, name);
}

INSTANTIATE_TEST_SUITE_P(InstanceGuard, MutexNames, ::testing::Values(
    MutexNameCase{L"", 108, true, kDefaultName + L"108"},
    MutexNameCase{L"", 0, true, kDefaultName},
    MutexNameCase{L"", -5, true, kDefaultName + L"-5"},
    MutexNameCase{L"Local\\MySetup", 108, true, L"Local\\MySetup"},
    MutexNameCase{std::wstring(259, L'n'), 108, true, std::wstring(259, L'n')},
    MutexNameCase{std::wstring(260, L'n'), 108, false, L""}));

TEST(InstanceGuard, SecondCreatorGetsAHandleTheFirstDoesNot)
{
    const std::wstring name = L"Local\\QelUnitGuard" + std::to_wstring(GetCurrentProcessId());
    HANDLE first = qel::CreateAppInstance(name, 0);
    EXPECT_EQ(nullptr, first) << "the first instance keeps its mutex to itself";
    HANDLE second = qel::CreateAppInstance(name, 0);
    EXPECT_NE(nullptr, second);
    if (second != nullptr)
        CloseHandle(second);
}

std::atomic<int> g_inside{0};
std::atomic<int> g_overlaps{0};

int SlowEvent(lua_State*)
{
    if (++g_inside > 1)
        ++g_overlaps;
    Sleep(30);
    --g_inside;
    return 0;
}

TEST(InstallManager, TwoEventsNeverRunAtOnce)
{
    lua_State* L = QELScriptEngine::Instance().GetState();
    lua_register(L, "QELSE_OnInstall", SlowEvent);
    lua_register(L, "QELSE_BeforeInstall", SlowEvent);
    std::thread worker([] {
        for (int i = 0; i < 10; ++i)
            CInstallMgr::Instance().OnInstall();
    });
    for (int i = 0; i < 10; ++i)
        CInstallMgr::Instance().BeforeInstall();
    worker.join();
    EXPECT_EQ(0, g_overlaps.load());
    lua_pushnil(L);
    lua_setglobal(L, "QELSE_OnInstall");
    lua_pushnil(L);
    lua_setglobal(L, "QELSE_BeforeInstall");
}

}  // namespace
