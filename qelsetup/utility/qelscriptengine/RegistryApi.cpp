// Registry: read one value, write one value, delete a value or a key tree. The registry view is
// the caller's: a 32-bit installer on 64-bit Windows sees the 32-bit software keys.

#include "ScriptApi.h"
#include "ScriptArgs.h"

#include "../base/DebugOutput.h"
#include "../base/Handles.h"

#include <windows.h>

#include <vector>

using namespace qel;

namespace {

constexpr REGSAM kAccess = KEY_READ | KEY_WRITE;
constexpr DWORD kSubkeyNameChars = 256;

struct RootKey {
    const wchar_t* code;
    HKEY key;
};

const RootKey kRootKeys[] = {
    {L"HKCR", HKEY_CLASSES_ROOT}, {L"HKCU", HKEY_CURRENT_USER},   {L"HKLM", HKEY_LOCAL_MACHINE},
    {L"HKU", HKEY_USERS},         {L"HKCC", HKEY_CURRENT_CONFIG},
};

// Codes are compared with case; an unknown code gives no key, so every call on it fails.
HKEY RootFromCode(const std::wstring& code)
{
    for (const RootKey& root : kRootKeys)
        if (code == root.code)
            return root.key;
    return nullptr;
}

LONG OpenKey(HKEY root, const std::wstring& subkey, CRegKey& key)
{
    if (root == nullptr)
        return ERROR_INVALID_HANDLE;
    return RegOpenKeyExW(root, subkey.c_str(), 0, kAccess, key.Put());
}

int PushNil(lua_State* L)
{
    lua_pushnil(L);
    return 1;
}

int PushStringValue(lua_State* L, HKEY key, const std::wstring& name, DWORD size)
{
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    DWORD read = size;
    DWORD type = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &read) != ERROR_SUCCESS)
        return PushNil(L);
    return PushText(L, data.data());
}

int PushDwordValue(lua_State* L, HKEY key, const std::wstring& name)
{
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
        return PushNil(L);
    return PushNumber(L, static_cast<lua_Number>(value));
}

int HexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

// Hexadecimal digit pairs, a lone last digit read alone. A pair that does not start with a
// digit repeats the byte before it (0 for the first byte).
std::vector<BYTE> ParseBinary(const std::wstring& text)
{
    std::vector<BYTE> bytes((text.size() + 1) / 2, 0);
    unsigned value = 0;
    for (size_t k = 0; k < bytes.size(); ++k) {
        const int high = HexDigit(text[2 * k]);
        if (high >= 0) {
            const int low = 2 * k + 1 < text.size() ? HexDigit(text[2 * k + 1]) : -1;
            value = low >= 0 ? static_cast<unsigned>(high * 16 + low) : static_cast<unsigned>(high);
        }
        bytes[k] = static_cast<BYTE>(value);
    }
    return bytes;
}

