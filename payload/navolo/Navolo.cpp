// Navolo.exe, the product's main program as the installer and its scripts see it: a top-level
// window of class "CDlgSearch" titled "Navolo" that closes on message 3023 (an installer is
// about to replace its files). "-AssociateAll" sets the file associations and ends at once.
// Every start appends one line to the trace file "%LOCALAPPDATA%\Tarvik\Navolo\Navolo.trace":
// "start pid=<pid> cwd=<folder> cmdline=<command line>", so it can be seen how it was started.

#include <windows.h>
#include <shlobj.h>

#include "utility/base/Handles.h"

#include <cwchar>
#include <string>

namespace {

const wchar_t kWindowClass[] = L"CDlgSearch";
const wchar_t kWindowTitle[] = L"Navolo";
const UINT kCloseForInstallMessage = 3023;

std::wstring TracePath()
{
    wchar_t base[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, base)))
        return std::wstring();
    std::wstring folder = std::wstring(base) + L"\\Tarvik";
    CreateDirectoryW(folder.c_str(), nullptr);
    folder += L"\\Navolo";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\Navolo.trace";
}

void AppendTrace(const std::wstring& line)
{
    const std::wstring path = TracePath();
    if (path.empty())
        return;
    qel::CFileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    const std::wstring text = line + L"\r\n";
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(file.Get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

void TraceStart()
{
    wchar_t cwd[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, cwd);
    AppendTrace(L"start pid=" + std::to_wstring(GetCurrentProcessId()) + L" cwd=" + cwd + L" cmdline=" + GetCommandLineW());
}

void SetDefaultValue(const wchar_t* subKey, const std::wstring& value)
{
    qel::CRegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, subKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Put(), nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// The product's own documents open with it: ".nvq" saved searches.
void AssociateFileTypes()
{
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const std::wstring command = L"\"" + std::wstring(exe) + L"\" \"%1\"";
    const wchar_t progId[] = L"Navolo.SavedSearch";
    SetDefaultValue(L"Software\\Classes\\.nvq", progId);
    SetDefaultValue(L"Software\\Classes\\Navolo.SavedSearch\\shell\\open\\command", command);
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kCloseForInstallMessage:
        AppendTrace(L"close message 3023");
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool HasArgument(const wchar_t* name)
{
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    bool found = false;
    for (int i = 1; args != nullptr && i < count && !found; ++i)
        found = _wcsicmp(args[i], name) == 0;
    LocalFree(args);
    return found;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int show)
{
    TraceStart();
    if (HasArgument(L"-AssociateAll")) {
        AssociateFileTypes();
        AppendTrace(L"associated");
        return 0;
    }

    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassW(&wc))
        return 1;
    HWND window = CreateWindowExW(0, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 480, 320,
                                  nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
        return 1;
    // Started with Windows ("/startup system") it stays in the background.
    ShowWindow(window, HasArgument(L"/startup") ? SW_SHOWMINNOACTIVE : show);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    AppendTrace(L"exit");
    return 0;
}
