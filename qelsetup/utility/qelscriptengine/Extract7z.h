#pragma once

#include <7zTypes.h>

#include <windows.h>

#include <functional>
#include <string>

// Told the full path of each file after it has been written.
using ExtractFileCallback = std::function<void(const std::wstring& path)>;
// Asked when an output file cannot be created, with its path and the system error:
// 0 = try once more, 1 = leave this file out, anything else = end the extraction.
using ExtractErrorCallback = std::function<int(const std::wstring& path, DWORD error)>;

enum : int {
    kExtractRetry = 0,
    kExtractSkip = 1,
};

// Unpacks every entry of the 7z archive read from stream into destination (a separator is
// always put after it). Directories are made as needed, files are written with their stored
// modification time and attributes, a read-only file in the way is replaced. An archive with an
// entry whose name would lead outside destination is refused before anything is written.
// Returns SZ_OK, the decoder's error code, SZ_ERROR_MEM, SZ_ERROR_ARCHIVE for a refused name,
// or SZ_ERROR_FAIL when an output file cannot be created, written or closed.
SRes Extract7zToDirectory(ISeekInStreamPtr stream, const std::wstring& destination,
                          const ExtractFileCallback& onFile, const ExtractErrorCallback& onError);

// Whether an entry name stays inside the folder it is extracted into: not absolute, no drive
// or stream (':'), no ".." component (with either separator, and as Windows trims trailing dots
// and spaces from a component, no component of only dots and spaces with two dots or more).
bool IsEntryNameContained(const wchar_t* name);
