#include "TestSupport.h"

#include "utility/base/Handles.h"

#include <shellapi.h>
#include <shobjidl.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

namespace qeltest {

std::wstring BinDir()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L"\\/"));
}

std::wstring BinPath(const std::wstring& name) { return BinDir() + L"\\" + name; }

std::wstring Utf8ToWide(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

std::string WideToUtf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

bool Transcript::HasLine(const std::wstring& line) const { return IndexOf(line) >= 0; }

int Transcript::IndexOf(const std::wstring& line) const
{
    for (size_t i = 0; i < debugLines.size(); ++i)
        if (debugLines[i] == line)
            return static_cast<int>(i);
    return -1;
}

int Transcript::CountMessages(unsigned message) const
{
    int count = 0;
    for (const ListenerMessage& m : messages)
        count += m.message == message ? 1 : 0;
    return count;
}

namespace {

std::wstring Unescape(const std::wstring& text)
{
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const wchar_t next = text[++i];
        out += next == L'r' ? L'\r' : next == L'n' ? L'\n' : next == L't' ? L'\t' : next;
    }
    return out;
}

std::vector<std::wstring> SplitTabs(const std::wstring& text)
{
    std::vector<std::wstring> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = text.find(L'\t', start);
        fields.push_back(text.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
        if (tab == std::wstring::npos)
            return fields;
        start = tab + 1;
    }
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }


}  // namespace

std::wstring QuoteArgument(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

std::wstring ReadShortcut(const std::wstring& link, std::wstring* arguments)
{
    qel::CComPtr<IShellLinkW> shellLink;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, shellLink.PutVoid())))
        return L"";
    qel::CComPtr<IPersistFile> file;
    if (FAILED(shellLink->QueryInterface(IID_IPersistFile, file.PutVoid())) || FAILED(file->Load(link.c_str(), STGM_READ)))
        return L"";
    wchar_t target[MAX_PATH] = {};
    shellLink->GetPath(target, MAX_PATH, nullptr, 0);
    if (arguments != nullptr) {
        wchar_t args[MAX_PATH] = {};
        shellLink->GetArguments(args, MAX_PATH);
        *arguments = args;
    }
    return target;
}

Transcript ParseTranscript(const std::wstring& text)
{
    Transcript t;
    t.raw = text;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        const std::wstring line = text.substr(start, end - start);
        start = end + 1;
        if (StartsWith(line, L"debug: ")) {
            t.debugLines.push_back(Unescape(line.substr(7)));
        } else if (StartsWith(line, L"msgbox: ")) {
            const std::vector<std::wstring> f = SplitTabs(line.substr(8));
            MessageBoxRecord box;
            box.style = wcstoul(f[0].c_str(), nullptr, 16);
            box.title = f.size() > 1 ? Unescape(f[1]) : L"";
            box.text = f.size() > 2 ? Unescape(f[2]) : L"";
            t.boxes.push_back(box);
        } else if (StartsWith(line, L"answer: ")) {
            if (!t.boxes.empty())
                t.boxes.back().answer = _wtoi(line.c_str() + 8);
        } else if (StartsWith(line, L"message: ")) {
            ListenerMessage m;
            swscanf(line.c_str() + 9, L"%u %lu %ld", &m.message, &m.wParam, &m.lParam);
            t.messages.push_back(m);
        } else if (line == L"timeout") {
            t.timedOut = true;
        } else if (StartsWith(line, L"exit: ")) {
            t.exited = true;
            t.exitCode = wcstoul(line.c_str() + 6, nullptr, 10);
        }
    }
    return t;
}

Transcript Launch(const LaunchRequest& request)
{
    TempDir dir;
    const std::wstring transcriptPath = dir.File(L"transcript.txt");
    std::wstring commandLine = QuoteArgument(BinPath(L"qeltest_launcher.exe")) + L" --transcript " + QuoteArgument(transcriptPath);
    commandLine += L" --timeout " + std::to_wstring(request.timeoutSeconds);
    if (request.listen)
        commandLine += L" --listen";
    if (!request.answers.empty()) {
        std::wstring list;
        for (const std::wstring& answer : request.answers)
            list += (list.empty() ? L"" : L",") + answer;
        commandLine += L" --answers " + list;
    }
    if (!request.arguments.empty())
        commandLine += L" --args " + QuoteArgument(request.arguments);
    commandLine += L" " + QuoteArgument(request.program);

    std::vector<std::pair<std::wstring, std::wstring>> saved;
    for (const auto& variable : request.environment) {
        wchar_t old[4096];
        const DWORD n = GetEnvironmentVariableW(variable.first.c_str(), old, 4096);
        saved.emplace_back(variable.first, n > 0 && n < 4096 ? std::wstring(old, n) : std::wstring(L"\x01"));
        SetEnvironmentVariableW(variable.first.c_str(), variable.second.c_str());
    }

    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    Transcript transcript;
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        std::string utf8;
        ReadTextFile(transcriptPath, utf8);
        transcript = ParseTranscript(Utf8ToWide(utf8));
    }
    for (const auto& variable : saved)
        SetEnvironmentVariableW(variable.first.c_str(), variable.second == L"\x01" ? nullptr : variable.second.c_str());
    return transcript;
}

