// qelbench_extract DEST: unpacks the payload resource into DEST through Lua_UnCompress7z in
// resource mode, as the install script does, and prints the result, the time the call took and
// the process's peak memory as the system reports it.
// qelbench_extract --decode-only: only decodes every folder of the payload into memory, to tell
// the decoder's share of the time from the file system's.
#include "utility/base/TextConvert.h"
#include "utility/qelscriptengine/MemoryInStream.h"
#include "utility/qelscriptengine/QELScriptEngine.h"

#include <7z.h>
#include <7zCrc.h>

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void* Alloc(ISzAllocPtr, size_t size) { return size != 0 ? malloc(size) : nullptr; }
void Free(ISzAllocPtr, void* address) { free(address); }
const ISzAlloc kAlloc = {Alloc, Free};

double Seconds(const LARGE_INTEGER& start)
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

int DecodeOnly()
{
    const HRSRC found = FindResourceW(nullptr, L"APP.7Z", L"_7Z");
    const void* image = found != nullptr ? LockResource(LoadResource(nullptr, found)) : nullptr;
    if (image == nullptr)
        return 1;
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    MemoryInStream stream(image, SizeofResource(nullptr, found), true);
    CrcGenerateTable();
    static Byte lookBuffer[1 << 18];
    CLookToRead2 look{};
    LookToRead2_CreateVTable(&look, False);
    look.buf = lookBuffer;
    look.bufSize = sizeof lookBuffer;
    look.realStream = stream.Stream();
    LookToRead2_INIT(&look);
    CSzArEx db;
    SzArEx_Init(&db);
    SRes status = SzArEx_Open(&db, &look.vt, &kAlloc, &kAlloc);
    UInt64 total = 0;
    for (UInt32 folder = 0; status == SZ_OK && folder < db.db.NumFolders; ++folder) {
        const size_t size = static_cast<size_t>(SzAr_GetFolderUnpackSize(&db.db, folder));
        Byte* out = static_cast<Byte*>(malloc(size));
        status = out != nullptr ? SzAr_DecodeFolder(&db.db, folder, &look.vt, db.dataPos, out, size, &kAlloc) : SZ_ERROR_MEM;
        free(out);
        total += size;
    }
    const unsigned folders = db.db.NumFolders;
    SzArEx_Free(&db, &kAlloc);
    printf("decode %.3f s, %u folders, %.1f MB, status %d\n", Seconds(start), folders, total / 1048576.0, status);
    return status == SZ_OK ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 2 && wcscmp(argv[1], L"--decode-only") == 0)
        return DecodeOnly();
    if (argc != 2) {
        fwprintf(stderr, L"usage: qelbench_extract DEST | --decode-only\n");
        return 2;
    }
    QELScriptEngine& engine = QELScriptEngine::Instance();
    lua_State* L = engine.GetState();
    lua_pushstring(L, qel::WideToUtf8(argv[1], wcslen(argv[1])).c_str());
    lua_setglobal(L, "DEST");
    const std::string chunk = "ok = Lua_UnCompress7z('App.7z', DEST, false, nil, function() return 2 end)\n"
                              "if not ok then os.exit(1) end\n";
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    const bool ran = engine.RunChunk(chunk.data(), chunk.size(), "=bench");
    const double elapsed = Seconds(start);
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    printf("extract %.3f s, peak working set %.1f MB, peak private %.1f MB\n",
           elapsed, memory.PeakWorkingSetSize / 1048576.0,
           memory.PeakPagefileUsage / 1048576.0);
    return ran ? 0 : 1;
}
