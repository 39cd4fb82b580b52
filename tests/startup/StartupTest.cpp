#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using qeltest::BinPath;
using qeltest::Launch;
using qeltest::LaunchRequest;
using qeltest::Transcript;

namespace {

const std::wstring kInstallPath = L"C:\\QelTest\\\x5B89\x88C5";  // C:\QelTest\安装
const std::wstring kDefaultMutex = L"Global\\{A043B702-166A-4FB8-9733-E2BC4713F36F}108";
const unsigned kInstallFinished = 3014;
const wchar_t* const kEvents[] = {L"BeforeInit", L"BeforeInstall", L"OnInstall", L"BeforeComplete", L"AfterComplete"};

std::wstring EventLine(const std::wstring& event, bool silent, const std::wstring& installPath)
{
    return L"xm event " + event + L" ss=" + (silent ? L"true" : L"false") + L" InstallPath=" + installPath + L"\r\n";
}

int IndexStartingWith(const Transcript& t, const std::wstring& prefix)
{
    for (size_t i = 0; i < t.debugLines.size(); ++i)
        if (t.debugLines[i].compare(0, prefix.size(), prefix) == 0)
            return static_cast<int>(i);
    return -1;
}

LaunchRequest TestInstaller(const std::wstring& arguments, std::vector<std::pair<std::wstring, std::wstring>> environment = {})
{
    LaunchRequest request;
    request.program = BinPath(L"qeltest_installer.exe");
    request.arguments = arguments;
    request.environment = std::move(environment);
    return request;
}

void ExpectSilentRun(const Transcript& t)
{
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_EQ(0u, t.exitCode);
    const int before = IndexStartingWith(t, L"xm event BeforeInit ");
    const int flagged = t.IndexOf(L"xm global_ss_install==true ~!\r\n");
    const int started = t.IndexOf(L"xm start ss install!");
    EXPECT_GE(before, 0) << t.raw;
    EXPECT_GT(flagged, before) << t.raw;
    EXPECT_EQ(flagged + 1, started) << t.raw;
    int previous = started;
    for (size_t i = 1; i < 5; ++i) {
        const int at = t.IndexOf(EventLine(kEvents[i], true, kInstallPath));
        EXPECT_GT(at, previous) << kEvents[i] << "\n" << t.raw;
        previous = at;
    }
    EXPECT_EQ(1, t.CountMessages(kInstallFinished)) << t.raw;
}

void ExpectInteractiveStartThatEndsAfterBeforeInit(const Transcript& t)
{
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_EQ(0u, t.exitCode);
    EXPECT_GE(IndexStartingWith(t, L"xm event BeforeInit "), 0) << t.raw;
    EXPECT_FALSE(t.HasLine(L"xm start ss install!")) << t.raw;
    for (size_t i = 1; i < 5; ++i)
        EXPECT_EQ(std::wstring::npos, t.raw.find(L"event " + std::wstring(kEvents[i]))) << t.raw;
    EXPECT_EQ(0, t.CountMessages(kInstallFinished));
}

TEST(SilentRun, RunsTheEventsInOrderOnTheMainThreadAndNotifiesTheListener)
{
    const Transcript t = Launch(TestInstaller(L"/InstallSlience true"));
    ExpectSilentRun(t);
    EXPECT_TRUE(t.HasLine(L"xm  szObjectName = " + kDefaultMutex + L" ")) << t.raw;
}

TEST(SilentRun, WithoutAListenerTheRunStillCompletes)
{
    LaunchRequest request = TestInstaller(L"/InstallSlience true /InstallListenWnd 0x1A");
    request.listen = false;
    const Transcript t = Launch(request);
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_EQ(0u, t.exitCode);
    EXPECT_TRUE(t.HasLine(EventLine(L"AfterComplete", true, kInstallPath))) << t.raw;
    EXPECT_TRUE(t.messages.empty());
}

struct RunModeCase {
    const wchar_t* name;
    const wchar_t* arguments;
    const wchar_t* enabled;
    const wchar_t* scriptAsks;
    bool silent;
};

void PrintTo(const RunModeCase& c, std::ostream* os) { *os << qeltest::WideToUtf8(c.name); }

class RunModes : public ::testing::TestWithParam<RunModeCase> {};

TEST_P(RunModes, FollowTheSwitchAndTheScriptGlobals)
{
    const RunModeCase& c = GetParam();
    const Transcript t = Launch(TestInstaller(c.arguments, {{L"QELTEST_ENABLE_SS", c.enabled}, {L"QELTEST_SS", c.scriptAsks}}));
    if (c.silent) {
        ExpectSilentRun(t);
        return;
    }
    ExpectInteractiveStartThatEndsAfterBeforeInit(t);
    EXPECT_TRUE(t.HasLine(L"xm installer window is not part of this build; interactive run ends\r\n")) << t.raw;
}

std::string RunModeName(const ::testing::TestParamInfo<RunModeCase>& info) { return qeltest::WideToUtf8(info.param.name); }

INSTANTIATE_TEST_SUITE_P(Startup, RunModes, ::testing::Values(
    RunModeCase{L"SwitchTrueAloneIsSilent", L"/InstallSlience true", L"0", L"0", true},
    RunModeCase{L"SwitchTRUEIsNot", L"/InstallSlience TRUE", L"0", L"1", false},
    RunModeCase{L"SwitchYesIsNot", L"/InstallSlience yes", L"1", L"0", false},
    RunModeCase{L"EnabledAndAskedIsSilent", L"", L"1", L"1", true},
    RunModeCase{L"AskedButNotEnabledIsNot", L"", L"0", L"1", false},
    RunModeCase{L"EnabledButNotAskedIsNot", L"", L"1", L"0", false}), RunModeName);

TEST(Events, ThatAreMissingOrNotFunctionsAreSkippedWithoutAReport)
{
    const Transcript t = Launch(TestInstaller(L"/InstallSlience true", {{L"QELTEST_ODD_EVENTS", L"1"}}));
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_EQ(0u, t.exitCode);
    EXPECT_TRUE(t.boxes.empty()) << t.raw;
    EXPECT_EQ(std::wstring::npos, t.raw.find(L"event BeforeInit")) << t.raw;
    EXPECT_EQ(std::wstring::npos, t.raw.find(L"event OnInstall")) << t.raw;
    EXPECT_TRUE(t.HasLine(EventLine(L"AfterComplete", true, kInstallPath))) << t.raw;
    EXPECT_EQ(1, t.CountMessages(kInstallFinished));
}

TEST(ScriptError, ErrorNilInAnEventShowsNullAndTheCallStackThenEndsWithZero)
{
    LaunchRequest request = TestInstaller(L"/InstallSlience true", {{L"QELTEST_FAIL_IN", L"OnInstall"}});
    request.answers = {L"ok"};
    const Transcript t = Launch(request);
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_EQ(0u, t.exitCode);
    ASSERT_EQ(1u, t.boxes.size()) << t.raw;
    const qeltest::MessageBoxRecord& box = t.boxes[0];
    EXPECT_EQ(L":-( \x676F\x5177\xFF0C\x811A\x672C\x6267\x884C\x65F6\x53D1\x751F\x9519\x8BEF", box.title);
    EXPECT_EQ(static_cast<unsigned>(MB_ICONERROR), box.style);
    EXPECT_EQ(0u, box.text.find(L"(null)\n      <call stack>\n-> | ")) << box.text;
    EXPECT_NE(std::wstring::npos, box.text.find(L"\n--  | ")) << box.text;
    const std::wstring feedback = L"\x8BF7\x5411\x6211\x4EEC\x53CD\x9988\x4EE5\x4E0A\x9519\x8BEF\x4FE1\x606F\xFF0C"
                                  L"\x4EE5\x4FBF\x6211\x4EEC\x6539\x5584\x4EA7\x54C1\x8D28\x91CF\xFF01";
    EXPECT_EQ(box.text.size() - feedback.size(), box.text.rfind(feedback)) << box.text;
    EXPECT_EQ(L'\n', box.text[box.text.size() - feedback.size() - 1]);
    EXPECT_EQ(IDOK, box.answer);
    EXPECT_TRUE(t.HasLine(EventLine(L"OnInstall", true, kInstallPath))) << t.raw;
    EXPECT_EQ(std::wstring::npos, t.raw.find(L"event BeforeComplete")) << t.raw;
    EXPECT_EQ(0, t.CountMessages(kInstallFinished));
}

class SecondInstance : public ::testing::Test
{
protected:
    void Hold(const std::wstring& name)
    {
        m_mutex = CreateMutexW(nullptr, FALSE, name.c_str());
        ASSERT_NE(nullptr, m_mutex);
    }
    void TearDown() override
    {
        if (m_mutex != nullptr)
            CloseHandle(m_mutex);
    }
    HANDLE m_mutex = nullptr;
};

TEST_F(SecondInstance, WithoutTheSilentSwitchEndsBeforeAnyEvent)
{
    Hold(kDefaultMutex);
    const Transcript t = Launch(TestInstaller(L"", {{L"QELTEST_ENABLE_SS", L"1"}, {L"QELTEST_SS", L"1"}}));
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_EQ(0u, t.exitCode);
    EXPECT_TRUE(t.HasLine(L"xm CreateAppInstance return true")) << t.raw;
    EXPECT_EQ(std::wstring::npos, t.raw.find(L"event ")) << t.raw;
    EXPECT_EQ(0, t.CountMessages(kInstallFinished));
}

TEST_F(SecondInstance, TheSilentSwitchWithoutValueLetsItRunButNotSilently)
{
    Hold(kDefaultMutex);
    const Transcript t = Launch(TestInstaller(L"/InstallSlience"));
    EXPECT_FALSE(t.HasLine(L"xm CreateAppInstance return true")) << t.raw;
    ExpectInteractiveStartThatEndsAfterBeforeInit(t);
}

TEST_F(SecondInstance, AConfiguredMutexNameIsUsedUnchanged)
{
    Hold(L"Local\\QelTestGuard");
    const Transcript t = Launch(TestInstaller(L"/InstallSlience true", {{L"QELTEST_MUTEX", L"Local\\QelTestGuard"}}));
    EXPECT_TRUE(t.HasLine(L"xm  szObjectName = Local\\QelTestGuard ")) << t.raw;
    ExpectSilentRun(t);
}

TEST(ScriptLoading, SettingsGivenAsSourceTextLoadLikeBytecode)
{
    LaunchRequest request = TestInstaller(L"/InstallSlience true");
    request.program = BinPath(L"qeltest_source_settings.exe");
    ExpectSilentRun(Launch(request));
}

TEST(ScriptLoading, ASettingsScriptThatFailsEndsTheStartBeforeTheInstallScript)
{
    LaunchRequest request = TestInstaller(L"/InstallSlience true");
    request.program = BinPath(L"qeltest_broken_settings.exe");
    const Transcript t = Launch(request);
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_EQ(0u, t.exitCode);
    EXPECT_TRUE(t.HasLine(L"xm luaL_loadbuffer failed!\r\n")) << t.raw;
    EXPECT_TRUE(t.HasLine(L"xm DoResLua failed, GLOBAL_VAR.LUAC")) << t.raw;
    EXPECT_EQ(std::wstring::npos, t.raw.find(L"event ")) << t.raw;
    EXPECT_EQ(0, t.CountMessages(kInstallFinished));
}

TEST(ScriptLoading, AnInstallScriptThatFailsEndsTheStart)
{
    LaunchRequest request = TestInstaller(L"/InstallSlience true");
    request.program = BinPath(L"qeltest_broken_install.exe");
    const Transcript t = Launch(request);
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_EQ(0u, t.exitCode);
    EXPECT_TRUE(t.HasLine(L"xm DoResLua failed, INSTSCRIPT.LUAC")) << t.raw;
    EXPECT_FALSE(t.HasLine(L"xm DoResLua failed, GLOBAL_VAR.LUAC")) << t.raw;
    EXPECT_EQ(0, t.CountMessages(kInstallFinished));
}

TEST(StartupFiles, TheOldInstallLogIsDeleted)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"Tarvik\\Navolo";
    CreateDirectoryW((std::wstring(temp) + L"Tarvik").c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring log = folder + L"\\Install.log";
    ASSERT_TRUE(qeltest::WriteTextFile(log, "old log"));
    const Transcript t = Launch(TestInstaller(L"/InstallSlience true"));
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_FALSE(qeltest::FileExists(log));
    EXPECT_TRUE(qeltest::FileExists(folder));
}

}  // namespace
