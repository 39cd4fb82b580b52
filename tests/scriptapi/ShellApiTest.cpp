#include "ScriptApiSupport.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <map>
#include <string>

using namespace qeltest;

namespace {

struct LinkFields {
    bool loaded = false;
    std::wstring path, arguments, workingDirectory, description;
};

// Reads a shell link back through the shell's own object.
LinkFields ReadLink(const std::wstring& file)
{
    LinkFields fields;
    CoInitialize(nullptr);
    IShellLinkW* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, reinterpret_cast<void**>(&link)))) {
        IPersistFile* persist = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
            if (SUCCEEDED(persist->Load(file.c_str(), STGM_READ))) {
                wchar_t text[1024] = {};
                fields.loaded = true;
                link->GetPath(text, 1024, nullptr, 0);
                fields.path = text;
                text[0] = 0;
                link->GetArguments(text, 1024);
                fields.arguments = text;
                text[0] = 0;
                link->GetWorkingDirectory(text, 1024);
                fields.workingDirectory = text;
                text[0] = 0;
                link->GetDescription(text, 1024);
                fields.description = text;
            }
            persist->Release();
        }
        link->Release();
    }
    CoUninitialize();
    return fields;
}

// The independent reader: the link file's own format (header flags, then the string data), so
// a field that was never set can be told from one set empty. lnkinfo cannot be started from a
// program under this emulated Wine, so the test reads the few fields itself.
struct LinkStrings {
    bool valid = false;
    std::map<std::string, std::wstring> fields;  // present fields only: "name", "workdir", "arguments"

    std::wstring Field(const std::string& key) const
    {
        const auto found = fields.find(key);
        return found != fields.end() ? found->second : L"<absent>";
    }
};

LinkStrings ReadLinkStrings(const std::wstring& file)
{
    LinkStrings link;
    std::string bytes;
    if (!ReadTextFile(file, bytes) || bytes.size() < 76 || bytes[0] != 0x4C)
        return link;
    auto u16 = [&](size_t at) { return at + 2 <= bytes.size() ? static_cast<unsigned>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8) : 0u; };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    const unsigned flags = u32(20);
    size_t at = 76;
    if (flags & 0x1)
        at += 2 + u16(at);
    if (flags & 0x2)
        at += u32(at);
    const struct {
        unsigned flag;
        const char* key;
    } strings[] = {{0x4, "name"}, {0x8, "relative"}, {0x10, "workdir"}, {0x20, "arguments"}, {0x40, "icon"}};
    const size_t unit = (flags & 0x80) ? 2 : 1;
    for (const auto& entry : strings) {
        if ((flags & entry.flag) == 0)
            continue;
        const unsigned count = u16(at);
        at += 2;
        if (at + count * unit > bytes.size())
            return link;
        std::wstring text;
        for (unsigned i = 0; i < count; ++i)
            text += static_cast<wchar_t>(unit == 2 ? u16(at + 2 * i) : static_cast<unsigned char>(bytes[at + i]));
        at += count * unit;
        while (!text.empty() && text.back() == L'\0')  // Wine counts the terminator too
            text.pop_back();
        link.fields[entry.key] = text;
    }
    link.valid = true;
    return link;
}

std::wstring SpecialFolder(int csidl)
{
    wchar_t folder[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, folder, csidl, FALSE);
    return folder;
}

// A target below the temporary folder, written with the variable so the expansion shows.
struct Target {
    TempDir dir;
    std::wstring leaf = dir.Path().substr(dir.Path().rfind(L'\\') + 1);
    std::wstring folder = dir.File(L"app");
    std::wstring file = folder + L"\\Navolo.exe";
    std::wstring written = L"%TEMP%\\" + leaf + L"\\app\\Navolo.exe";
    Target()
    {
        CreateDirectoryW(folder.c_str(), nullptr);
        WriteTextFile(file, "MZ");
    }
};

