#include "ArchiveSupport.h"

#include "utility/qelscriptengine/MemoryInStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace archivetest;
using qeltest::DebugCapture;
using qeltest::TempDir;

namespace {

// 2021-03-04 05:06:07 UTC, the time make_archives.py gives every fixture entry.
const ULONGLONG kFixtureTime = 132593079670000000ULL;
const wchar_t kChineseName[] = L"\x4E2D\x6587\x6587\x4EF6.txt";

bool HasLine(const std::vector<std::wstring>& lines, const std::wstring& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool HasLineStarting(const std::vector<std::wstring>& lines, const std::wstring& prefix)
{
    return std::any_of(lines.begin(), lines.end(), [&](const std::wstring& l) { return l.compare(0, prefix.size(), prefix) == 0; });
}

// Runs Lua_UnCompress7z(SOURCE, DEST, <arguments>) with the globals set; the result lands in
// the global result and every onFile path in the global files (joined by '|').
bool UnCompress(const std::wstring& source, const std::wstring& destination, const std::string& tail = ", true",
                const std::string& prelude = "")
{
    SetGlobalText("SOURCE", source);
    SetGlobalText("DEST", destination);
    const std::string chunk = "files = {}\n"
                              "function on_file(path) files[#files + 1] = path end\n" +
                              prelude + "result = tostring(Lua_UnCompress7z(SOURCE, DEST" + tail + "))\n"
                              "files = table.concat(files, '|')\n";
    EXPECT_TRUE(RunLua(chunk));
    return GlobalText("result") == "true";
}

ULONGLONG LastWriteTime(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

void ClearReadOnly(const std::wstring& root)
{
    for (const auto& entry : Tree(root))
        SetFileAttributesW((root + L"\\" + entry.first).c_str(), entry.second == "<dir>" ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL);
}

// A temporary folder whose read-only files are made writable first, so it can be removed.
class OutputDir : public TempDir
{
public:
    ~OutputDir() { ClearReadOnly(Path()); }
};

class Methods : public ::testing::TestWithParam<const char*> {};

TEST_P(Methods, UnpackTheWholeTreeWithTimesAttributesAndFileCallbacks)
{
    OutputDir out;
    ASSERT_TRUE(UnCompress(Fixture(qeltest::Utf8ToWide(GetParam()) + L".7z"), out.Path(), ", true, on_file"));
    EXPECT_EQ(Tree(Fixture(L"tree")), Tree(out.Path()));

    EXPECT_EQ(kFixtureTime, LastWriteTime(out.File(L"readme.txt")));
    EXPECT_EQ(kFixtureTime, LastWriteTime(out.File(kChineseName)));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesW(out.File(L"readme.txt").c_str()));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY), GetFileAttributesW(out.File(L"ro.txt").c_str()));

    // Files only, the empty one included; never the directories.
    std::vector<std::wstring> told;
    std::wstring files = qeltest::Utf8ToWide(GlobalText("files"));
    for (size_t start = 0, bar; start <= files.size(); start = bar + 1) {
        bar = files.find(L'|', start);
        if (bar == std::wstring::npos)
            bar = files.size();
        told.push_back(files.substr(start, bar - start));
    }
    std::sort(told.begin(), told.end());
    std::vector<std::wstring> expected = {out.File(L"code.exe"), out.File(L"empty.bin"), out.File(L"readme.txt"),
                                          out.File(L"ro.txt"), out.File(L"sub\\deeper\\nested.txt"), out.File(kChineseName)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, told);
}

INSTANTIATE_TEST_SUITE_P(Archive, Methods, ::testing::Values("lzma", "lzma2", "bcj", "bcj2", "arm", "copy"));

class UnsupportedMethods : public ::testing::TestWithParam<const char*> {};

TEST_P(UnsupportedMethods, GiveFalse)
{
    OutputDir out;
    DebugCapture capture;
    EXPECT_FALSE(UnCompress(Fixture(qeltest::Utf8ToWide(GetParam()) + L".7z"), out.Path()));
    EXPECT_TRUE(HasLine(capture.Lines(), L"xm Fun:Lua_UnCompress7z, Description: UnCompress failed.!\r\n"));
}

