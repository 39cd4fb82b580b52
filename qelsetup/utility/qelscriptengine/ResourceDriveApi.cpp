#include "MemoryInStream.h"
#include "ResourceName.h"
#include "ScriptApi.h"
#include "ScriptArgs.h"

#include "../base/DebugOutput.h"
#include "../base/Handles.h"

#include <shlwapi.h>

#include <vector>

using namespace qel;

namespace {

const wchar_t kExtractResource[] = L"Lua_ExtractResource";
const wchar_t kPayloadType[] = L"_7Z";

bool WriteAll(HANDLE file, const void* data, DWORD size)
{
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

// The payload is written as a standard archive: its first two bytes go out corrected, the
// resource image stays as stored.
bool WriteResourceBytes(HANDLE file, const uint8_t* data, DWORD size, bool isPayload)
{
    if (!isPayload || size < 2)
        return WriteAll(file, data, size);
    uint8_t head[2] = {data[0], data[1]};
    SwapPayloadSignature(head, sizeof head);
    return WriteAll(file, head, sizeof head) && WriteAll(file, data + 2, size - 2);
}

std::vector<std::wstring> FixedDriveRoots()
{
    std::vector<std::wstring> roots;
    const DWORD mask = GetLogicalDrives();
    for (int i = 0; i <= 30; ++i) {
        if ((mask & (1u << i)) == 0)
            continue;
        wchar_t root[3] = {static_cast<wchar_t>(L'A' + i), L':', L'\0'};
        if (GetDriveTypeW(root) == DRIVE_FIXED)
            roots.emplace_back(root);
    }
    return roots;
}

}  // namespace

int Lua_ExtractResource(lua_State* L)
{
    std::wstring destination = ArgText(L, 3);
    ExpandPathArgument(destination);
    const std::wstring type = ArgText(L, 1);
    const CResourceName name = ArgResourceName(L, 2);

    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(module, name.Get(), type.c_str());
    CResourceHandle loaded(found != nullptr ? LoadResource(module, found) : nullptr);
    if (!loaded) {
        XM_LOG(L"Fun:%ls ,LoadResource failed!\r\n", kExtractResource);
        return PushBool(L, false);
    }
    CFileHandle file(CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        XM_LOG(L"Fun:%ls ,CreateFileW %ls failed!\r\n", kExtractResource, destination.c_str());
        return PushBool(L, false);
    }
    const uint8_t* data = static_cast<const uint8_t*>(LockResource(loaded.Get()));
    const DWORD size = data != nullptr ? SizeofResource(module, found) : 0;
    if (data == nullptr || !WriteResourceBytes(file.Get(), data, size, type == kPayloadType)) {
        XM_LOG(L"Fun:%ls ,WriteFile %ls failed!\r\n", kExtractResource, destination.c_str());
        return PushBool(L, false);
    }
    return PushBool(L, true);
}

int Lua_GetDriverInstallPath(lua_State* L)
{
    std::wstring result = L"%ProgramFiles%\\";
    ExpandPathArgument(result);
    const std::vector<std::wstring> roots = FixedDriveRoots();
    if (roots.size() > 1 && result.size() >= 2) {
        for (size_t i = 1; i < roots.size(); ++i) {
            const std::wstring candidate = roots[i] + result.substr(2);
            if (PathFileExistsW(candidate.c_str())) {
                result = candidate;
                break;
            }
        }
    }
    return PushText(L, result);
}
