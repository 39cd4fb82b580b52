// Lua_ExitWindows for real, in the throwaway prefix of this suite (it has a server of its own,
// so the log-off reaches no other test and never the machine).
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using qeltest::BinPath;

TEST(ExitWindows, LogsTheSessionOffEndingItsWindowedPrograms)
{
    qeltest::TempDir folder;
    qeltest::LaunchRequest request;
    request.program = BinPath(L"qelscripthost.exe");
    request.arguments = L"\"" + BinPath(L"scriptapi\\exitwindows.lua") + L"\" \"" + folder.Path() + L"\" \"" + BinPath(L"qeltest_recorder.exe") + L"\"";
    request.listen = false;
    request.timeoutSeconds = 300;
    const qeltest::Transcript t = qeltest::Launch(request);
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_TRUE(t.HasLine(L"xm done, 0 failures\r\n")) << qeltest::WideToUtf8(t.raw);
}