TEST(ShellApi, ShellLinksCarryTheExpandedTargetAndOnlyTheFieldsGiven)
{
    Target target;
    const std::wstring a = target.dir.File(L"a.lnk");
    const std::wstring b = target.dir.File(L"b.lnk");
    const std::wstring c = target.dir.File(L"c.lnk");
    const std::wstring d = target.dir.File(L"d.lnk");
    const Transcript t = RunCalls({{L"Lua_CreateShortcut", {Text(target.written), Text(a), Text(L"/menu"), kNil}},
                                   {L"Lua_CreateShortcut", {Text(target.written), Text(b), Text(L"/menu")}},
                                   {L"Lua_CreateShortcut", {Text(target.written), Text(c)}},
                                   {L"Lua_CreateShortcut", {Text(target.written), Text(d), Text(L""), Text(L"搜索 Navolo")}}});
    for (int call = 1; call <= 4; ++call)
        EXPECT_EQ(L"boolean:true", Result(t, call)) << t.raw;
    EXPECT_TRUE(t.HasLine(L"xm Save Shortcut " + a + L" \r\n")) << t.raw;

    struct Expected {
        std::wstring file;
        const wchar_t* arguments;    // "<absent>": not stored at all
        const wchar_t* description;
    };
    const Expected expected[] = {
        {a, L"/menu", L"<absent>"},
        {b, L"/menu", L""},
        {c, L"<absent>", L"<absent>"},
        {d, L"", L"搜索 Navolo"},  // an empty argument: Wine stores the empty string
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(WideToUtf8(e.file));
        const LinkFields shell = ReadLink(e.file);
        ASSERT_TRUE(shell.loaded);
        EXPECT_EQ(target.file, shell.path);
        EXPECT_EQ(target.folder, shell.workingDirectory);
        const LinkStrings stored = ReadLinkStrings(e.file);
        ASSERT_TRUE(stored.valid);
        EXPECT_EQ(target.folder, stored.Field("workdir"));
        EXPECT_EQ(e.arguments, stored.Field("arguments"));
        EXPECT_EQ(e.description, stored.Field("name"));
    }
}

TEST(ShellApi, InternetShortcutsStoreTheAddressAsGiven)
{
    TempDir dir;
    const std::wstring file = dir.File(L"site.url");
    const Transcript t = RunCalls({{L"Lua_CreateShortcut", {Text(L"http://www.example.com/%TEMP%/?a=1"), Text(file), Text(L"/menu"), Text(L"text")}}});
    EXPECT_EQ(L"boolean:true", Result(t, 1)) << t.raw;
    std::string content;
    ASSERT_TRUE(ReadTextFile(file, content));
    EXPECT_EQ("[InternetShortcut]\r\nURL=http://www.example.com/%TEMP%/?a=1\r\n", content);
}

TEST(ShellApi, FolderVariablesExpandInLaterCallsAndMissingFoldersAreCreated)
{
    Target target;
    const std::wstring programs = SpecialFolder(CSIDL_COMMON_PROGRAMS);
    const Transcript t = RunCalls({{L"Lua_RegVarByCSIDL", {Text(L"COMMPROGRAMS"), Number(23)}},
                                   {L"Lua_CreateShortcut", {Text(target.written), Text(L"%COMMPROGRAMS%\\QelTest Navolo\\Navolo.lnk"), Text(L"/menu")}},
                                   {L"Lua_ExpandEnv", {Text(L"%COMMPROGRAMS%")}},
                                   {L"Lua_RegVarByCSIDL", {Text(L"QELTEST_ROUNDED"), Number(25.6)}},
                                   {L"Lua_RegVarByCSIDL", {Text(L"QELTEST_TEXT"), Text(L"26")}},
                                   {L"Lua_RegVarByCSIDL", {Text(L"QELTEST_WORD"), Text(L"desktop")}},
                                   {L"Lua_ExpandEnv", {Text(L"%QELTEST_ROUNDED%|%QELTEST_TEXT%|%QELTEST_WORD%")}},
                                   {L"Lua_RegVarByCSIDL", {Text(L"QELTEST_BAD"), Number(0x7777)}}});
    EXPECT_EQ(L"boolean:true", Result(t, 1)) << t.raw;
    EXPECT_EQ(L"boolean:true", Result(t, 2)) << t.raw;
    EXPECT_EQ(L"string:" + programs, Result(t, 3)) << t.raw;
    const LinkFields link = ReadLink(programs + L"\\QelTest Navolo\\Navolo.lnk");
    EXPECT_TRUE(link.loaded);
    EXPECT_EQ(L"/menu", link.arguments);
    const std::wstring appData = SpecialFolder(CSIDL_APPDATA);
    EXPECT_EQ(L"string:" + appData + L"|" + appData + L"|" + SpecialFolder(CSIDL_DESKTOP), Result(t, 7)) << t.raw;
    EXPECT_EQ(L"boolean:false", Result(t, 8)) << t.raw;
    EXPECT_TRUE(t.HasLine(L"xm SHGetSpecialFolderPathW csidl=30583 failed!\r\n")) << t.raw;
}

}  // namespace
