#include "Extract7z.h"

#include "../base/DebugOutput.h"
#include "../base/Handles.h"

#include <7z.h>
#include <7zCrc.h>

#include <cstdlib>
#include <cstring>
#include <unordered_set>

using namespace qel;

namespace {

void* AllocBlock(ISzAllocPtr, size_t size) { return size != 0 ? malloc(size) : nullptr; }
void FreeBlock(ISzAllocPtr, void* address) { free(address); }
const ISzAlloc kCrtAlloc = {AllocBlock, FreeBlock};

constexpr size_t kLookBufferBytes = 1 << 18;
constexpr DWORD kWritePieceBytes = 0x400000;
constexpr UInt32 kNoFolder = static_cast<UInt32>(-1);
// 7-Zip keeps the POSIX mode in the high 16 bits of the attributes and marks that with this bit;
// only the low bits are Windows attributes then.
constexpr UInt32 kUnixExtensionBit = 0x8000;
constexpr UInt32 kWindowsAttributesWithUnixExtension = 0x3FFF;

// Grows buffer to hold at least chars characters; its old contents are not kept.
bool Reserve(wchar_t*& buffer, size_t& capacity, size_t chars)
{
    if (chars <= capacity)
        return true;
    free(buffer);
    buffer = static_cast<wchar_t*>(malloc(chars * sizeof(wchar_t)));
    capacity = buffer != nullptr ? chars : 0;
    return buffer != nullptr;
}

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// A component that Windows would read as "..": only dots and spaces, at least two dots.
bool IsParentComponent(const wchar_t* begin, const wchar_t* end)
{
    int dots = 0;
    for (const wchar_t* c = begin; c != end; ++c) {
        if (*c == L'.')
            ++dots;
        else if (*c != L' ')
            return false;
    }
    return dots >= 2;
}

// One extraction: the archive database, the decoder's folder cache and the output side.
class CExtractRun
{
public:
    CExtractRun(const std::wstring& destination, const ExtractFileCallback& onFile, const ExtractErrorCallback& onError)
        : m_destination(destination), m_onFile(onFile), m_onError(onError)
    {
        SzArEx_Init(&m_db);
    }
    ~CExtractRun()
    {
        FreeBlock(nullptr, m_folderBuffer);
        SzArEx_Free(&m_db, &kCrtAlloc);
        free(m_lookBuffer);
        free(m_path);
        free(m_name);
    }
    CExtractRun(const CExtractRun&) = delete;
    CExtractRun& operator=(const CExtractRun&) = delete;

    SRes Run(ISeekInStreamPtr stream)
    {
        SRes status = Open(stream);
        if (status == SZ_OK)
            status = CheckNames();
        for (UInt32 i = 0; status == SZ_OK && i < m_db.NumFiles; ++i)
            status = ExtractEntry(i);
        return status;
    }

private:
    SRes Open(ISeekInStreamPtr stream)
    {
        CrcGenerateTable();
        m_lookBuffer = static_cast<Byte*>(malloc(kLookBufferBytes));
        if (m_lookBuffer == nullptr)
            return SZ_ERROR_MEM;
        LookToRead2_CreateVTable(&m_look, False);
        m_look.buf = m_lookBuffer;
        m_look.bufSize = kLookBufferBytes;
        m_look.realStream = stream;
        LookToRead2_INIT(&m_look);
        return SzArEx_Open(&m_db, &m_look.vt, &kCrtAlloc, &kCrtAlloc);
    }

    // Reads entry i's name into m_name (grown as needed); false when memory runs out.
    bool ReadName(UInt32 i)
    {
        const size_t chars = SzArEx_GetFileNameUtf16(&m_db, i, nullptr);
        if (!Reserve(m_name, m_nameCapacity, chars))
            return false;
        SzArEx_GetFileNameUtf16(&m_db, i, reinterpret_cast<UInt16*>(m_name));
        m_name[chars - 1] = L'\0';
        return true;
    }

