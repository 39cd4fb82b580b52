// Files and directories: create, copy, move, rename, delete (now, recursively or at restart),
// existence, unique and temporary names, environment expansion; and the engine's recursive
// directory removal.

#include "QELScriptEngine.h"
#include "ScriptApi.h"
#include "ScriptArgs.h"
#include "ScriptCallback.h"

#include "../base/DebugOutput.h"
#include "../base/Handles.h"
#include "../base/TextConvert.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>

using namespace qel;

namespace {

constexpr FILEOP_FLAGS kCopyFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR;
constexpr FILEOP_FLAGS kMoveFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
constexpr FILEOP_FLAGS kDeleteFlags = FOF_SILENT | FOF_NOCONFIRMATION;
constexpr FILEOP_FLAGS kQuietDeleteFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;

const wchar_t kDeletePromptTitle[] = L"提示";
const wchar_t kDeletePromptFormat[] =
    L"无法删除\"%ls\"，可能是被占用，请关闭占用程序后点击重试或者点击忽略在卸载完成之后手动删除！";

// The expanded path argument at index; empty when it is empty or does not fit. A path that
// does not fit is never taken for "nothing there": fits tells the two apart.
std::wstring ArgPath(lua_State* L, int index, bool* fits = nullptr)
{
    std::wstring path = ArgText(L, index);
    const bool expanded = ExpandPathArgument(path);
    if (fits != nullptr)
        *fits = expanded;
    return path;
}

bool PathExists(const std::wstring& path) { return !path.empty() && PathFileExistsW(path.c_str()) != FALSE; }

// What a delete finds at its path argument (the first).
enum class DeleteTarget { TooLong, Missing, Present };

DeleteTarget ArgDeleteTarget(lua_State* L, std::wstring& path)
{
    bool fits = false;
    path = ArgPath(L, 1, &fits);
    if (!fits)
        return DeleteTarget::TooLong;
    return PathExists(path) ? DeleteTarget::Present : DeleteTarget::Missing;
}

// The shell wants each path as a list: the text, then an extra terminating NUL.
int RunShellFileOperation(UINT operation, const std::wstring& from, const std::wstring* to, FILEOP_FLAGS flags)
{
    const std::wstring fromList = from + L'\0';
    const std::wstring toList = to != nullptr ? *to + L'\0' : std::wstring();
    SHFILEOPSTRUCTW op = {};
    op.wFunc = operation;
    op.pFrom = fromList.c_str();
    op.pTo = to != nullptr ? toList.c_str() : nullptr;
    op.fFlags = flags;
    return SHFileOperationW(&op);
}

struct TransferKind {
    const wchar_t* functionName;
    const wchar_t* verb;
    UINT operation;
    FILEOP_FLAGS flags;
};

int TransferFiles(lua_State* L, const TransferKind& kind)
{
    const std::wstring source = ArgPath(L, 1);
    if (!PathExists(source)) {
        LogPathNotExists(kind.functionName, source);
        return PushBool(L, false);
    }
    const std::wstring destination = ArgPath(L, 2);
    if (destination.empty()) {
        XM_LOG(L"%ls %ls to %ls failed!", kind.verb, source.c_str(), destination.c_str());
        return PushBool(L, false);
    }
    const int result = RunShellFileOperation(kind.operation, source, &destination, kind.flags);
    if (result != 0) {
        XM_LOG(L"%ls %ls to %ls failed!", kind.verb, source.c_str(), destination.c_str());
        XM_LOG(L"SHFileOperation error code : %#x\r\n", static_cast<unsigned>(result));
        return PushBool(L, false);
    }
    XM_LOG(L"%ls %ls to %ls !", kind.verb, source.c_str(), destination.c_str());
    return PushBool(L, true);
}

std::wstring FormatDeletePrompt(const std::wstring& path)
{
    std::wstring text(wcslen(kDeletePromptFormat) + path.size() + 1, L'\0');
    const int written = swprintf(&text[0], text.size(), kDeletePromptFormat, path.c_str());
    text.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return text;
}

// The search pattern of one directory level: "dir\*.*" for a directory, the path itself
// otherwise. Empty when it does not fit in a path buffer.
std::wstring SearchPattern(const std::wstring& path, bool isDirectory)
{
    if (!isDirectory)
        return path;
    wchar_t pattern[MAX_PATH] = {};
    if (PathCombineW(pattern, path.c_str(), L"*.*") == nullptr)
        return std::wstring();
    return pattern;
}

// The folder the found entries live in: the full form of the pattern less its last component,
// with a separator after it.
bool SearchRoot(const std::wstring& pattern, std::wstring& root)
{
    wchar_t full[MAX_PATH] = {};
    wchar_t* name = nullptr;
    const DWORD length = GetFullPathNameW(pattern.c_str(), MAX_PATH, full, &name);
    if (length == 0 || length >= MAX_PATH)
        return false;
    root.assign(full, name != nullptr ? static_cast<size_t>(name - full) : length);
    if (!root.empty() && root.back() != L'\\' && root.back() != L'/')
        root += L'\\';
    return true;
}

bool IsDotEntry(const WIN32_FIND_DATAW& found)
{
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0);
}

