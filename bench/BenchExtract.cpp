// qelbench_extract DEST: unpacks the payload resource into DEST through Lua_UnCompress7z in
// resource mode, as the install script does, and prints the result, the time the call took and
// the process's peak memory as the system reports it.
#include "utility/base/TextConvert.h"
#include "utility/qelscriptengine/QELScriptEngine.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        fwprintf(stderr, L"usage: qelbench_extract DEST\n");
        return 2;
    }
    QELScriptEngine& engine = QELScriptEngine::Instance();
    lua_State* L = engine.GetState();
    lua_pushstring(L, qel::WideToUtf8(argv[1], wcslen(argv[1])).c_str());
    lua_setglobal(L, "DEST");
    const std::string chunk = "ok = Lua_UnCompress7z('App.7z', DEST, false, nil, function() return 2 end)\n"
                              "if not ok then os.exit(1) end\n";
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const bool ran = engine.RunChunk(chunk.data(), chunk.size(), "=bench");
    QueryPerformanceCounter(&end);
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    printf("extract %.3f s, peak working set %.1f MB, peak private %.1f MB\n",
           double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart), memory.PeakWorkingSetSize / 1048576.0,
           memory.PeakPagefileUsage / 1048576.0);
    return ran ? 0 : 1;
}