INSTANTIATE_TEST_SUITE_P(Archive, UnsupportedMethods, ::testing::Values("ppmd", "aes"));

TEST(Archive, AFileWithoutDirectoryEntriesGetsItsFolders)
{
    OutputDir out;
    ASSERT_TRUE(UnCompress(Fixture(L"nodirs.7z"), out.Path()));
    std::string bytes;
    EXPECT_TRUE(ReadBytes(out.File(L"a\\b\\c.txt"), bytes));
    EXPECT_EQ("c\n", bytes);
}

TEST(Archive, ReplacesReadOnlyFilesAndSetsTheStoredReadOnlyMarkAgain)
{
    OutputDir out;
    for (const wchar_t* name : {L"readme.txt", L"ro.txt"}) {
        ASSERT_TRUE(qeltest::WriteTextFile(out.File(name), "old"));
        SetFileAttributesW(out.File(name).c_str(), FILE_ATTRIBUTE_READONLY);
    }
    ASSERT_TRUE(UnCompress(Fixture(L"lzma2.7z"), out.Path()));
    EXPECT_EQ(Tree(Fixture(L"tree")), Tree(out.Path()));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesW(out.File(L"readme.txt").c_str()));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY), GetFileAttributesW(out.File(L"ro.txt").c_str()));
}

TEST(Archive, ADestinationThatDoesNotExistIsNeitherCreatedNorUsed)
{
    TempDir out;
    const std::wstring missing = out.File(L"missing");
    DebugCapture capture;
    EXPECT_FALSE(UnCompress(Fixture(L"lzma2.7z"), missing));
    EXPECT_FALSE(qeltest::FileExists(missing));
    EXPECT_TRUE(HasLine(capture.Lines(), L"xm Fun:Lua_UnCompress7z, Description:" + missing + L" it's not exists!\r\n"));
}

struct ArgumentCase {
    const char* name;
    std::string tail;
    bool result;
    const wchar_t* line;
};

void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << c.name; }

class Arguments : public ::testing::TestWithParam<ArgumentCase> {};

// Only the boolean true reads the source as a file; 1 or a string look for a resource of that name.
TEST_P(Arguments, SelectTheModeAndTheCallbacksByType)
{
    OutputDir out;
    DebugCapture capture;
    EXPECT_EQ(GetParam().result, UnCompress(Fixture(L"numbered.7z"), out.Path(), GetParam().tail));
    EXPECT_TRUE(HasLine(capture.Lines(), GetParam().line)) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Archive, Arguments, ::testing::Values(
    ArgumentCase{"FileMode", ", true", true, L"xm UnCompress successful.\r\n"},
    ArgumentCase{"NumberOneIsResourceMode", ", 1", false, L"xm Fun:Lua_UnCompress7z ,LoadResource failed!\r\n"},
    ArgumentCase{"StringIsResourceMode", ", 'true'", false, L"xm Fun:Lua_UnCompress7z ,LoadResource failed!\r\n"},
    ArgumentCase{"SixArgumentsFail", ", true, nil, nil, nil", false, L"xm Fun:Lua_UnCompress7z, Description: UnCompress failed.!\r\n"}),
    [](const ::testing::TestParamInfo<ArgumentCase>& info) { return std::string(info.param.name); });

TEST(Archive, FewerThanTwoArgumentsFail)
{
    DebugCapture capture;
    ASSERT_TRUE(RunLua("result = tostring(Lua_UnCompress7z('App.7z'))"));
    EXPECT_EQ("false", GlobalText("result"));
    EXPECT_TRUE(HasLine(capture.Lines(), L"xm Fun:Lua_UnCompress7z, Description: UnCompress failed.!\r\n"));
}

// The payload resource stores 'z' '7'; every use in the process must read a standard archive
// and leave the stored bytes as they were.
TEST(PayloadResource, EveryUseInAProcessSeesAStandardArchiveAndTheImageStaysAsStored)
{
    for (int use = 0; use < 2; ++use) {
        OutputDir out;
        DebugCapture capture;
        EXPECT_TRUE(UnCompress(L"App.7z", out.Path(), ", false, nil, nil")) << "use " << use;
        EXPECT_EQ(Tree(Fixture(L"tree")), Tree(out.Path()));
        EXPECT_TRUE(HasLine(capture.Lines(), L"xm UnCompress App.7z to " + out.Path() + L" .\r\n"));
    }
    const HRSRC found = FindResourceW(nullptr, L"APP.7Z", L"_7Z");
    const char* image = static_cast<const char*>(LockResource(LoadResource(nullptr, found)));
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(0, memcmp(image, "z7\xBC\xAF", 4));
}

