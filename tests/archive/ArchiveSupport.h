#pragma once

#include "support/TestSupport.h"

#include "utility/qelscriptengine/QELScriptEngine.h"

#include <windows.h>

#include <map>
#include <string>
#include <vector>

// Shared by the archive tests: fixture paths, running Lua in the engine, reading trees back.
namespace archivetest {

// The fixtures folder made by make_archives.py, as a Windows path through drive Z:.
inline std::wstring Fixture(const std::wstring& name)
{
    std::wstring path = L"Z:" + qeltest::Utf8ToWide(QEL_ARCHIVE_FIXTURES) + L"/" + name;
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

inline lua_State* State() { return QELScriptEngine::Instance().GetState(); }

inline void SetGlobalText(const char* name, const std::wstring& value)
{
    lua_pushstring(State(), qeltest::WideToUtf8(value).c_str());
    lua_setglobal(State(), name);
}

inline bool RunLua(const std::string& source)
{
    return QELScriptEngine::Instance().RunChunk(source.data(), source.size(), "=archive test");
}

inline std::string GlobalText(const char* name)
{
    lua_getglobal(State(), name);
    const char* text = lua_tostring(State(), -1);
    std::string value = text != nullptr ? text : "(nil)";
    lua_pop(State(), 1);
    return value;
}

inline bool ReadBytes(const std::wstring& path, std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bytes.assign(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    const bool ok = bytes.empty() || (ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) && read == bytes.size());
    CloseHandle(file);
    return ok;
}

// Every entry under root by relative path: directories as "<dir>", files as their bytes.
inline void ListTree(const std::wstring& root, const std::wstring& relative, std::map<std::wstring, std::string>& out)
{
    WIN32_FIND_DATAW found;
    const std::wstring base = relative.empty() ? root : root + L"\\" + relative;
    HANDLE find = FindFirstFileW((base + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring child = relative.empty() ? name : relative + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[child] = "<dir>";
            ListTree(root, child, out);
        } else {
            ReadBytes(root + L"\\" + child, out[child]);
        }
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

inline std::map<std::wstring, std::string> Tree(const std::wstring& root)
{
    std::map<std::wstring, std::string> out;
    ListTree(root, L"", out);
    return out;
}

}  // namespace archivetest