void SetString(HKEY key, const std::wstring& name, DWORD type, const std::wstring& text)
{
    RegSetValueExW(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void WriteValue(lua_State* L, HKEY key, const std::wstring& name, const std::wstring& type)
{
    if (type == L"REG_SZ") {
        std::wstring text = ArgText(L, 5);
        if (ExpandPathArgument(text))
            SetString(key, name, REG_SZ, text);
    } else if (type == L"REG_EXPAND_SZ") {
        SetString(key, name, REG_EXPAND_SZ, ArgText(L, 5));
    } else if (type == L"REG_DWORD") {
        const DWORD value = static_cast<DWORD>(ArgUnsigned(L, 5));
        RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    } else if (type == L"REG_BINARY") {
        const std::vector<BYTE> bytes = ParseBinary(ArgText(L, 5));
        RegSetValueExW(key, name.c_str(), 0, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
    }
}

using RegDeleteKeyExFunction = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);

// Looked up once: systems without RegDeleteKeyExW fall back to RegDeleteKeyW.
RegDeleteKeyExFunction DeleteKeyExFunction()
{
    static const RegDeleteKeyExFunction function = reinterpret_cast<RegDeleteKeyExFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW")));
    return function;
}

LONG DeleteKeyTree(HKEY parent, const wchar_t* name)
{
    {
        CRegKey key;
        LONG error = RegOpenKeyExW(parent, name, 0, kAccess, key.Put());
        if (error != ERROR_SUCCESS)
            return error;
        for (;;) {
            wchar_t child[kSubkeyNameChars];
            DWORD childChars = kSubkeyNameChars;
            if (RegEnumKeyExW(key.Get(), 0, child, &childChars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            error = DeleteKeyTree(key.Get(), child);
            if (error != ERROR_SUCCESS)
                return error;
        }
    }
    const RegDeleteKeyExFunction deleteKeyEx = DeleteKeyExFunction();
    return deleteKeyEx != nullptr ? deleteKeyEx(parent, name, 0, 0) : RegDeleteKeyW(parent, name);
}

// A subkey of nothing but separators addresses the root itself.
bool NamesKeyBelowRoot(const std::wstring& subkey)
{
    return subkey.find_first_not_of(L"\\/") != std::wstring::npos;
}

void DeleteValue(const std::wstring& code, HKEY root, const std::wstring& subkey, const std::wstring& name)
{
    CRegKey key;
    if (OpenKey(root, subkey, key) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(key.Get(), name.c_str());
    XM_LOG(L"Delete Value %ls, %ls, %ls", code.c_str(), subkey.c_str(), name.c_str());
}

void DeleteKey(const std::wstring& code, HKEY root, const std::wstring& subkey)
{
    CRegKey rootKey;
    LONG error = OpenKey(root, L"", rootKey);
    if (error != ERROR_SUCCESS) {
        XM_LOG(L"OpenKey %ls failed, errcode: %ld\r\n", code.c_str(), error);
        return;
    }
    error = DeleteKeyTree(rootKey.Get(), subkey.c_str());
    if (error != ERROR_SUCCESS)
        XM_LOG(L"DeleteSubKey %ls failed, errcode: %ld", subkey.c_str(), error);
}

}  // namespace

int Lua_RegQuery(lua_State* L)
{
    CRegKey key;
    if (OpenKey(RootFromCode(ArgText(L, 1)), ArgText(L, 2), key) != ERROR_SUCCESS)
        return PushNil(L);
    const std::wstring name = ArgText(L, 3);
    DWORD type = 0;
    DWORD size = 0;
    RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, nullptr, &size);
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        return PushStringValue(L, key.Get(), name, size);
    case REG_DWORD:
        return PushDwordValue(L, key.Get(), name);
    default:
        return PushNil(L);
    }
}

// Always true: the scripts write best effort and never look at the result.
int Lua_RegAdd(lua_State* L)
{
    const HKEY root = RootFromCode(ArgText(L, 1));
    const std::wstring subkey = ArgText(L, 2);
    const std::wstring name = ArgText(L, 3);
    const std::wstring type = ArgText(L, 4);
    const bool overwrite = ArgFlag(L, 6);
    CRegKey key;
    if (root != nullptr)
        RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kAccess, nullptr, key.Put(), nullptr);
    if (!key)
        return PushBool(L, true);
    if (!overwrite && RegQueryValueExW(key.Get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) != ERROR_FILE_NOT_FOUND)
        return PushBool(L, true);
    WriteValue(L, key.Get(), name, type);
    return PushBool(L, true);
}

// Two arguments delete the key tree, three or more one value of the key. A request that names
// no key below the root (fewer than two arguments, an empty subkey) deletes nothing: false.
int Lua_RegDel(lua_State* L)
{
    const int count = lua_gettop(L);
    const std::wstring code = ArgText(L, 1);
    const std::wstring subkey = ArgText(L, 2);
    if (count < 2 || !NamesKeyBelowRoot(subkey)) {
        XM_LOG(L"Lua_RegDel refuses to delete under the root key itself: %ls, \"%ls\"", code.c_str(), subkey.c_str());
        return PushBool(L, false);
    }
    const HKEY root = RootFromCode(code);
    if (count == 2)
        DeleteKey(code, root, subkey);
    else
        DeleteValue(code, root, subkey, ArgText(L, 3));
    return PushBool(L, true);
}
