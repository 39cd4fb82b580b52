#include "support/TestSupport.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using qeltest::BinPath;
using qeltest::Launch;
using qeltest::LaunchRequest;
using qeltest::Transcript;

namespace {

const wchar_t kNavoloKey[] = L"SOFTWARE\\Navolo";

// Runs qeltest_stathost.exe (from program, default: the bin folder beside kvstat.dll) with its
// library journal in journal.
Transcript RunHost(const std::wstring& arguments, const std::wstring& journal,
                   const std::wstring& program = BinPath(L"qeltest_stathost.exe"))
{
    LaunchRequest request;
    request.program = program;
    request.arguments = arguments;
    request.listen = false;
    request.timeoutSeconds = 120;
    request.environment = {{L"KVSTAT_JOURNAL", journal}};
    return Launch(request);
}

void ExpectRanThrough(const Transcript& t, bool started, int posts)
{
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_EQ(0u, t.exitCode);
    int previous = t.IndexOf(started ? L"xm stathost start=1\r\n" : L"xm stathost start=0\r\n");
    EXPECT_GE(previous, 0) << t.raw;
    int count = 0;
    for (const auto& line : t.debugLines)
        count += line == L"xm stathost posted=1\r\n" ? 1 : 0;
    EXPECT_EQ(posts, count) << t.raw;
    EXPECT_GT(t.IndexOf(L"xm stathost done\r\n"), previous) << t.raw;
}

void SetUnionId(const DWORD* value)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kNavoloKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr));
    if (value != nullptr)
        RegSetValueExW(key, L"UnionId", 0, REG_DWORD, reinterpret_cast<const BYTE*>(value), sizeof(*value));
    else
        RegDeleteValueW(key, L"UnionId");
    RegCloseKey(key);
}

std::wstring LocalAppData()
{
    wchar_t path[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, path, CSIDL_LOCAL_APPDATA, FALSE);
    return path;
}

std::string ReadOrEmpty(const std::wstring& path)
{
    std::string text;
    qeltest::ReadTextFile(path, text);
    return text;
}

}  // namespace

TEST(StatModule, ReportsChannelVersionAndBothOptionsInOrder)
{
    const DWORD below = 99;
    const DWORD lowest = 100;
    const struct {
        const char* name;
        const DWORD* unionId;
        const char* channel;
    } cases[] = {{"missing", nullptr, "4003"}, {"99", &below, "4003"}, {"100", &lowest, "100"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUnionId(c.unionId);
        qeltest::TempDir dir;
        const Transcript t = RunHost(L"25103 25105", dir.File(L"journal.txt"));
        ExpectRanThrough(t, true, 2);
        EXPECT_EQ(std::string("stat_appid 108\n"
                              "stat_unionid ") + c.channel + "\n"
                              "stat_version_ex 4 0 5 22\n"
                              "stat_dispatch_addr \"stat.navolo.example\" 8700\n"
                              "stat_init = 1\n"
                              "stat_mutilaction [25103] 1 0\n"
                              "stat_mutilaction [25105] 1 0\n"
                              "stat_offline\n"
                              "stat_close\n",
                  ReadOrEmpty(dir.File(L"journal.txt")));
    }
}

TEST(StatModule, WithoutTheLibraryEverythingStillRuns)
{
    qeltest::TempDir dir;
    const std::wstring host = dir.File(L"qeltest_stathost.exe");
    ASSERT_TRUE(CopyFileW(BinPath(L"qeltest_stathost.exe").c_str(), host.c_str(), FALSE));
    const Transcript t = RunHost(L"25104 25106", dir.File(L"journal.txt"), host);
    ExpectRanThrough(t, false, 2);
    EXPECT_FALSE(qeltest::FileExists(dir.File(L"journal.txt")));
}

TEST(StatModule, DataFileCollectsActionsOnlyWhenNamedAndPresent)
{
    const std::wstring folder = LocalAppData() + L"\\RuZiruded\\data";
    qeltest::TempDir dir;

    ExpectRanThrough(RunHost(L"25103 25105", dir.File(L"j1.txt")), true, 2);
    EXPECT_FALSE(qeltest::FileExists(folder)) << "an empty data-file name touches nothing";

    ExpectRanThrough(RunHost(L"/data actions.dat 25103", dir.File(L"j2.txt")), true, 1);
    EXPECT_TRUE(qeltest::FileExists(folder)) << "the data folder is made";
    EXPECT_FALSE(qeltest::FileExists(folder + L"\\actions.dat")) << "a file that is not there is not created";

    ASSERT_TRUE(qeltest::WriteTextFile(folder + L"\\actions.dat", ""));
    ExpectRanThrough(RunHost(L"/data actions.dat 25103 -25106", dir.File(L"j3.txt")), true, 2);
    EXPECT_EQ("25103,\n-25106,\n", ReadOrEmpty(folder + L"\\actions.dat"));
    EXPECT_NE(std::string::npos, ReadOrEmpty(dir.File(L"j3.txt")).find("stat_mutilaction [25103] 1 0\n"
                                                                       "stat_mutilaction [-25106] 1 0\n"));
}
