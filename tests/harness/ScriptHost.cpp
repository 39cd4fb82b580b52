// qelscripthost: runs a Lua file in the installer's own script engine (the same state, libraries,
// object types and Lua_* functions), so the script API can be tested in Lua.
//
//   qelscripthost SCRIPT.lua [ARGS...]    the arguments are in the global table arg (arg[0] = SCRIPT)
//
// Exit code: 0 when the chunk ran to its end (a script may end earlier with os.exit(n)); 1 when
// it could not be read or compiled. A runtime error ends the process through the engine's error
// box, with exit code 0, as in the installer.

#include "utility/base/TextConvert.h"
#include "utility/qelscriptengine/QELScriptEngine.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

bool ReadFileBytes(const wchar_t* path, std::vector<char>& bytes)
{
    FILE* file = _wfopen(path, L"rb");
    if (file == nullptr)
        return false;
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(file);
    return true;
}

void SetArgTable(lua_State* L, int argc, wchar_t** argv)
{
    lua_createtable(L, argc, 1);
    for (int i = 1; i < argc; ++i) {
        lua_pushstring(L, qel::WideToUtf8(argv[i], wcslen(argv[i])).c_str());
        lua_rawseti(L, -2, i - 1);
    }
    lua_setglobal(L, "arg");
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        fwprintf(stderr, L"usage: qelscripthost SCRIPT.lua [ARGS...]\n");
        return 1;
    }
    std::vector<char> chunk;
    if (!ReadFileBytes(argv[1], chunk)) {
        fwprintf(stderr, L"cannot read %ls\n", argv[1]);
        return 1;
    }
    QELScriptEngine& engine = QELScriptEngine::Instance();
    SetArgTable(engine.GetState(), argc, argv);
    const std::string name = "@" + qel::WideToAnsi(argv[1], wcslen(argv[1]));
    return engine.RunChunk(chunk.data(), chunk.size(), name.c_str()) ? 0 : 1;
}
