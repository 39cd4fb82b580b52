#include "support/TestSupport.h"

#include "utility/qelscriptengine/QELScriptEngine.h"
#include "utility/qelscriptengine/ScriptArgs.h"
#include "utility/qelscriptengine/ScriptCallback.h"

#include <gtest/gtest.h>

#include <string>

namespace {

lua_State* State() { return QELScriptEngine::Instance().GetState(); }

bool RunSource(const std::string& source)
{
    return QELScriptEngine::Instance().RunChunk(source.data(), source.size(), "=test");
}

std::string GlobalText(const char* name)
{
    lua_State* L = State();
    lua_getglobal(L, name);
    const char* text = lua_tostring(L, -1);
    std::string value = text != nullptr ? text : "(nil)";
    lua_pop(L, 1);
    return value;
}

TEST(ScriptEngine, OpensTheTenStandardLibrariesAsGlobalsAndLoadedModules)
{
    ASSERT_TRUE(RunSource(
        "local names = {'_G','package','coroutine','table','io','os','string','bit32','math','debug'}\n"
        "local missing = {}\n"
        "for _, n in ipairs(names) do\n"
        "  if type(_G[n]) ~= 'table' or package.loaded[n] ~= _G[n] then missing[#missing + 1] = n end\n"
        "end\n"
        "unit_missing_libraries = table.concat(missing, ',')\n"));
    EXPECT_EQ("", GlobalText("unit_missing_libraries"));
}

TEST(ScriptEngine, LoadsASourceChunkAndABytecodeChunkFromResources)
{
    EXPECT_TRUE(QELScriptEngine::Instance().DoResLua(L"LUA", L"SOURCE.LUA"));
    EXPECT_EQ("source ran", GlobalText("unit_source_chunk"));
    EXPECT_TRUE(QELScriptEngine::Instance().DoResLua(L"LUA", L"BYTECODE.LUAC"));
    EXPECT_EQ("bytecode ran", GlobalText("unit_bytecode_chunk"));
}

struct FailingResource {
    const wchar_t* name;
    std::vector<std::wstring> lines;  // debug lines that must appear, in order
};

void PrintTo(const FailingResource& c, std::ostream* os) { *os << qeltest::WideToUtf8(c.name); }

class FailingResources : public ::testing::TestWithParam<FailingResource> {};

TEST_P(FailingResources, GiveFalseWithTheirDebugLines)
{
    const FailingResource& c = GetParam();
    qeltest::DebugCapture capture;
    const int top = lua_gettop(State());
    EXPECT_FALSE(QELScriptEngine::Instance().DoResLua(L"LUA", c.name));
    EXPECT_EQ(top, lua_gettop(State()));
    const std::vector<std::wstring> lines = capture.Lines();
    size_t at = 0;
    for (const std::wstring& expected : c.lines) {
        while (at < lines.size() && lines[at].compare(0, expected.size(), expected) != 0)
            ++at;
        ASSERT_LT(at, lines.size()) << "missing line starting with: " << expected;
        ++at;
    }
}

INSTANTIATE_TEST_SUITE_P(ScriptEngine, FailingResources, ::testing::Values(
    FailingResource{L"MISSING.LUAC", {L"xm LoadResource failed. Type : LUA ID : MISSING.LUAC\r\n", L"xm xm file:",
                                      L"xm xm line:", L"xm xm err:1814\r\n"}},
    FailingResource{L"EMPTY.LUAC", {L"xm ResSize == 0\r\n"}},
    FailingResource{L"BROKEN.LUA", {L"xm [string \"BROKEN.LUA\"]:1: syntax error", L"xm luaL_loadbuffer failed!\r\n"}}));

TEST(ScriptEngine, EventsThatAreNotFunctionsAreSkipped)
{
    ASSERT_TRUE(RunSource("unit_event_runs = 0\n"
                          "QELSE_UnitTable = {}\n"
                          "QELSE_UnitText = 'QELSE_UnitFunction'\n"
                          "function QELSE_UnitFunction() unit_event_runs = unit_event_runs + 1 end\n"));
    const int top = lua_gettop(State());
    QELScriptEngine::Instance().CallEvent("QELSE_UnitTable");
    QELScriptEngine::Instance().CallEvent("QELSE_UnitText");
    QELScriptEngine::Instance().CallEvent("QELSE_UnitMissing");
    EXPECT_EQ(top, lua_gettop(State()));
    EXPECT_EQ("0", GlobalText("unit_event_runs"));
    QELScriptEngine::Instance().CallEvent("QELSE_UnitFunction");
    EXPECT_EQ("1", GlobalText("unit_event_runs"));
}

int CallStackOfCaller(lua_State* L)
{
    std::string report;
    QELScriptEngine::AppendCallStack(L, 0, report);
    lua_pushstring(L, report.c_str());
    return 1;
}

TEST(ScriptEngine, CallStackStartsAtTheCurrentLevelAndMarksDeeperLevels)
{
    lua_register(State(), "unit_call_stack", CallStackOfCaller);
    ASSERT_TRUE(RunSource("local function inner() local s = unit_call_stack(); return s end\n"
                          "function unit_outer()\n"
                          "  local s = inner()\n"
                          "  return s\n"
                          "end\n"
                          "unit_stack = unit_outer()\n"));
    const std::string stack = GlobalText("unit_stack");
    EXPECT_EQ(0u, stack.find("      <call stack>\n-> | unit_call_stack() : line -1 [=[C] : line -1]\n")) << stack;
    EXPECT_NE(std::string::npos, stack.find("--  | inner() : line 1 [=test : line 1]\n")) << stack;
    EXPECT_NE(std::string::npos, stack.find("--  | unit_outer() : line 3 [=test : line 2]\n")) << stack;
    EXPECT_NE(std::string::npos, stack.find("--  | unknown : line 6 [=test : line 0]\n")) << stack;
}

TEST(ScriptArguments, TextNumbersAndFlagsFollowTheConventions)
{
    lua_State* L = State();
    const int top = lua_gettop(L);
    lua_pushnumber(L, 12);
    lua_newtable(L);
    lua_pushboolean(L, 1);
    lua_pushstring(L, "\xE4\xB8\xAD\xE6\x96\x87");  // 中文 in UTF-8
    lua_pushnumber(L, 0);
    lua_pushstring(L, "0x10");
    const int base = top + 1;
    EXPECT_EQ(L"12", qel::ArgText(L, base));
    EXPECT_EQ(LUA_TSTRING, lua_type(L, base)) << "a number argument's slot becomes its text";
    EXPECT_EQ(L"", qel::ArgText(L, base + 1));
    EXPECT_EQ(L"", qel::ArgText(L, base + 2));
    EXPECT_EQ(L"\x4E2D\x6587", qel::ArgText(L, base + 3));
    EXPECT_EQ(L"", qel::ArgText(L, base + 10));
    EXPECT_TRUE(qel::ArgFlag(L, base + 4)) << "0 is true";
    EXPECT_FALSE(qel::ArgFlag(L, base + 10)) << "a missing argument is false";
    EXPECT_EQ(0, qel::ArgInteger(L, base + 1));
    EXPECT_EQ(16, qel::ArgInteger(L, base + 5));
    EXPECT_EQ(12, qel::ArgInteger(L, base));
    lua_settop(L, top);
}

TEST(ScriptArguments, PathExpansionFitsInto260CharactersOrFailsCleanly)
{
    SetEnvironmentVariableW(L"QELTEST_DIR", L"C:\\qel test");
    std::wstring path = L"%QELTEST_DIR%\\a";
    EXPECT_TRUE(qel::ExpandPathArgument(path));
    EXPECT_EQ(L"C:\\qel test\\a", path);

    std::wstring longest = L"%QELTEST_DIR%\\" + std::wstring(259 - 12, L'x');
    EXPECT_TRUE(qel::ExpandPathArgument(longest));
    EXPECT_EQ(259u, longest.size());

    std::wstring tooLong = L"%QELTEST_DIR%\\" + std::wstring(260 - 12, L'x');
    EXPECT_FALSE(qel::ExpandPathArgument(tooLong));
    EXPECT_TRUE(tooLong.empty());

    std::wstring empty;
    EXPECT_TRUE(qel::ExpandPathArgument(empty));
    EXPECT_TRUE(empty.empty());
}

TEST(ScriptCallbacks, InvokePassesTextAndNumberAndReadsAnInteger)
{
    lua_State* L = State();
    ASSERT_TRUE(RunSource("function unit_callback(text, number) unit_seen = text .. '|' .. string.format('%d', number or -1)\n"
                          "  if text == 'none' then return 'not a number' end\n"
                          "  return (number or 0) + 1 end\n"));
    const int top = lua_gettop(L);
    lua_getglobal(L, "unit_callback");
    {
        ScriptCallback callback(L, -1);
        ASSERT_TRUE(callback.IsSet());
        EXPECT_EQ(4, callback.Invoke(L"\x4E2D", 3));
        EXPECT_EQ("\xE4\xB8\xAD|3", GlobalText("unit_seen"));
        EXPECT_EQ(0, callback.Invoke(L"none", 0xFFFFFFFFu));
        EXPECT_EQ("none|4294967295", GlobalText("unit_seen"));
        callback.Notify(L"notified");
        EXPECT_EQ("notified|-1", GlobalText("unit_seen"));
        EXPECT_EQ(top + 1, lua_gettop(L));
    }
    lua_pop(L, 1);
    lua_pushnil(L);
    ScriptCallback none(L, -1);
    EXPECT_FALSE(none.IsSet());
    lua_pop(L, 1);
}

TEST(LeaveCurrentDirectory, StepsOutOnlyOfTheExactCurrentDirectory)
{
    qeltest::TempDir dir;
    const std::wstring inner = dir.File(L"Inner");
    CreateDirectoryW(inner.c_str(), nullptr);
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);

    const std::wstring variants[] = {inner + L"\\", dir.Path() + L"\\INNER", dir.File(L"other")};
    for (const std::wstring& other : variants) {
        SetCurrentDirectoryW(inner.c_str());
        QELScriptEngine::LeaveCurrentDirectory(other.c_str());
        wchar_t current[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, current);
        EXPECT_EQ(inner, current) << "path " << other;
    }

    SetCurrentDirectoryW(inner.c_str());
    QELScriptEngine::LeaveCurrentDirectory(inner.c_str());
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    EXPECT_EQ(dir.Path(), current);
    SetCurrentDirectoryW(saved);
}

}  // namespace
