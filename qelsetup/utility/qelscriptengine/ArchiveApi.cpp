#include "Extract7z.h"
#include "MemoryInStream.h"
#include "ResourceName.h"
#include "ScriptApi.h"
#include "ScriptArgs.h"
#include "ScriptCallback.h"

#include "../base/DebugOutput.h"
#include "../base/Handles.h"

#include <7zFile.h>

#include <shlwapi.h>

using namespace qel;

namespace {

const wchar_t kFunction[] = L"Lua_UnCompress7z";
const wchar_t kPayloadType[] = L"_7Z";

SRes ExtractFile(const std::wstring& archive, const std::wstring& destination, const ExtractFileCallback& onFile,
                 const ExtractErrorCallback& onError)
{
    CFileInStream file;
    FileInStream_CreateVTable(&file);
    File_Construct(&file.file);
    if (InFile_OpenW(&file.file, archive.c_str()) != 0)
        return SZ_ERROR_FAIL;
    const SRes status = Extract7zToDirectory(&file.vt, destination, onFile, onError);
    File_Close(&file.file);
    return status;
}

// The payload is read from its image in place, its signature corrected as it is read.
bool ExtractResource(const CResourceName& name, const std::wstring& destination, const ExtractFileCallback& onFile,
                     const ExtractErrorCallback& onError, SRes& status)
{
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(module, name.Get(), kPayloadType);
    CResourceHandle loaded(found != nullptr ? LoadResource(module, found) : nullptr);
    if (!loaded) {
        XM_LOG(L"Fun:%ls ,LoadResource failed!\r\n", kFunction);
        return false;
    }
    if (!name.numeric)
        XM_LOG(L"UnCompress %ls to %ls .\r\n", name.text.c_str(), destination.c_str());
    const void* image = LockResource(loaded.Get());
    MemoryInStream stream(image, image != nullptr ? SizeofResource(module, found) : 0, true);
    status = Extract7zToDirectory(stream.Stream(), destination, onFile, onError);
    return true;
}

}  // namespace

int Lua_UnCompress7z(lua_State* L)
{
    const int count = lua_gettop(L);
    SRes status = SZ_ERROR_PARAM;
    if (count >= 2 && count <= 5) {
        const ScriptCallback onErrorScript(L, 5);
        const ScriptCallback onFileScript(L, 4);
        ExtractFileCallback onFile;
        ExtractErrorCallback onError;
        if (onFileScript.IsSet())
            onFile = [&onFileScript](const std::wstring& path) { onFileScript.Notify(path); };
        if (onErrorScript.IsSet())
            onError = [&onErrorScript](const std::wstring& path, DWORD error) {
                return onErrorScript.Invoke(path, static_cast<unsigned int>(error));
            };
        const bool fromFile = lua_type(L, 3) == LUA_TBOOLEAN && lua_toboolean(L, 3) != 0;

        std::wstring destination = ArgText(L, 2);
        ExpandPathArgument(destination);
        if (!PathFileExistsW(destination.c_str())) {
            LogPathNotExists(kFunction, destination);
            return PushBool(L, false);
        }
        if (fromFile) {
            std::wstring archive = ArgText(L, 1);
            ExpandPathArgument(archive);
            if (!PathFileExistsW(archive.c_str())) {
                LogPathNotExists(kFunction, archive);
                return PushBool(L, false);
            }
            XM_LOG(L"UnCompress %ls to %ls .\r\n", archive.c_str(), destination.c_str());
            status = ExtractFile(archive, destination, onFile, onError);
        } else if (!ExtractResource(ArgResourceName(L, 1), destination, onFile, onError, status)) {
            return PushBool(L, false);
        }
        lua_settop(L, count);
    }
    if (status != SZ_OK) {
        XM_LOG(L"Fun:%ls, Description: UnCompress failed.!\r\n", kFunction);
        return PushBool(L, false);
    }
    XM_LOG(L"UnCompress successful.\r\n");
    return PushBool(L, true);
}
