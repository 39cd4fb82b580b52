#include "ScriptApiSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

using namespace qeltest;

namespace {

struct RegValue {
    bool found = false;
    std::string type;
    std::string data;
};

// Reads one value back with the system's reg tool. view: "32" or "64".
RegValue ReadValue(const std::wstring& key, const std::wstring& name, const wchar_t* view = L"32")
{
    unsigned long code = 0;
    const std::string output =
        RunCapture(L"reg.exe query " + QuoteArgument(key) + L" /v " + QuoteArgument(name) + L" /reg:" + view, &code);
    RegValue value;
    const std::string wanted = WideToUtf8(name);
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream fields(line);
        std::string first;
        if (!(fields >> first) || first != wanted)
            continue;
        value.found = true;
        fields >> value.type;
        std::getline(fields >> std::ws, value.data);
    }
    return value;
}

void ExpectStored(const std::wstring& key, const wchar_t* name, const char* type, const char* data)
{
    const RegValue value = ReadValue(key, name);
    EXPECT_EQ(type, value.type) << WideToUtf8(name);
    EXPECT_EQ(data, value.data) << WideToUtf8(name);
}

bool KeyExists(const std::wstring& key, const wchar_t* view = L"32")
{
    unsigned long code = 1;
    RunCapture(L"reg.exe query " + QuoteArgument(key) + L" /reg:" + view, &code);
    return code == 0;
}

ApiCall Add(const std::wstring& root, const std::wstring& subkey, const std::wstring& name, const std::wstring& type,
            const std::wstring& data, const std::wstring& overwrite = kTrue)
{
    return {L"Lua_RegAdd", {Text(root), Text(subkey), Text(name), Text(type), data, overwrite}};
}

ApiCall Query(const std::wstring& root, const std::wstring& subkey, const std::wstring& name)
{
    return {L"Lua_RegQuery", {Text(root), Text(subkey), Text(name)}};
}

TEST(RegistryApi, MachineKeysLandInThe32BitView)
{
    const Transcript t = RunCalls({Add(L"HKLM", L"SOFTWARE\\QelTest", L"Path", L"REG_SZ", Text(L"C:\\Q")),
                                   Query(L"HKLM", L"SOFTWARE\\QelTest", L"Path")});
    EXPECT_EQ(L"boolean:true", Result(t, 1)) << t.raw;
    EXPECT_EQ(L"string:C:\\Q", Result(t, 2)) << t.raw;
    EXPECT_EQ("C:\\Q", ReadValue(L"HKLM\\SOFTWARE\\Wow6432Node\\QelTest", L"Path", L"64").data);
    EXPECT_FALSE(KeyExists(L"HKLM\\SOFTWARE\\QelTest", L"64"));
}

TEST(RegistryApi, RootCodesAreComparedWithCase)
{
    struct Root {
        const wchar_t* code;
        const wchar_t* subkey;
        const wchar_t* regPath;  // as the reg tool names it; null: nothing may be written
    };
    const Root roots[] = {
        {L"HKCU", L"Software\\QelTest", L"HKCU\\Software\\QelTest"},
        {L"HKLM", L"SOFTWARE\\QelTest", L"HKLM\\SOFTWARE\\QelTest"},
        {L"HKCR", L"QelTest.Class", L"HKCR\\QelTest.Class"},
        {L"HKU", L".DEFAULT\\Software\\QelTest", L"HKU\\.DEFAULT\\Software\\QelTest"},
        {L"HKCC", L"Software\\QelTest", L"HKCC\\Software\\QelTest"},
        {L"hklm", L"SOFTWARE\\QelTestLower", nullptr},
        {L"Hkcu", L"Software\\QelTestLower", nullptr},
        {L"HKEY_CURRENT_USER", L"Software\\QelTestLong", nullptr},
    };
    std::vector<ApiCall> calls;
    for (const Root& root : roots) {
        calls.push_back(Add(root.code, root.subkey, L"Code", L"REG_SZ", Text(root.code)));
        calls.push_back(Query(root.code, root.subkey, L"Code"));
    }
    const Transcript t = RunCalls(calls);
    for (size_t i = 0; i < sizeof roots / sizeof roots[0]; ++i) {
        const Root& root = roots[i];
        SCOPED_TRACE(root.code);
        const int query = static_cast<int>(2 * i + 2);
        EXPECT_EQ(L"boolean:true", Result(t, query - 1)) << t.raw;
        if (root.regPath == nullptr) {
            EXPECT_EQ(L"nil:nil", Result(t, query)) << t.raw;
            EXPECT_FALSE(KeyExists(L"HKLM\\" + std::wstring(root.subkey)));
            EXPECT_FALSE(KeyExists(L"HKCU\\" + std::wstring(root.subkey)));
        } else {
            EXPECT_EQ(L"string:" + std::wstring(root.code), Result(t, query)) << t.raw;
            EXPECT_EQ(WideToUtf8(root.code), ReadValue(root.regPath, L"Code").data);
        }
    }
}