TEST(PayloadResource, ANumericIdentifierFindsTheResourceWithoutTheNameLine)
{
    OutputDir out;
    DebugCapture capture;
    EXPECT_TRUE(UnCompress(L"65543", out.Path(), ", false"));  // 65543 cut to 16 bits is 7
    EXPECT_EQ(Tree(Fixture(L"tree")), Tree(out.Path()));
    EXPECT_FALSE(HasLineStarting(capture.Lines(), L"xm UnCompress 65543"));
}

// The archive holds 1.txt, 2.txt, 3.txt in this order; one of them is held open by another process.
struct LockedCase {
    const char* name;
    const wchar_t* locked;
    std::string handler;  // Lua expression for onError, or "nil"
    bool releaseInHandler;
    bool result;
    int calls;
    std::vector<std::string> contents;  // of 1.txt, 2.txt, 3.txt afterwards
};

void PrintTo(const LockedCase& c, std::ostream* os) { *os << c.name; }

class HeldFile
{
public:
    explicit HeldFile(const std::wstring& path)
    {
        const std::wstring eventName = L"qeltest_holdfile_" + std::to_wstring(GetCurrentProcessId());
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
        std::wstring command = L"\"" + qeltest::BinPath(L"qeltest_holdfile.exe") + L"\" \"" + path + L"\" " + eventName;
        STARTUPINFOW si{sizeof si};
        if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &m_process)) {
            CloseHandle(m_process.hThread);
            HANDLE waits[2] = {ready, m_process.hProcess};
            m_held = WaitForMultipleObjects(2, waits, FALSE, 60000) == WAIT_OBJECT_0;
        }
        CloseHandle(ready);
    }
    ~HeldFile() { Release(); }
    bool IsHeld() const { return m_held; }
    void Release()
    {
        if (m_process.hProcess == nullptr)
            return;
        TerminateProcess(m_process.hProcess, 0);
        WaitForSingleObject(m_process.hProcess, 60000);
        CloseHandle(m_process.hProcess);
        m_process.hProcess = nullptr;
    }

private:
    PROCESS_INFORMATION m_process{};
    bool m_held = false;
};

HeldFile* g_heldFile = nullptr;

int ReleaseHeldFile(lua_State*)
{
    if (g_heldFile != nullptr)
        g_heldFile->Release();
    return 0;
}

class LockedOutput : public ::testing::TestWithParam<LockedCase> {};

