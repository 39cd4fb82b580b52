#include "ScriptApiSupport.h"

#include "utility/qelscriptengine/QELScriptEngine.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace qeltest;

namespace {

const std::wstring kTrueResult = L"boolean:true";
const std::wstring kFalseResult = L"boolean:false";

std::string Read(const std::wstring& path)
{
    std::string text;
    ReadTextFile(path, text);
    return text;
}

void MakeDirectory(const std::wstring& path) { ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << GetLastError(); }

// Holds a file open without sharing deletion, as a running program holds its own files.
class HeldFile
{
public:
    explicit HeldFile(const std::wstring& path)
        : m_handle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr))
    {
    }
    ~HeldFile() { Release(); }
    bool IsHeld() const { return m_handle != INVALID_HANDLE_VALUE; }
    void Release()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_handle;
};

// Lets go of the held file as soon as the given prompt (counting from 1) is on the screen, before
// the launcher answers it; 0 keeps the file held.
class ReleaseAtPrompt
{
public:
    ReleaseAtPrompt(HeldFile& file, int prompt) : m_file(file), m_prompt(prompt), m_thread([this] { Watch(); }) {}
    ~ReleaseAtPrompt()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    static BOOL CALLBACK Collect(HWND window, LPARAM param)
    {
        wchar_t cls[16] = {};
        wchar_t title[16] = {};
        GetClassNameW(window, cls, 16);
        GetWindowTextW(window, title, 16);
        if (wcscmp(cls, L"#32770") == 0 && wcscmp(title, L"提示") == 0 && IsWindowVisible(window))
            reinterpret_cast<std::set<HWND>*>(param)->insert(window);
        return TRUE;
    }

    void Watch()
    {
        std::set<HWND> seen;
        while (!m_stop) {
            EnumWindows(Collect, reinterpret_cast<LPARAM>(&seen));
            if (m_prompt > 0 && static_cast<int>(seen.size()) >= m_prompt)
                m_file.Release();
            Sleep(20);
        }
    }

