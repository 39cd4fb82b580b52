// qeltest_stathost.exe [/data NAME] ACTION...: runs the statistics module as the interactive
// run does (Start with "SOFTWARE\Navolo" and the dispatch host, the actions posted one after
// another, Shutdown once they have run) and writes what it got back as debug lines.
#include "utility/base/DebugOutput.h"
#include "utility/stat/NvStatModule.h"
#include "utility/stat/StatSettings.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>
#include <thread>

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring dataFile;
    int first = 1;
    if (argc > 2 && std::wcscmp(argv[1], L"/data") == 0) {
        dataFile = argv[2];
        first = 3;
    }
    qel::NvStatModule& module = qel::NvStatModule::Instance();
    XM_LOG(L"stathost start=%d\r\n", module.Start(L"SOFTWARE\\Navolo", qel::kStatDispatchHost, dataFile) ? 1 : 0);
    for (int i = first; i < argc; ++i)
        XM_LOG(L"stathost posted=%d\r\n", module.PostAction(std::wcstol(argv[i], nullptr, 10)) ? 1 : 0);
    for (int i = 0; i < 6000 && module.HasPendingTasks(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    module.Shutdown();
    XM_LOG(L"stathost done\r\n");
    LocalFree(argv);
    return 0;
}