TEST(RegistryApi, OverwriteOffKeepsAnExistingValueAndWritesAMissingOne)
{
    const std::wstring key = L"Software\\QelTest";
    const Transcript t = RunCalls({Add(L"HKCU", key, L"Kept", L"REG_SZ", Text(L"old")),
                                   Add(L"HKCU", key, L"Kept", L"REG_SZ", Text(L"new"), kFalse),
                                   Add(L"HKCU", key, L"Kept", L"REG_DWORD", Number(5), kNil),
                                   Add(L"HKCU", key, L"Replaced", L"REG_SZ", Text(L"old")),
                                   Add(L"HKCU", key, L"Replaced", L"REG_DWORD", Number(7), Number(0)),
                                   Add(L"HKCU", key, L"Fresh", L"REG_SZ", Text(L"first"), kFalse)});
    for (int call = 1; call <= 6; ++call)
        EXPECT_EQ(L"boolean:true", Result(t, call)) << t.raw;
    ExpectStored(L"HKCU\\" + key, L"Kept", "REG_SZ", "old");
    ExpectStored(L"HKCU\\" + key, L"Replaced", "REG_DWORD", "0x7");
    ExpectStored(L"HKCU\\" + key, L"Fresh", "REG_SZ", "first");
}

TEST(RegistryApi, StringTypesDwordsAndTheirReadBack)
{
    const std::wstring key = L"Software\\QelTest";
    const Transcript t = RunCalls({Add(L"HKCU", key, L"Sz", L"REG_SZ", Text(L"%ProgramFiles%\\Q")),
                                   Add(L"HKCU", key, L"Expand", L"REG_EXPAND_SZ", Text(L"%ProgramFiles%\\Q")),
                                   Add(L"HKCU", key, L"Max", L"REG_DWORD", Number(4294967295.0)),
                                   Add(L"HKCU", key, L"FromText", L"REG_DWORD", Text(L"42")),
                                   Add(L"HKCU", key, L"NotANumber", L"REG_DWORD", Text(L"abc")),
                                   Add(L"HKCU", key, L"Empty", L"REG_SZ", kNil),
                                   Query(L"HKCU", key, L"Sz"),
                                   Query(L"HKCU", key, L"Expand"),
                                   Query(L"HKCU", key, L"Max"),
                                   Query(L"HKCU", key, L"Missing"),
                                   Query(L"HKCU", key, L"Empty")});
    ExpectStored(L"HKCU\\" + key, L"Sz", "REG_SZ", "C:\\Program Files (x86)\\Q");
    ExpectStored(L"HKCU\\" + key, L"Expand", "REG_EXPAND_SZ", "%ProgramFiles%\\Q");
    ExpectStored(L"HKCU\\" + key, L"Max", "REG_DWORD", "0xffffffff");
    ExpectStored(L"HKCU\\" + key, L"FromText", "REG_DWORD", "0x2a");
    ExpectStored(L"HKCU\\" + key, L"NotANumber", "REG_DWORD", "0x0");
    EXPECT_EQ(L"string:C:\\Program Files (x86)\\Q", Result(t, 7)) << t.raw;
    EXPECT_EQ(L"string:%ProgramFiles%\\Q", Result(t, 8)) << t.raw;
    EXPECT_EQ(L"number:4294967295", Result(t, 9)) << t.raw;
    EXPECT_EQ(L"nil:nil", Result(t, 10)) << t.raw;
    EXPECT_EQ(L"string:", Result(t, 11)) << t.raw;
}

TEST(RegistryApi, BinaryDataIsReadAsHexadecimalPairs)
{
    struct BinaryCase {
        const wchar_t* name;
        std::wstring data;
        const char* stored;  // as the reg tool prints it
    };
    const BinaryCase cases[] = {
        {L"Pairs", Text(L"00ff10Ab"), "00FF10AB"},
        {L"ThreeDigits", Text(L"ABC"), "AB0C"},
        {L"BadPairRepeatsTheByteBefore", Text(L"12zz34"), "121234"},
        {L"BadFirstPairIsZero", Text(L"zz12"), "0012"},
        {L"HalfAPair", Text(L"1z"), "01"},
        {L"NumberZero", Number(0), "00"},
        {L"Number", Number(10), "10"},
    };
    std::vector<ApiCall> calls;
    for (const BinaryCase& c : cases)
        calls.push_back(Add(L"HKCU", L"Software\\QelTest", c.name, L"REG_BINARY", c.data));
    calls.push_back(Query(L"HKCU", L"Software\\QelTest", L"Pairs"));
    const Transcript t = RunCalls(calls);
    for (const BinaryCase& c : cases)
        ExpectStored(L"HKCU\\Software\\QelTest", c.name, "REG_BINARY", c.stored);
    EXPECT_EQ(L"nil:nil", Result(t, static_cast<int>(calls.size()))) << t.raw;
}