    HeldFile& m_file;
    int m_prompt;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST(FileApi, CreateDirectoryMakesEveryMissingLevelAndAcceptsAnExistingOne)
{
    TempDir dir;
    const std::wstring deep = dir.File(L"a\\b\\c");
    const Transcript t = RunCalls({{L"Lua_CreateDirectory", {Text(deep)}}, {L"Lua_CreateDirectory", {Text(deep)}}});
    EXPECT_EQ(kTrueResult, Result(t, 1)) << t.raw;
    EXPECT_EQ(kTrueResult, Result(t, 2)) << t.raw;
    EXPECT_TRUE(IsDirectory(deep));
    int created = 0;
    for (const std::wstring& line : t.debugLines)
        created += line == L"xm Create Directory " + deep + L"!\r\n";
    EXPECT_EQ(1, created) << t.raw;
}

TEST(FileApi, CopyIntoAMissingFolderCreatesItAndKeepsTheSource)
{
    TempDir dir;
    ASSERT_TRUE(WriteTextFile(dir.File(L"source.txt"), "payload"));
    const std::wstring target = dir.File(L"new\\folder\\copy.txt");
    const Transcript t = RunCalls({{L"Lua_CopyFile", {Text(dir.File(L"source.txt")), Text(target)}}});
    EXPECT_EQ(kTrueResult, Result(t, 1)) << t.raw;
    EXPECT_EQ("payload", Read(target));
    EXPECT_EQ("payload", Read(dir.File(L"source.txt")));
    EXPECT_TRUE(t.HasLine(L"xm Copy " + dir.File(L"source.txt") + L" to " + target + L" !")) << t.raw;
}

TEST(FileApi, MoveAndRenameReplaceAnExistingTarget)
{
    for (const wchar_t* function : {L"Lua_MoveFile", L"Lua_RenameFile"}) {
        SCOPED_TRACE(function);
        TempDir dir;
        ASSERT_TRUE(WriteTextFile(dir.File(L"new.txt"), "new"));
        ASSERT_TRUE(WriteTextFile(dir.File(L"old.txt"), "old"));
        const Transcript t = RunCalls({{function, {Text(dir.File(L"new.txt")), Text(dir.File(L"old.txt"))}}});
        EXPECT_EQ(kTrueResult, Result(t, 1)) << t.raw;
        EXPECT_EQ("new", Read(dir.File(L"old.txt")));
        EXPECT_FALSE(FileExists(dir.File(L"new.txt")));
    }
}

TEST(FileApi, TransfersOfAMissingSourceFailWithTheFunctionsName)
{
    TempDir dir;
    const std::wstring missing = dir.File(L"missing.txt");
    for (const wchar_t* function : {L"Lua_CopyFile", L"Lua_MoveFile", L"Lua_RenameFile"}) {
        SCOPED_TRACE(function);
        const Transcript t = RunCalls({{function, {Text(missing), Text(dir.File(L"target.txt"))}}});
        EXPECT_EQ(kFalseResult, Result(t, 1)) << t.raw;
        EXPECT_TRUE(t.HasLine(L"xm Fun:" + std::wstring(function) + L", Description:" + missing + L" it's not exists!\r\n")) << t.raw;
        EXPECT_FALSE(FileExists(dir.File(L"target.txt")));
    }
}

TEST(FileApi, EveryDeleteOfAMissingPathIsTrueAndTouchesNothing)
{
    TempDir dir;
    ASSERT_TRUE(WriteTextFile(dir.File(L"keep.txt"), "keep"));
    const std::wstring missing = dir.File(L"missing");
    const wchar_t* const functions[] = {L"Lua_DeleteFile", L"Lua_DeleteFileEx", L"Lua_DelFileRecursive",
                                        L"Lua_DelFileRecursiveEx", L"Lua_DeleteFileAfterReboot"};
    std::vector<ApiCall> calls;
    for (const wchar_t* function : functions)
        calls.push_back({function, {Text(missing)}});
    const Transcript t = RunCalls(calls);
    for (size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(kTrueResult, Result(t, static_cast<int>(i) + 1)) << functions[i] << "\n" << t.raw;
    EXPECT_TRUE(t.boxes.empty());
    EXPECT_EQ("keep", Read(dir.File(L"keep.txt")));
    unsigned long code = 0;
    const std::string pending = RunCapture(L"reg.exe query \"HKLM\\System\\CurrentControlSet\\Control\\Session Manager\" /v PendingFileRenameOperations", &code);
    EXPECT_EQ(std::string::npos, pending.find("missing")) << pending;
}

TEST(FileApi, DeleteFileAfterRebootSchedulesAnExistingFile)
{
    // Wine carries the deletion out at its next session start; what is ours is the request.
    TempDir dir;
    ASSERT_TRUE(WriteTextFile(dir.File(L"later.txt"), "x"));
    const Transcript t = RunCalls({{L"Lua_DeleteFileAfterReboot", {Text(dir.File(L"later.txt"))}}});
    EXPECT_EQ(kTrueResult, Result(t, 1)) << t.raw;
    const std::string pending = RunCapture(L"reg.exe query \"HKLM\\System\\CurrentControlSet\\Control\\Session Manager\" /v PendingFileRenameOperations");
    EXPECT_NE(std::string::npos, pending.find("later.txt")) << pending;
}

struct HeldDeleteCase {
    const char* name;
    std::vector<std::wstring> answers;
    int releaseAtPrompt;
    size_t prompts;
    std::wstring result;  // "<none>": the process ended inside the call
    bool fileRemains;
};

void PrintTo(const HeldDeleteCase& c, std::ostream* os) { *os << c.name; }

class DeleteHeldFile : public ::testing::TestWithParam<HeldDeleteCase> {};

TEST_P(DeleteHeldFile, PromptsUntilTheUserDecides)
{
    const HeldDeleteCase& c = GetParam();
    TempDir dir;
    const std::wstring path = dir.File(L"busy.dat");
    ASSERT_TRUE(WriteTextFile(path, "busy"));
    HeldFile held(path);
    ASSERT_TRUE(held.IsHeld());
    Transcript t;
    {
        ReleaseAtPrompt release(held, c.releaseAtPrompt);
        t = RunCalls({{L"Lua_DeleteFile", {Text(path)}}}, c.answers);
    }
    held.Release();
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_EQ(0u, t.exitCode);
    EXPECT_EQ(c.result, Result(t, 1)) << t.raw;
    EXPECT_EQ(c.fileRemains, FileExists(path));
    ASSERT_EQ(c.prompts, t.boxes.size()) << t.raw;
    const std::wstring text = L"无法删除\"" + path + L"\"，可能是被占用，请关闭占用程序后点击重试或者点击忽略在卸载完成之后手动删除！";
    for (const MessageBoxRecord& box : t.boxes) {
        EXPECT_EQ(L"提示", box.title);
        EXPECT_EQ(text, box.text);
        EXPECT_EQ(0x22u, box.style);
    }
    EXPECT_EQ(c.answers == std::vector<std::wstring>{L"ignore"}, t.HasLine(L"xm Delete " + path + L" failed!\r\n")) << t.raw;
}

INSTANTIATE_TEST_SUITE_P(
    FileApi, DeleteHeldFile,
    ::testing::Values(HeldDeleteCase{"RetryAfterRelease", {L"retry"}, 1, 1, L"boolean:true", false},
                      HeldDeleteCase{"RetryWhileHeldPromptsAgain", {L"retry", L"retry"}, 2, 2, L"boolean:true", false},
                      HeldDeleteCase{"Ignore", {L"ignore"}, 0, 1, L"boolean:true", true},
                      HeldDeleteCase{"AbortEndsTheProcess", {L"abort"}, 0, 1, L"<none>", true}),
    [](const ::testing::TestParamInfo<HeldDeleteCase>& info) { return std::string(info.param.name); });

// root\ro.txt (read-only), root\sub\ro2.txt (read-only), root\held\inner\busy.dat (held open),
// root\held\free.txt
void MakeTree(const std::wstring& root)
{
    MakeDirectory(root);
    MakeDirectory(root + L"\\sub");
    MakeDirectory(root + L"\\held");
    MakeDirectory(root + L"\\held\\inner");
    for (const wchar_t* name : {L"\\ro.txt", L"\\sub\\ro2.txt", L"\\held\\inner\\busy.dat", L"\\held\\free.txt"})
        ASSERT_TRUE(WriteTextFile(root + name, "x"));
    SetFileAttributesW((root + L"\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW((root + L"\\sub\\ro2.txt").c_str(), FILE_ATTRIBUTE_READONLY);
}

TEST(FileApi, RecursiveDeleteRemovesReadOnlyFilesAndKeepsWhatHoldsAHeldFile)
{
    TempDir dir;
    const std::wstring root = dir.File(L"tree");
    MakeTree(root);
    const std::wstring busy = root + L"\\held\\inner\\busy.dat";
    HeldFile held(busy);
    ASSERT_TRUE(held.IsHeld());
    const Transcript t = RunCalls({{L"Lua_DelFileRecursiveEx", {Text(root), kLoggingCallback}}});
    EXPECT_EQ(kFalseResult, Result(t, 1)) << t.raw;  // something is left
    EXPECT_TRUE(t.HasLine(L"xm callback " + busy + L" 32")) << t.raw;
    EXPECT_TRUE(FileExists(busy));
    EXPECT_TRUE(IsDirectory(root + L"\\held\\inner"));
    EXPECT_FALSE(FileExists(root + L"\\held\\free.txt"));
    EXPECT_FALSE(FileExists(root + L"\\ro.txt"));
    EXPECT_FALSE(IsDirectory(root + L"\\sub"));

    held.Release();
    const Transcript again = RunCalls({{L"Lua_DelFileRecursive", {Text(root)}}});
    EXPECT_EQ(kTrueResult, Result(again, 1)) << again.raw;
    EXPECT_FALSE(IsDirectory(root));
}

TEST(FileApi, RecursiveDeleteOfOneFileLeavesAReadOnlyFileAndTellsTheCallback)
{
    TempDir dir;
    const std::wstring file = dir.File(L"ro.txt");
    ASSERT_TRUE(WriteTextFile(file, "x"));
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    const Transcript t = RunCalls({{L"Lua_DelFileRecursiveEx", {Text(file), kLoggingCallback}}});
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(kFalseResult, Result(t, 1)) << t.raw;
    EXPECT_TRUE(t.HasLine(L"xm Path is file!")) << t.raw;
    EXPECT_TRUE(t.HasLine(L"xm callback " + file + L" 5")) << t.raw;
    EXPECT_TRUE(FileExists(file));
}

TEST(FileApi, DeleteDirectoriesStepsOutOfTheCurrentDirectory)
{
    TempDir dir;
    const std::wstring root = dir.File(L"cwd");
    MakeDirectory(root);
    ASSERT_TRUE(WriteTextFile(root + L"\\f.txt", "x"));
    wchar_t saved[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryW(root.c_str()));
    QELScriptEngine::DeleteDirectories(root);
    wchar_t now[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, now);
    SetCurrentDirectoryW(saved);
    EXPECT_FALSE(IsDirectory(root));
    EXPECT_EQ(dir.Path(), std::wstring(now));
}

TEST(FileApi, PathFileExistsDoesNotExpandButExpandEnvTakesTheLastArgument)
{
    const Transcript t = RunCalls({{L"Lua_PathFileExists", {Text(L"%WINDIR%")}},
                                   {L"Lua_PathFileExists", {Text(L"C:\\windows")}},
                                   {L"Lua_ExpandEnv", {Text(L"%WINDIR%"), Text(L"%SystemDrive%\\x")}},
                                   {L"Lua_ExpandEnv", {}}});
    EXPECT_EQ(kFalseResult, Result(t, 1)) << t.raw;
    EXPECT_EQ(kTrueResult, Result(t, 2)) << t.raw;
    EXPECT_EQ(L"string:C:\\x", Result(t, 3)) << t.raw;
    EXPECT_EQ(L"string:", Result(t, 4)) << t.raw;
}

TEST(FileApi, TempFileNamesAreNewEmptyFilesAndUniqueNamesAreFree)
{
    TempDir dir;
    ASSERT_TRUE(WriteTextFile(dir.File(L"taken.txt"), "x"));
    const Transcript t = RunCalls({{L"Lua_GetTempFileName", {Text(dir.Path()), Text(L"qel")}},
                                   {L"Lua_GetTempFileName", {Text(dir.Path()), Text(L"qel")}},
                                   {L"Lua_GetTempFileName", {Text(dir.File(L"missing")), Text(L"qel")}},
                                   {L"Lua_PathYetAnotherMakeUniqueName", {Text(dir.File(L"taken.txt"))}},
                                   {L"Lua_PathYetAnotherMakeUniqueName", {Text(dir.File(L"free.txt"))}},
                                   {L"Lua_GetTempPath", {}}});
    const std::wstring first = Result(t, 1);
    const std::wstring second = Result(t, 2);
    ASSERT_EQ(0u, first.find(L"string:" + dir.Path() + L"\\")) << t.raw;
    EXPECT_NE(first, second);
    for (const std::wstring& result : {first, second}) {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        ASSERT_TRUE(GetFileAttributesExW(result.substr(7).c_str(), GetFileExInfoStandard, &data)) << result;
        EXPECT_EQ(0u, data.nFileSizeLow);
    }
    EXPECT_EQ(L"nil:nil", Result(t, 3)) << t.raw;
    const std::wstring unique = Result(t, 4);
    EXPECT_NE(L"string:" + dir.File(L"taken.txt"), unique);
    EXPECT_EQ(0u, unique.find(L"string:" + dir.Path() + L"\\taken")) << unique;
    EXPECT_FALSE(FileExists(unique.substr(7)));
    EXPECT_EQ(L"string:" + dir.File(L"free.txt"), Result(t, 5));
    wchar_t localAppData[MAX_PATH] = {};
    ExpandEnvironmentStringsW(L"%LOCALAPPDATA%", localAppData, MAX_PATH);
    EXPECT_EQ(L"string:" + std::wstring(localAppData), Result(t, 6));
}

// A path argument whose expansion needs the whole 260-character buffer (259 characters and the
// terminator) fits; one more character does not, and the call fails without touching anything:
// a path that does not fit is not "nothing there" for the deletes.
TEST(FileApi, PathsThatDoNotFitThePathBufferFailCleanly)
{
    TempDir dir;
    const std::wstring base = dir.Path() + L"\\";
    const std::wstring fits = base + std::wstring(259 - base.size(), L'f');
    const std::wstring tooLong = base + std::wstring(260 - base.size(), L'g');
    const Transcript t = RunCalls({{L"Lua_ExpandEnv", {Text(fits)}},
                                   {L"Lua_ExpandEnv", {Text(tooLong)}},
                                   {L"Lua_CreateDirectory", {Text(tooLong)}},
                                   {L"Lua_PathYetAnotherMakeUniqueName", {Text(tooLong + L"\\x.txt")}},
                                   {L"Lua_GetTempFileName", {Text(tooLong), Text(L"qel")}},
                                   {L"Lua_DeleteFile", {Text(tooLong)}},
                                   {L"Lua_DeleteFileEx", {Text(tooLong)}},
                                   {L"Lua_DelFileRecursive", {Text(tooLong)}},
                                   {L"Lua_DelFileRecursiveEx", {Text(tooLong)}},
                                   {L"Lua_DeleteFileAfterReboot", {Text(tooLong)}}});
    EXPECT_EQ(L"string:" + fits, Result(t, 1)) << t.raw;
    EXPECT_EQ(L"string:", Result(t, 2)) << t.raw;
    EXPECT_EQ(kFalseResult, Result(t, 3)) << t.raw;
    EXPECT_EQ(L"string:", Result(t, 4)) << t.raw;
    EXPECT_EQ(L"nil:nil", Result(t, 5)) << t.raw;
    for (int call = 6; call <= 10; ++call)
        EXPECT_EQ(kFalseResult, Result(t, call)) << call << "\n" << t.raw;
    EXPECT_TRUE(t.boxes.empty());
    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    for (const std::wstring& pattern : {base + L"g*", std::wstring(current) + L"\\qel*.tmp"}) {
        WIN32_FIND_DATAW found = {};
        HANDLE search = FindFirstFileW(pattern.c_str(), &found);
        EXPECT_EQ(INVALID_HANDLE_VALUE, search) << WideToUtf8(pattern);
        if (search != INVALID_HANDLE_VALUE)
            FindClose(search);
    }
}

}  // namespace