void DeleteTree(const std::wstring& path, const QELScriptEngine::DeleteErrorCallback* callback)
{
    const bool isDirectory = PathIsDirectoryW(path.c_str()) != FALSE;
    const std::wstring pattern = SearchPattern(path, isDirectory);
    std::wstring root;
    if (pattern.empty() || !SearchRoot(pattern, root))
        return;
    WIN32_FIND_DATAW found = {};
    CFindHandle search(FindFirstFileW(pattern.c_str(), &found));
    if (!search)
        return;
    do {
        if (IsDotEntry(found))
            continue;
        const std::wstring entry = root + found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            DeleteTree(entry, callback);
            continue;
        }
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0)
            SetFileAttributesW(entry.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(entry.c_str()) && callback != nullptr && *callback)
            (*callback)(entry, GetLastError());
    } while (FindNextFileW(search.Get(), &found));
    search.Reset();
    if (isDirectory) {
        QELScriptEngine::LeaveCurrentDirectory(path.c_str());
        RemoveDirectoryW(path.c_str());
    }
}

// The two recursive deletes: true when nothing is left at the path afterwards.
int DeleteRecursively(lua_State* L, const wchar_t* functionName, const ScriptCallback* callback)
{
    XM_LOG(L"%ls", functionName);
    std::wstring path;
    const DeleteTarget target = ArgDeleteTarget(L, path);
    if (target != DeleteTarget::Present)
        return PushBool(L, target == DeleteTarget::Missing);
    QELScriptEngine::DeleteErrorCallback report;
    if (callback != nullptr && callback->IsSet())
        report = [callback](const std::wstring& file, unsigned long error) {
            callback->Invoke(file, static_cast<unsigned int>(error));
        };
    if (PathIsDirectoryW(path.c_str())) {
        XM_LOG(L"PathIsDirectoryW");
        if (callback != nullptr)
            QELScriptEngine::DeleteDirectoriesEx(path, report);
        else
            QELScriptEngine::DeleteDirectories(path);
    } else {
        XM_LOG(L"Path is file!");
        if (!DeleteFileW(path.c_str()) && report)
            report(path, GetLastError());
    }
    return PushBool(L, !PathExists(path));
}

}  // namespace

void QELScriptEngine::DeleteDirectories(const std::wstring& path)
{
    XM_LOG(L"%ls %ls", L"QELScriptEngine::DeleteDirectories", path.c_str());
    DeleteTree(path, nullptr);
}

void QELScriptEngine::DeleteDirectoriesEx(const std::wstring& path, const DeleteErrorCallback& callback)
{
    XM_LOG(L"%ls %ls", L"QELScriptEngine::DeleteDirectoriesEx", path.c_str());
    DeleteTree(path, &callback);
}

int Lua_CreateDirectory(lua_State* L)
{
    const std::wstring path = ArgPath(L, 1);
    if (PathExists(path))
        return PushBool(L, true);
    if (!path.empty())
        SHCreateDirectory(nullptr, path.c_str());
    if (PathExists(path)) {
        XM_LOG(L"Create Directory %ls!\r\n", path.c_str());
        return PushBool(L, true);
    }
    LogPathNotExists(L"Lua_CreateDirectory", path);
    return PushBool(L, false);
}

int Lua_CopyFile(lua_State* L)
{
    return TransferFiles(L, {L"Lua_CopyFile", L"Copy", FO_COPY, kCopyFlags});
}

int Lua_MoveFile(lua_State* L)
{
    return TransferFiles(L, {L"Lua_MoveFile", L"Move", FO_MOVE, kMoveFlags});
}

