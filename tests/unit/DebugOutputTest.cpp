#include "utility/base/DebugOutput.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Format(const wchar_t* format, ...)
{
    wchar_t line[qel::kDebugLineChars];
    va_list args;
    va_start(args, format);
    qel::FormatDebugLine(line, format, args);
    va_end(args);
    return line;
}

bool Fits(const wchar_t* format, ...)
{
    wchar_t line[qel::kDebugLineChars];
    va_list args;
    va_start(args, format);
    const bool fits = qel::FormatDebugLine(line, format, args);
    va_end(args);
    return fits;
}

TEST(DebugLine, StartsWithPrefixAndKeepsTheFormatsOwnLineEnd)
{
    EXPECT_EQ(L"xm Fun:Lua_Exec, Description:C:\\x it's not exists!\r\n",
              Format(L"Fun:%ls, Description:%ls it's not exists!\r\n", L"Lua_Exec", L"C:\\x"));
    EXPECT_EQ(L"xm start ss install!", Format(L"start ss install!"));
}

TEST(DebugLine, TextOfExactly1020CharactersIsKeptWhole)
{
    const std::wstring text(1020, L'a');
    EXPECT_TRUE(Fits(L"%ls", text.c_str()));
    EXPECT_EQ(L"xm " + text, Format(L"%ls", text.c_str()));
}

TEST(DebugLine, LongerTextIsCutAfter1020Characters)
{
    const std::wstring text = std::wstring(1019, L'a') + L"bcdef" + std::wstring(5000, L'z');
    EXPECT_FALSE(Fits(L"%ls", text.c_str()));
    EXPECT_EQ(L"xm " + std::wstring(1019, L'a') + L"b", Format(L"%ls", text.c_str()));
}

TEST(DebugLine, CutNeverSplitsASurrogatePair)
{
    const std::wstring text = std::wstring(1019, L'a') + L"\xD83D\xDE00" + L"tail";
    EXPECT_EQ(L"xm " + std::wstring(1019, L'a'), Format(L"%ls", text.c_str()));
}

}  // namespace
