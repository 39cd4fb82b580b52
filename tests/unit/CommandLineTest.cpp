#include "qelinstaller/CommandLine.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

struct CommandLineCase {
    const wchar_t* line;
    std::vector<std::pair<std::wstring, std::wstring>> found;  // key -> value that must be there
    std::vector<std::wstring> absent;                           // keys that must not be there
};

// Printed as the case's command tail, so the case names say what they test.
void PrintTo(const CommandLineCase& c, std::ostream* os)
{
    std::wstring tail = c.line;
    tail = tail.substr(tail.find(L'/') == std::wstring::npos ? 0 : tail.find(L'/'));
    for (wchar_t ch : tail)
        *os << (ch >= 0x20 && ch < 0x7F && ch != L'"' ? static_cast<char>(ch) : '_');
}

class CommandLineCases : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineCases, YieldsTheseEntries)
{
    const CommandLineCase& c = GetParam();
    CCommandLine commandLine;
    commandLine.Parse(c.line);
    for (const auto& entry : c.found) {
        std::wstring value = L"stale";
        EXPECT_TRUE(commandLine.Lookup(entry.first, value)) << "key [" << entry.first << "]";
        EXPECT_EQ(entry.second, value) << "key [" << entry.first << "]";
    }
    for (const std::wstring& key : c.absent) {
        std::wstring value = L"stale";
        EXPECT_FALSE(commandLine.Lookup(key, value)) << "key [" << key << "]";
        EXPECT_TRUE(value.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Switches, CommandLineCases, ::testing::Values(
    CommandLineCase{L"setup.exe /InstallListenWnd 455 /InstallSlience true",
                    {{L"setup.exe", L""}, {L"InstallListenWnd", L"455"}, {L"InstallSlience", L"true"}}, {}},
    CommandLineCase{L"\"C:\\Program Files\\setup.exe\" /A 1",
                    {{L"\"C:\\Program", L"Files\\setup.exe\""}, {L"A", L"1"}}, {}},
    CommandLineCase{L"setup.exe /InstallSlience", {{L"InstallSlience", L""}}, {}},
    CommandLineCase{L"setup.exe /InstallSlience  \"true\" ", {{L"InstallSlience", L"true"}}, {}},
    CommandLineCase{L"setup.exe /InstallSlience \"true", {{L"InstallSlience", L"\"true"}}, {}},
    CommandLineCase{L"setup.exe /InstallSlience \"\"true\"\"", {{L"InstallSlience", L"\"true\""}}, {}},
    CommandLineCase{L"setup.exe /InstallSlience \"", {{L"InstallSlience", L"\""}}, {}},
    CommandLineCase{L"setup.exe /installslience true", {{L"installslience", L"true"}}, {L"InstallSlience"}},
    CommandLineCase{L"setup.exe /A 1 /A 2", {{L"A", L"2"}}, {}},
    CommandLineCase{L"setup.exe //A 1", {{L"A", L"1"}}, {L""}},
    CommandLineCase{L"setup.exe / A 1", {{L"", L"A 1"}}, {L"A"}},
    CommandLineCase{L"setup.exe /path C:/Temp/x", {{L"path", L"C:"}, {L"Temp", L""}, {L"x", L""}}, {}},
    CommandLineCase{L"setup.exe /A\t1", {{L"A\t1", L""}}, {L"A"}},
    CommandLineCase{L"setup.exe /A \t\r\n\x1d" L"1\x1d\n ", {{L"A", L"1"}}, {}},
    CommandLineCase{L"setup.exe /A \x1e" L"1\x1f", {{L"A", L"\x1e" L"1\x1f"}}, {}},
    CommandLineCase{L"setup.exe /url http://x.example/a", {{L"url", L"http:"}, {L"x.example", L""}, {L"a", L""}}, {}},
    CommandLineCase{L"setup.exe/", {{L"setup.exe", L""}}, {L""}}));

TEST(CommandLine, EmptyLineGivesNoPieceAndLookupFails)
{
    CCommandLine commandLine;
    EXPECT_FALSE(commandLine.Parse(L"///"));
    std::wstring value = L"stale";
    EXPECT_FALSE(commandLine.Lookup(L"InstallSlience", value));
    EXPECT_TRUE(value.empty());
}

}  // namespace
