// qeltest_recorder: a program for the process tests to start, find and end. It appends what it
// saw to "<its own path>.txt" (UTF-8), so a copy under another name keeps its own record:
//   cmd=<command line>  cwd=<working folder>  show=<show state asked of it, or -1>   at start
//   message=<msg> <wParam> <lParam>                        for each message its window gets
// With "/stay" anywhere on its command line it opens a top-level window whose class and title
// are its file name without ".exe" and runs until the window is closed, a message from WM_USER
// up arrives, or 60 seconds pass; otherwise it ends at once.

#include <windows.h>

#include <string>

namespace {

std::wstring g_recordPath;

void Record(const std::wstring& line)
{
    const std::wstring text = line + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], size, nullptr, nullptr);
    HANDLE file = CreateFileW(g_recordPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    CloseHandle(file);
}

void RecordMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    Record(L"message=" + std::to_wstring(message) + L" " + std::to_wstring(wParam) + L" " + std::to_wstring(lParam));
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SYSCOMMAND:
    case WM_CLOSE:
    case WM_QUERYENDSESSION:
    case WM_ENDSESSION:
        RecordMessage(message, wParam, lParam);
        break;
    case WM_TIMER:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        if (message >= WM_USER) {
            RecordMessage(message, wParam, lParam);
            DestroyWindow(window);
            return 0;
        }
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

std::wstring BaseName(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

void Stay(HINSTANCE instance, const std::wstring& name)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = name.c_str();
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, name.c_str(), name.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
        return;
    SetTimer(window, 1, 60000, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    g_recordPath = std::wstring(path) + L".txt";
    wchar_t folder[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, folder);
    const std::wstring commandLine = GetCommandLineW();
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : -1;
    Record(L"cmd=" + commandLine + L"\ncwd=" + folder + L"\nshow=" + std::to_wstring(show));
    if (commandLine.find(L"/stay") != std::wstring::npos)
        Stay(instance, BaseName(path));
    return 0;
}
