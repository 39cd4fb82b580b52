#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

using qeltest::BinPath;
using qeltest::Launch;
using qeltest::LaunchRequest;
using qeltest::TempDir;
using qeltest::Transcript;

namespace {

const wchar_t kErrorCaption[] = L":-( \x676F\x5177\xFF0C\x811A\x672C\x6267\x884C\x65F6\x53D1\x751F\x9519\x8BEF";

LaunchRequest ScriptRun(const std::wstring& script, const std::wstring& arguments = L"")
{
    LaunchRequest request;
    request.program = BinPath(L"qelscripthost.exe");
    request.arguments = L"\"" + BinPath(L"scriptapi\\" + script) + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    request.listen = false;
    request.timeoutSeconds = 300;
    return request;
}

std::wstring Failures(const Transcript& t)
{
    std::wstring failures;
    for (const std::wstring& line : t.debugLines)
        if (line.compare(0, 8, L"xm FAIL ") == 0)
            failures += line;
    return failures;
}

void ExpectAllChecksPass(const Transcript& t)
{
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_EQ(0u, t.exitCode);
    EXPECT_TRUE(t.boxes.empty()) << t.raw;
    EXPECT_TRUE(t.HasLine(L"xm done, 0 failures\r\n")) << qeltest::WideToUtf8(Failures(t)) << "\n" << qeltest::WideToUtf8(t.raw);
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

TEST(ScriptObjects, StringObjectsKeepTheirTextThroughUtf8AndTheAnsiCodePage)
{
    ExpectAllChecksPass(Launch(ScriptRun(L"strings.lua")));
}

TEST(ScriptObjects, RawBuffersReadAndWriteEveryWidthAndRefuseAccessesOutside)
{
    ExpectAllChecksPass(Launch(ScriptRun(L"rawbuffer.lua")));
}

TEST(DynamicCalls, CallRealSystemFunctionsAndStayHealthyWithWrongFlags)
{
    TempDir folder;
    const Transcript t = Launch(ScriptRun(L"dllcalls.lua", Quoted(folder.Path()) + L" " + Quoted(BinPath(L"qeltest_recorder.exe"))));
    ExpectAllChecksPass(t);
    EXPECT_TRUE(t.HasLine(L"xm if (nullptr == phMod)")) << t.raw;
    EXPECT_TRUE(t.HasLine(L"if (nullptr == pfn)")) << t.raw;
}

TEST(DynamicCalls, ATableArgumentEndsTheProcessThroughTheErrorBox)
{
    LaunchRequest request = ScriptRun(L"dll_table_argument.lua");
    request.answers = {L"ok"};
    const Transcript t = Launch(request);
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_EQ(0u, t.exitCode);
    ASSERT_EQ(1u, t.boxes.size()) << t.raw;
    EXPECT_EQ(0u, t.boxes[0].text.find(L"unknow argument type\n")) << t.raw;
    EXPECT_EQ(kErrorCaption, t.boxes[0].title);
    EXPECT_EQ(std::wstring::npos, t.raw.find(L"after the call"));
}

// A URL scheme whose handler is a copy of the recorder (Wine reads schemes from the machine's
// classes only, not from the user's).
class UrlScheme
{
public:
    explicit UrlScheme(const std::wstring& handler)
    {
        HKEY key = nullptr;
        const std::wstring command = Quoted(handler) + L" \"%1\"";
        if (RegCreateKeyExW(HKEY_CLASSES_ROOT, L"qeltest\\shell\\open\\command", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
            RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()), static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
            RegCloseKey(key);
        }
        RegSetKeyValueW(HKEY_CLASSES_ROOT, L"qeltest", L"URL Protocol", REG_SZ, L"", sizeof(wchar_t));
    }
    ~UrlScheme() { RegDeleteTreeW(HKEY_CLASSES_ROOT, L"qeltest"); }
};

TEST(ProcessApi, StartsFindsAndEndsRealProcesses)
{
    TempDir folder;
    ASSERT_TRUE(CopyFileW(BinPath(L"qeltest_recorder.exe").c_str(), folder.File(L"qelt_url.exe").c_str(), FALSE));
    UrlScheme scheme(folder.File(L"qelt_url.exe"));
    const std::wstring chinese = L"\x4E2D\x6587 \x53C2\x6570";  // 中文 参数
    const Transcript t = Launch(ScriptRun(L"process.lua", Quoted(folder.Path()) + L" " + Quoted(BinPath(L"qeltest_recorder.exe")) + L" " + Quoted(chinese)));
    ExpectAllChecksPass(t);
    EXPECT_TRUE(t.HasLine(L"xm Fun:Lua_Exec, Description:" + folder.File(L"missing.exe") + L" it's not exists!\r\n")) << t.raw;
    bool lookupFailureReported = false;
    for (const std::wstring& line : t.debugLines)
        lookupFailureReported = lookupFailureReported || line == L"xm LookupPrivilegeValue failed!xm err:1313\r\n";
    EXPECT_TRUE(lookupFailureReported) << t.raw;
}

TEST(ProcessApi, MessageBoxesShowTheirArgumentsAndReturnTheButton)
{
    LaunchRequest request = ScriptRun(L"msgbox.lua");
    request.answers = {L"yes", L"ok", L"ok"};
    const Transcript t = Launch(request);
    ASSERT_TRUE(t.exited) << t.raw;
    ASSERT_EQ(3u, t.boxes.size()) << t.raw;
    EXPECT_EQ(0x24u, t.boxes[0].style);
    EXPECT_EQ(L"\x4E2D\x6587\x95EE\x9898", t.boxes[0].text);  // 中文问题
    EXPECT_EQ(L"\x6807\x9898", t.boxes[0].title);              // 标题
    EXPECT_EQ(L"only text", t.boxes[1].text);
    EXPECT_EQ(L"", t.boxes[1].title);
    EXPECT_EQ(0u, t.boxes[1].style);
    EXPECT_EQ(L"", t.boxes[2].text);
    EXPECT_EQ(0u, t.boxes[2].style);
    const int yes = t.IndexOf(L"xm answer 6\r\n");
    EXPECT_GE(yes, 0) << t.raw;
    EXPECT_EQ(yes + 1, t.IndexOf(L"xm answer 1\r\n")) << t.raw;
}

}  // namespace
