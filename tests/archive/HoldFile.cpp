// qeltest_holdfile PATH EVENT: opens PATH with no sharing, sets the named event EVENT, and keeps
// the file open until it is ended, so that nobody else can create or open that file meanwhile.
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return 2;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
    if (ready == nullptr)
        return 1;
    SetEvent(ready);
    Sleep(INFINITE);
    return 0;
}