    SRes CheckNames()
    {
        for (UInt32 i = 0; i < m_db.NumFiles; ++i) {
            if (!ReadName(i))
                return SZ_ERROR_MEM;
            if (!IsEntryNameContained(m_name)) {
                XM_LOG(L"Extract7zToDirectory: entry %u \"%ls\" would leave the destination; archive refused\r\n",
                       static_cast<unsigned>(i), m_name);
                return SZ_ERROR_ARCHIVE;
            }
        }
        return SZ_OK;
    }

    // m_path := destination '\' name, with '/' turned into '\'.
    bool BuildPath(UInt32 i)
    {
        if (!ReadName(i))
            return false;
        const size_t nameChars = wcslen(m_name);
        if (!Reserve(m_path, m_pathCapacity, m_destination.size() + 1 + nameChars + 1))
            return false;
        memcpy(m_path, m_destination.data(), m_destination.size() * sizeof(wchar_t));
        m_nameStart = m_destination.size() + 1;
        m_path[m_nameStart - 1] = L'\\';
        for (size_t c = 0; c <= nameChars; ++c)
            m_path[m_nameStart + c] = m_name[c] == L'/' ? L'\\' : m_name[c];
        m_pathChars = m_nameStart + nameChars;
        return true;
    }

    // Each directory is made once per run; the folders above it were made with it.
    void MakeDirectory(const std::wstring& directory)
    {
        if (m_madeDirectories.count(directory) != 0)
            return;
        for (size_t at = m_nameStart; at < directory.size(); ++at) {
            if (directory[at] != L'\\')
                continue;
            std::wstring prefix = directory.substr(0, at);
            if (m_madeDirectories.insert(prefix).second)
                CreateDirectoryW(prefix.c_str(), nullptr);
        }
        CreateDirectoryW(directory.c_str(), nullptr);
        m_madeDirectories.insert(directory);
    }

    void MakeParentDirectories()
    {
        size_t last = m_pathChars;
        while (last > m_nameStart && m_path[last - 1] != L'\\')
            --last;
        if (last > m_nameStart)
            MakeDirectory(std::wstring(m_path, last - 1));
    }

    SRes ExtractEntry(UInt32 i)
    {
        if (!BuildPath(i))
            return SZ_ERROR_MEM;
        if (SzArEx_IsDir(&m_db, i)) {
            MakeDirectory(std::wstring(m_path, m_pathChars));
            return SZ_OK;
        }
        const Byte* data = nullptr;
        size_t size = 0;
        // An entry without a stream is empty; asking the decoder for it would drop the cached folder.
        if (m_db.FileToFolder[i] != kNoFolder) {
            size_t offset = 0;
            const SRes status = SzArEx_Extract(&m_db, &m_look.vt, i, &m_folderIndex, &m_folderBuffer, &m_folderBufferSize,
                                               &offset, &size, &kCrtAlloc, &kCrtAlloc);
            if (status != SZ_OK)
                return status;
            data = m_folderBuffer + offset;
        }
        MakeParentDirectories();
        return WriteEntry(i, data, size);
    }