TempDir::TempDir()
{
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    m_path = std::wstring(temp) + L"qeltest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
    CreateDirectoryW(m_path.c_str(), nullptr);
}

TempDir::~TempDir() { RemoveTree(m_path); }

bool WriteTextFile(const std::wstring& path, const std::string& utf8)
{
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (f == nullptr)
        return false;
    const bool ok = fwrite(utf8.data(), 1, utf8.size(), f) == utf8.size();
    fclose(f);
    return ok;
}

bool ReadTextFile(const std::wstring& path, std::string& utf8)
{
    utf8.clear();
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (f == nullptr)
        return false;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        utf8.append(chunk, n);
    fclose(f);
    return true;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

// --- DBWIN capture ---------------------------------------------------------------------------

struct DebugCapture::State {
    HANDLE readerLock = nullptr;
    HANDLE bufferReady = nullptr;
    HANDLE dataReady = nullptr;
    HANDLE mapping = nullptr;
    const char* view = nullptr;
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::vector<std::wstring> lines;
    std::thread reader;
};

DebugCapture::DebugCapture() : m_state(new State)
{
    State& s = *m_state;
    // One reader of the channel at a time: test programs that run side by side in one prefix
    // would otherwise take each other's lines.
    s.readerLock = CreateMutexW(nullptr, FALSE, L"QelTestDebugCaptureReader");
    if (s.readerLock != nullptr)
        WaitForSingleObject(s.readerLock, INFINITE);
    s.bufferReady = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
    s.dataReady = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
    s.mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER");
    if (s.mapping != nullptr)
        s.view = static_cast<const char*>(MapViewOfFile(s.mapping, FILE_MAP_READ, 0, 0, 4096));
    if (s.bufferReady == nullptr || s.dataReady == nullptr || s.view == nullptr)
        return;
    const DWORD self = GetCurrentProcessId();
    s.reader = std::thread([&s, self] {
        SetEvent(s.bufferReady);
        while (!s.stop) {
            if (WaitForSingleObject(s.dataReady, 100) != WAIT_OBJECT_0)
                continue;
            const DWORD pid = *reinterpret_cast<const DWORD*>(s.view);
            if (pid == self) {
                std::string text(s.view + sizeof(DWORD), strnlen(s.view + sizeof(DWORD), 4096 - sizeof(DWORD)));
                const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
                std::wstring wide(static_cast<size_t>(n), L'\0');
                MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
                std::lock_guard<std::mutex> guard(s.lock);
                s.lines.push_back(wide);
            }
            SetEvent(s.bufferReady);
        }
    });
}

DebugCapture::~DebugCapture()
{
    m_state->stop = true;
    if (m_state->reader.joinable())
        m_state->reader.join();
    if (m_state->view != nullptr)
        UnmapViewOfFile(m_state->view);
    if (m_state->mapping != nullptr)
        CloseHandle(m_state->mapping);
    if (m_state->dataReady != nullptr)
        CloseHandle(m_state->dataReady);
    if (m_state->bufferReady != nullptr)
        CloseHandle(m_state->bufferReady);
    if (m_state->readerLock != nullptr) {
        ReleaseMutex(m_state->readerLock);
        CloseHandle(m_state->readerLock);
    }
    delete m_state;
}

// A marker line of our own marks the end: once the reader has it, every earlier line is in.
std::vector<std::wstring> DebugCapture::Lines()
{
    static const wchar_t kMarker[] = L"\x1fqeltest capture marker\x1f";
    OutputDebugStringW(kMarker);
    for (int i = 0; i < 200; ++i) {
        {
            std::lock_guard<std::mutex> guard(m_state->lock);
            std::vector<std::wstring>& lines = m_state->lines;
            for (size_t at = 0; at < lines.size(); ++at) {
                if (lines[at] == kMarker) {
                    std::vector<std::wstring> before(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(at));
                    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
                    return before;
                }
            }
        }
        Sleep(50);
    }
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->lines;
}

}  // namespace qeltest