TEST_P(LockedOutput, AsksOnErrorAndFollowsItsAnswer)
{
    const LockedCase& c = GetParam();
    OutputDir out;
    for (const wchar_t* name : {L"1.txt", L"2.txt", L"3.txt"})
        ASSERT_TRUE(qeltest::WriteTextFile(out.File(name), "old"));
    HeldFile held(out.File(c.locked));
    ASSERT_TRUE(held.IsHeld());
    g_heldFile = &held;
    lua_register(State(), "release_held_file", ReleaseHeldFile);
    const std::string prelude = "calls, codes = 0, {}\n"
                                "function on_error(path, code) calls = calls + 1; codes[#codes + 1] = code\n" +
                                std::string(c.releaseInHandler ? "  release_held_file()\n" : "") +
                                "  return " + c.handler + " end\n";
    const bool result = UnCompress(Fixture(L"numbered.7z"), out.Path(),
                                   std::string(", true, on_file, ") + (c.handler == "nil" ? "nil" : "on_error"), prelude);
    held.Release();
    g_heldFile = nullptr;
    EXPECT_EQ(c.result, result);
    ASSERT_TRUE(RunLua("codes = table.concat(codes, ',')"));
    EXPECT_EQ(std::to_string(c.calls), GlobalText("calls"));
    if (c.calls > 0) {
        EXPECT_EQ("32", GlobalText("codes"));  // ERROR_SHARING_VIOLATION
    }
    const wchar_t* names[] = {L"1.txt", L"2.txt", L"3.txt"};
    for (int i = 0; i < 3; ++i) {
        std::string bytes;
        ReadBytes(out.File(names[i]), bytes);
        EXPECT_EQ(c.contents[i], bytes) << qeltest::WideToUtf8(names[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(Archive, LockedOutput, ::testing::Values(
    LockedCase{"RetryOnceSucceedsWhenReleased", L"2.txt", "0", true, true, 1, {"new 1\n", "new 2\n", "new 3\n"}},
    LockedCase{"RetryOnceOnlyThenFails", L"2.txt", "0", false, false, 1, {"new 1\n", "old", "old"}},
    LockedCase{"NonNumberCountsAsRetry", L"2.txt", "'later'", true, true, 1, {"new 1\n", "new 2\n", "new 3\n"}},
    LockedCase{"NothingReturnedCountsAsRetry", L"2.txt", "", true, true, 1, {"new 1\n", "new 2\n", "new 3\n"}},
    LockedCase{"SkipKeepsTheOldFileAndGoesOn", L"2.txt", "1", false, true, 1, {"new 1\n", "old", "new 3\n"}},
    LockedCase{"SkipOfTheLastEntryStillSucceeds", L"3.txt", "1", false, true, 1, {"new 1\n", "new 2\n", "old"}},
    LockedCase{"AbortKeepsTheFilesBefore", L"2.txt", "2", false, false, 1, {"new 1\n", "old", "old"}},
    LockedCase{"NoHandlerFails", L"2.txt", "nil", false, false, 0, {"new 1\n", "old", "old"}}),
    [](const ::testing::TestParamInfo<LockedCase>& info) { return std::string(info.param.name); });

class EscapingNames : public ::testing::TestWithParam<const char*> {};

TEST_P(EscapingNames, RefuseTheArchiveAndWriteNothing)
{
    TempDir sandbox;
    const std::wstring destination = sandbox.File(L"d");
    ASSERT_TRUE(CreateDirectoryW(destination.c_str(), nullptr));
    EXPECT_FALSE(UnCompress(Fixture(L"escape_" + qeltest::Utf8ToWide(GetParam()) + L".7z"), destination));
    const std::map<std::wstring, std::string> expected = {{L"d", "<dir>"}};
    EXPECT_EQ(expected, Tree(sandbox.Path()));
    EXPECT_FALSE(qeltest::FileExists(L"C:\\e.txt"));
}

INSTANTIATE_TEST_SUITE_P(Archive, EscapingNames, ::testing::Values("dotdot", "backslash", "drive", "absolute", "dotspace"));

TEST(MemoryInStream, AnswersReadsPastTheEndShortAndCorrectsOnlyTheFirstTwoBytes)
{
    const uint8_t stored[] = {'z', '7', 0xBC, 0xAF, 0x27};
    MemoryInStream stream(stored, sizeof stored, true);
    ISeekInStreamPtr s = stream.Stream();
    uint8_t buffer[16];
    memset(buffer, 0xEE, sizeof buffer);
    size_t count = 1;
    ASSERT_EQ(SZ_OK, s->Read(s, buffer, &count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ('7', buffer[0]);
    count = sizeof buffer;
    ASSERT_EQ(SZ_OK, s->Read(s, buffer, &count));
    EXPECT_EQ(4u, count);
    EXPECT_EQ(0, memcmp(buffer, "z\xBC\xAF\x27", 4));
    EXPECT_EQ(0xEE, buffer[4]);
    count = sizeof buffer;
    ASSERT_EQ(SZ_OK, s->Read(s, buffer, &count));
    EXPECT_EQ(0u, count);

    Int64 position = 100;
    ASSERT_EQ(SZ_OK, s->Seek(s, &position, SZ_SEEK_SET));
    count = sizeof buffer;
    ASSERT_EQ(SZ_OK, s->Read(s, buffer, &count));
    EXPECT_EQ(0u, count);
    position = 0;
    ASSERT_EQ(SZ_OK, s->Seek(s, &position, SZ_SEEK_END));
    EXPECT_EQ(5, position);
    position = -1;
    EXPECT_NE(SZ_OK, s->Seek(s, &position, SZ_SEEK_SET));
    EXPECT_EQ(0, memcmp(stored, "z7", 2));
}

bool ExtractResource(const std::string& type, const std::string& name, const std::wstring& destination)
{
    SetGlobalText("DEST", destination);
    EXPECT_TRUE(RunLua("result = tostring(Lua_ExtractResource('" + type + "', " + name + ", DEST))"));
    return GlobalText("result") == "true";
}

std::string Bytes(const std::wstring& path)
{
    std::string bytes;
    EXPECT_TRUE(ReadBytes(path, bytes)) << qeltest::WideToUtf8(path);
    return bytes;
}

TEST(ExtractResource, WritesALuaResourceUnchanged)
{
    TempDir out;
    ASSERT_TRUE(ExtractResource("LUA", "'SAMPLE.LUAC'", out.File(L"Uninst.dar0")));
    const HRSRC found = FindResourceW(nullptr, L"SAMPLE.LUAC", L"LUA");
    const char* image = static_cast<const char*>(LockResource(LoadResource(nullptr, found)));
    EXPECT_EQ(std::string(image, SizeofResource(nullptr, found)), Bytes(out.File(L"Uninst.dar0")));
}

TEST(ExtractResource, WritesThePayloadAsAStandardArchiveAndTheImageStaysAsStored)
{
    TempDir out;
    const std::wstring archive = out.File(L"payload.7z");
    ASSERT_TRUE(ExtractResource("_7Z", "'APP.7Z'", archive));
    EXPECT_EQ(Bytes(Fixture(L"lzma2.7z")), Bytes(archive));
    OutputDir unpacked;
    EXPECT_TRUE(UnCompress(archive, unpacked.Path()));
    EXPECT_TRUE(UnCompress(L"APP.7Z", unpacked.Path(), ", false"));  // the image is still as stored

    ASSERT_TRUE(ExtractResource("_7Z", "7", out.File(L"by_id.7z")));
    EXPECT_EQ(Bytes(Fixture(L"bcj2.7z")), Bytes(out.File(L"by_id.7z")));
}

TEST(ExtractResource, ATypeThatDiffersInCaseFindsTheResourceButExchangesNothing)
{
    TempDir out;
    ASSERT_TRUE(ExtractResource("_7z", "'APP.7Z'", out.File(L"raw.bin")));
    EXPECT_EQ(Bytes(Fixture(L"lzma2.7z.swapped")), Bytes(out.File(L"raw.bin")));
}

struct ExtractFailure {
    const char* name;
    std::string type;
    std::string resource;
    std::wstring destination;  // relative to the temporary folder
    std::wstring linePrefix;   // "%DEST%" stands for the destination
};

void PrintTo(const ExtractFailure& c, std::ostream* os) { *os << c.name; }

class ExtractFailures : public ::testing::TestWithParam<ExtractFailure> {};

TEST_P(ExtractFailures, GiveFalseWithTheirLine)
{
    const ExtractFailure& c = GetParam();
    TempDir out;
    const std::wstring destination = out.File(c.destination);
    DebugCapture capture;
    EXPECT_FALSE(ExtractResource(c.type, c.resource, destination));
    std::wstring line = c.linePrefix;
    const size_t at = line.find(L"%DEST%");
    if (at != std::wstring::npos)
        line.replace(at, 6, destination);
    EXPECT_TRUE(HasLine(capture.Lines(), line));
    EXPECT_FALSE(qeltest::FileExists(destination));
}

INSTANTIATE_TEST_SUITE_P(ExtractResource, ExtractFailures, ::testing::Values(
    ExtractFailure{"MissingResource", "LUA", "'NO.SUCH'", L"x.bin", L"xm Fun:Lua_ExtractResource ,LoadResource failed!\r\n"},
    ExtractFailure{"FolderDoesNotExist", "LUA", "'SAMPLE.LUAC'", L"missing\\x.bin",
                   L"xm Fun:Lua_ExtractResource ,CreateFileW %DEST% failed!\r\n"}),
    [](const ::testing::TestParamInfo<ExtractFailure>& info) { return std::string(info.param.name); });

}  // namespace