    HANDLE CreateOutput()
    {
        return CreateFileW(m_path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    // A read-only file in the way is found by the failure it causes, so the usual case costs no
    // extra call: its mark is cleared and the creation tried again.
    HANDLE CreateOutputClearingReadOnly()
    {
        HANDLE file = CreateOutput();
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED)
            return file;
        const DWORD attributes = GetFileAttributesW(m_path);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0 ||
            (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        SetFileAttributesW(m_path, attributes & ~FILE_ATTRIBUTE_READONLY);
        return CreateOutput();
    }

    enum class Creation { Created, Skipped, Failed };

    Creation CreateWithPolicy(CFileHandle& file, bool& replaced)
    {
        file.Reset(CreateOutputClearingReadOnly());
        DWORD error = GetLastError();
        if (!file.IsValid() && error != 0) {
            if (!m_onError)
                return Creation::Failed;
            const int answer = m_onError(std::wstring(m_path, m_pathChars), error);
            if (answer == kExtractSkip)
                return Creation::Skipped;
            if (answer != kExtractRetry)
                return Creation::Failed;
            file.Reset(CreateOutput());
            error = GetLastError();
        }
        if (!file.IsValid())
            return Creation::Failed;
        replaced = error == ERROR_ALREADY_EXISTS;
        return Creation::Created;
    }

    SRes WriteEntry(UInt32 i, const Byte* data, size_t size)
    {
        CFileHandle file;
        bool replaced = false;
        switch (CreateWithPolicy(file, replaced)) {
        case Creation::Skipped:
            return SZ_OK;
        case Creation::Failed:
            return SZ_ERROR_FAIL;
        case Creation::Created:
            break;
        }
        while (size != 0) {
            const DWORD piece = size < kWritePieceBytes ? static_cast<DWORD>(size) : kWritePieceBytes;
            DWORD written = 0;
            if (!WriteFile(file.Get(), data, piece, &written, nullptr) || written != piece)
                return SZ_ERROR_FAIL;
            data += piece;
            size -= piece;
        }
        if (SzBitWithVals_Check(&m_db.MTime, i)) {
            const FILETIME modified = {m_db.MTime.Vals[i].Low, m_db.MTime.Vals[i].High};
            SetFileTime(file.Get(), nullptr, nullptr, &modified);
        }
        if (!CloseHandle(file.Release()) && GetLastError() != 0)
            return SZ_ERROR_FAIL;
        if (SzBitWithVals_Check(&m_db.Attribs, i))
            ApplyAttributes(m_db.Attribs.Vals[i], replaced);
        if (m_onFile)
            m_onFile(std::wstring(m_path, m_pathChars));
        return SZ_OK;
    }

    // A new file already carries the archive bit and nothing else; only other attributes, or a
    // file that existed before, need the call.
    void ApplyAttributes(UInt32 stored, bool replaced)
    {
        DWORD attributes = stored;
        if ((stored & kUnixExtensionBit) != 0)
            attributes &= kWindowsAttributesWithUnixExtension;
        if (!replaced && attributes == FILE_ATTRIBUTE_ARCHIVE)
            return;
        SetFileAttributesW(m_path, attributes);
    }

    const std::wstring& m_destination;
    const ExtractFileCallback& m_onFile;
    const ExtractErrorCallback& m_onError;

    CSzArEx m_db;
    CLookToRead2 m_look{};
    Byte* m_lookBuffer = nullptr;
    UInt32 m_folderIndex = kNoFolder;
    Byte* m_folderBuffer = nullptr;
    size_t m_folderBufferSize = 0;

    wchar_t* m_name = nullptr;
    size_t m_nameCapacity = 0;
    wchar_t* m_path = nullptr;
    size_t m_pathCapacity = 0;
    size_t m_nameStart = 0;
    size_t m_pathChars = 0;
    std::unordered_set<std::wstring> m_madeDirectories;
};

}  // namespace

bool IsEntryNameContained(const wchar_t* name)
{
    if (name[0] == L'\0' || IsSeparator(name[0]) || wcschr(name, L':') != nullptr)
        return false;
    const wchar_t* begin = name;
    for (const wchar_t* c = name;; ++c) {
        if (*c == L'\0' || IsSeparator(*c)) {
            if (IsParentComponent(begin, c))
                return false;
            if (*c == L'\0')
                return true;
            begin = c + 1;
        }
    }
}

SRes Extract7zToDirectory(ISeekInStreamPtr stream, const std::wstring& destination,
                          const ExtractFileCallback& onFile, const ExtractErrorCallback& onError)
{
    CExtractRun run(destination, onFile, onError);
    return run.Run(stream);
}