int Lua_RenameFile(lua_State* L)
{
    const std::wstring source = ArgPath(L, 1);
    if (!PathExists(source)) {
        LogPathNotExists(L"Lua_RenameFile", source);
        return PushBool(L, false);
    }
    const std::wstring target = ArgPath(L, 2);
    if (target.empty() || !MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        XM_LOG(L"MoveFile %ls to %ls failed!", source.c_str(), target.c_str());
        return PushBool(L, false);
    }
    XM_LOG(L"MoveFile %ls to %ls !", source.c_str(), target.c_str());
    return PushBool(L, true);
}

// A file that cannot be deleted brings up a prompt: Retry tries the whole deletion again (as
// often as the user asks), Ignore counts as done, Abort ends the process.
int Lua_DeleteFile(lua_State* L)
{
    std::wstring path;
    if (ArgDeleteTarget(L, path) == DeleteTarget::TooLong)
        return PushBool(L, false);
    for (;;) {
        if (!PathExists(path))
            return PushBool(L, true);
        const int result = RunShellFileOperation(FO_DELETE, path, nullptr, kDeleteFlags);
        if (result == 0)
            return PushBool(L, true);
        const int answer = MessageBoxW(nullptr, FormatDeletePrompt(path).c_str(), kDeletePromptTitle,
                                       MB_ABORTRETRYIGNORE | MB_ICONQUESTION);
        if (answer == IDABORT)
            ExitProcess(0);
        if (answer == IDRETRY)
            continue;
        XM_LOG(L"Delete %ls failed!\r\n", path.c_str());
        XM_LOG(L"SHFileOperation error code : %#x\r\n", static_cast<unsigned>(result));
        return PushBool(L, answer == IDIGNORE);
    }
}

int Lua_DeleteFileEx(lua_State* L)
{
    std::wstring path;
    const DeleteTarget target = ArgDeleteTarget(L, path);
    if (target != DeleteTarget::Present)
        return PushBool(L, target == DeleteTarget::Missing);
    return PushBool(L, RunShellFileOperation(FO_DELETE, path, nullptr, kQuietDeleteFlags) == 0);
}

int Lua_DelFileRecursive(lua_State* L)
{
    return DeleteRecursively(L, L"Lua_DelFileRecursive", nullptr);
}

int Lua_DelFileRecursiveEx(lua_State* L)
{
    const int count = lua_gettop(L);
    const ScriptCallback callback(L, count >= 1 ? count : 1);
    return DeleteRecursively(L, L"Lua_DelFileRecursiveEx", &callback);
}

int Lua_DeleteFileAfterReboot(lua_State* L)
{
    XM_LOG(L"Lua_DeleteFileAfterReboot");
    std::wstring path;
    const DeleteTarget target = ArgDeleteTarget(L, path);
    if (target != DeleteTarget::Present)
        return PushBool(L, target == DeleteTarget::Missing);
    return PushBool(L, MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE);
}

int Lua_PathFileExists(lua_State* L)
{
    return PushBool(L, PathFileExistsW(ArgText(L, 1).c_str()) != FALSE);
}

// The shell writes at most a path buffer's worth; a name that cannot fit gives the empty text.
int Lua_PathYetAnotherMakeUniqueName(lua_State* L)
{
    const std::wstring path = ArgText(L, 1);
    wchar_t unique[MAX_PATH + 1] = {};
    if (path.size() < MAX_PATH)
        PathYetAnotherMakeUniqueName(unique, path.c_str(), nullptr, nullptr);
    return PushText(L, unique);
}

int Lua_GetTempFileName(lua_State* L)
{
    bool fits = false;
    const std::wstring directory = ArgPath(L, 1, &fits);
    const std::wstring prefix = ArgText(L, 2);
    wchar_t name[MAX_PATH] = {};
    if (!fits || GetTempFileNameW(directory.c_str(), prefix.c_str(), 0, name) == 0) {
        lua_pushnil(L);
        return 1;
    }
    return PushText(L, name);
}

int Lua_GetTempPath(lua_State* L)
{
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH, path);
    if (length == 0 || length > MAX_PATH) {
        XM_LOG(L"GetTempPath Failed!");
        return PushText(L, L"");
    }
    if (!SHGetSpecialFolderPathW(nullptr, path, CSIDL_LOCAL_APPDATA, FALSE))
        XM_LOG(L"Get Local AppData Failed!");
    return PushText(L, path);
}

int Lua_ExpandEnv(lua_State* L)
{
    std::wstring text = lua_gettop(L) > 0 ? ArgText(L, -1) : std::wstring();
    ExpandPathArgument(text);
    return PushText(L, text);
}