TEST(RegistryApi, AnUnknownTypeCreatesOnlyTheKey)
{
    const Transcript t = RunCalls({Add(L"HKCU", L"Software\\QelTest\\Multi", L"List", L"REG_MULTI_SZ", Text(L"a")),
                                   Add(L"HKCU", L"Software\\QelTest\\Multi", L"Lower", L"reg_sz", Text(L"a"))});
    EXPECT_EQ(L"boolean:true", Result(t, 1)) << t.raw;
    EXPECT_TRUE(KeyExists(L"HKCU\\Software\\QelTest\\Multi"));
    EXPECT_FALSE(ReadValue(L"HKCU\\Software\\QelTest\\Multi", L"List").found);
    EXPECT_FALSE(ReadValue(L"HKCU\\Software\\QelTest\\Multi", L"Lower").found);
}

TEST(RegistryApi, DeletesAValueOrAWholeKeyTree)
{
    const std::wstring key = L"Software\\QelTest";
    const Transcript t = RunCalls({Add(L"HKCU", key, L"Gone", L"REG_SZ", Text(L"x")),
                                   Add(L"HKCU", key, L"Stays", L"REG_SZ", Text(L"x")),
                                   Add(L"HKCU", key + L"\\A\\B", L"Deep", L"REG_SZ", Text(L"x")),
                                   Add(L"HKCU", key + L"\\C", L"Other", L"REG_SZ", Text(L"x")),
                                   {L"Lua_RegDel", {Text(L"HKCU"), Text(key), Text(L"Gone")}},
                                   {L"Lua_RegDel", {Text(L"HKCU"), Text(key + L"\\A")}},
                                   {L"Lua_RegDel", {Text(L"HKCU"), Text(key + L"\\Missing")}},
                                   {L"Lua_RegDel", {Text(L"HKCU"), Text(key + L"\\Missing"), Text(L"v")}}});
    for (int call = 5; call <= 8; ++call)
        EXPECT_EQ(L"boolean:true", Result(t, call)) << t.raw;
    EXPECT_FALSE(ReadValue(L"HKCU\\" + key, L"Gone").found);
    EXPECT_TRUE(ReadValue(L"HKCU\\" + key, L"Stays").found);
    EXPECT_FALSE(KeyExists(L"HKCU\\" + key + L"\\A"));
    EXPECT_TRUE(KeyExists(L"HKCU\\" + key + L"\\C"));
    EXPECT_TRUE(t.HasLine(L"xm Delete Value HKCU, " + key + L", Gone")) << t.raw;
    EXPECT_TRUE(t.HasLine(L"xm DeleteSubKey " + key + L"\\Missing failed, errcode: 2")) << t.raw;
    EXPECT_FALSE(t.HasLine(L"xm Delete Value HKCU, " + key + L"\\Missing, v")) << t.raw;
}

// Nothing directly under a root key may go: not its default value, not its subkeys.
TEST(RegistryApi, RequestsThatNameOnlyARootDeleteNothing)
{
    HKEY root = HKEY_CURRENT_USER;
    const wchar_t marker[] = L"root default";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(root, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(marker), sizeof marker));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(root, L"RootValue", 0, REG_SZ, reinterpret_cast<const BYTE*>(marker), sizeof marker));
    const Transcript t = RunCalls({{L"Lua_RegDel", {}},
                                   {L"Lua_RegDel", {Text(L"HKCU")}},
                                   {L"Lua_RegDel", {Text(L"HKCU"), Text(L"")}},
                                   {L"Lua_RegDel", {Text(L"HKCU"), kNil}},
                                   {L"Lua_RegDel", {Text(L"HKCU"), Text(L"\\")}},
                                   {L"Lua_RegDel", {Text(L"HKCU"), Text(L""), Text(L"")}},
                                   {L"Lua_RegDel", {Text(L"HKCU"), Text(L""), Text(L"RootValue")}}});
    for (int call = 1; call <= 7; ++call)
        EXPECT_EQ(L"boolean:false", Result(t, call)) << call << "\n" << t.raw;
    wchar_t value[64] = {};
    DWORD size = sizeof value;
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(root, nullptr, L"", RRF_RT_REG_SZ, nullptr, value, &size));
    EXPECT_STREQ(marker, value);
    EXPECT_TRUE(ReadValue(L"HKCU", L"RootValue").found);
    EXPECT_TRUE(KeyExists(L"HKCU\\Software"));
    EXPECT_TRUE(KeyExists(L"HKCU\\Environment"));
}

}  // namespace
