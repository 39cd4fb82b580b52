// qeltest_launcher: runs a program under the debug API and writes a transcript of what it did.
//
//   qeltest_launcher --transcript FILE [--answers LIST] [--listen] [--timeout SECONDS]
//                    [--args "COMMAND TAIL"] PROGRAM
//
// Transcript (UTF-8, one record a line; in values \\ \r \n \t stand for themselves):
//   debug: TEXT                       each debug line, decoded from the ANSI code page
//   msgbox: STYLE\tTITLE\tTEXT       each MessageBoxW call (style in hex), read from its arguments
//   answer: ID                        the button pressed on that box (from --answers, in order;
//                                     when the list is used up, the box's default button)
//   message: MSG WPARAM LPARAM        each message >= WM_USER the listener window received
//   timeout                           the program was ended after --timeout seconds
//   exit: CODE                        the program's exit code
// With --listen the command tail gets " /InstallListenWnd <decimal handle of the listener>".

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

std::mutex g_transcriptLock;
FILE* g_transcript = nullptr;

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Escape(const std::wstring& text)
{
    std::wstring out;
    for (wchar_t c : text) {
        switch (c) {
        case L'\\': out += L"\\\\"; break;
        case L'\r': out += L"\\r"; break;
        case L'\n': out += L"\\n"; break;
        case L'\t': out += L"\\t"; break;
        default: out += c;
        }
    }
    return out;
}

void Record(const std::wstring& line)
{
    std::lock_guard<std::mutex> lock(g_transcriptLock);
    const std::string utf8 = ToUtf8(line);
    fwrite(utf8.data(), 1, utf8.size(), g_transcript);
    fputc('\n', g_transcript);
    fflush(g_transcript);
}

struct Options {
    std::wstring transcript;
    std::vector<int> answers;
    bool listen = false;
    DWORD timeoutSeconds = 300;
    std::wstring arguments;
    std::wstring program;
};

int ButtonId(const std::wstring& name)
{
    static const std::map<std::wstring, int> names = {
        {L"ok", IDOK}, {L"cancel", IDCANCEL}, {L"abort", IDABORT}, {L"retry", IDRETRY},
        {L"ignore", IDIGNORE}, {L"yes", IDYES}, {L"no", IDNO},
    };
    const auto found = names.find(name);
    return found != names.end() ? found->second : _wtoi(name.c_str());
}

std::vector<int> ParseAnswers(const std::wstring& list)
{
    std::vector<int> answers;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = list.find(L',', start);
        const std::wstring item = list.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
        if (!item.empty())
            answers.push_back(ButtonId(item));
        if (comma == std::wstring::npos)
            break;
        start = comma + 1;
    }
    return answers;
}

bool ParseOptions(int argc, wchar_t** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == L"--transcript" && hasValue)
            options.transcript = argv[++i];
        else if (arg == L"--answers" && hasValue)
            options.answers = ParseAnswers(argv[++i]);
        else if (arg == L"--listen")
            options.listen = true;
        else if (arg == L"--timeout" && hasValue)
            options.timeoutSeconds = wcstoul(argv[++i], nullptr, 10);
        else if (arg == L"--args" && hasValue)
            options.arguments = argv[++i];
        else if (options.program.empty())
            options.program = arg;
        else
            return false;
    }
    return !options.transcript.empty() && !options.program.empty();
}

// --- listener window -------------------------------------------------------------------------

LRESULT CALLBACK ListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_USER) {
        wchar_t line[96];
        swprintf(line, 96, L"message: %u %lu %ld", message, static_cast<unsigned long>(wParam), static_cast<long>(lParam));
        Record(line);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND StartListener()
{
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HWND window = nullptr;
    std::thread([&window, ready] {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = ListenerProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"QelTestListener";
        RegisterClassW(&wc);
        HWND created = CreateWindowExW(0, wc.lpszClassName, L"listener", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        window = created;
        SetEvent(ready);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0)
            DispatchMessageW(&msg);
    }).detach();
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
    return window;
}

// --- message boxes ---------------------------------------------------------------------------

struct BoxAnswerer {
    DWORD processId = 0;
    std::vector<int> answers;
    size_t next = 0;
    std::set<HWND> answered;
    volatile bool stop = false;
};

struct FindBoxes {
    BoxAnswerer* answerer;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM param)
{
    FindBoxes* find = reinterpret_cast<FindBoxes*>(param);
    wchar_t cls[16] = {};
    GetClassNameW(window, cls, 16);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (wcscmp(cls, L"#32770") == 0 && pid == find->answerer->processId && IsWindowVisible(window))
        find->found.push_back(window);
    return TRUE;
}

void AnswerBox(BoxAnswerer& answerer, HWND box)
{
    int id = 0;
    if (answerer.next < answerer.answers.size()) {
        id = answerer.answers[answerer.next++];
    } else {
        const LRESULT def = SendMessageW(box, DM_GETDEFID, 0, 0);
        id = HIWORD(def) == DC_HASDEFID ? LOWORD(def) : IDOK;
    }
    Record(L"answer: " + std::to_wstring(id));
    HWND button = GetDlgItem(box, id);
    if (button != nullptr)
        PostMessageW(button, BM_CLICK, 0, 0);
    else
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

void WatchBoxes(BoxAnswerer* answerer)
{
    while (!answerer->stop) {
        Sleep(100);
        FindBoxes find = {answerer, {}};
        EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&find));
        for (HWND box : find.found) {
            if (answerer->answered.insert(box).second) {
                Sleep(200);  // let the box finish building its buttons
                AnswerBox(*answerer, box);
            }
        }
    }
}

// --- debugging -------------------------------------------------------------------------------

enum class Prologue { None, MovEdiEdi, LeaEcxEspPlus4, PushEbp };

struct Debuggee {
    HANDLE process = nullptr;
    std::map<DWORD, HANDLE> threads;
    DWORD_PTR messageBoxAddress = 0;  // breakpoint on MessageBoxW, 0 when not set
    Prologue prologue = Prologue::None;
};

std::wstring ReadRemoteText(HANDLE process, DWORD_PTR address)
{
    std::wstring text;
    if (address == 0)
        return text;
    wchar_t chunk[256];
    for (int round = 0; round < 256; ++round) {
        SIZE_T read = 0;
        if (!ReadProcessMemory(process, reinterpret_cast<void*>(address), chunk, sizeof chunk, &read) || read < sizeof(wchar_t))
            break;
        const size_t count = read / sizeof(wchar_t);
        for (size_t i = 0; i < count; ++i) {
            if (chunk[i] == L'\0')
                return text;
            text += chunk[i];
        }
        address += read;
    }
    return text;
}

// The breakpoint on MessageBoxW's first instruction is never removed: when it is hit, that one
// instruction is carried out here and the thread goes on after it. These are the prologues seen
// in Wine's and Windows' user32.
Prologue RecognisePrologue(const unsigned char* code)
{
    if (code[0] == 0x8B && code[1] == 0xFF)
        return Prologue::MovEdiEdi;
    if (code[0] == 0x8D && code[1] == 0x4C && code[2] == 0x24 && code[3] == 0x04)
        return Prologue::LeaEcxEspPlus4;
    if (code[0] == 0x55)
        return Prologue::PushEbp;
    return Prologue::None;
}

void SetMessageBoxBreakpoint(Debuggee& debuggee, DWORD_PTR remoteUser32)
{
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    const DWORD_PTR local = reinterpret_cast<DWORD_PTR>(GetProcAddress(user32, "MessageBoxW"));
    const DWORD_PTR address = local - reinterpret_cast<DWORD_PTR>(user32) + remoteUser32;
    unsigned char code[4] = {};
    SIZE_T read = 0;
    if (!ReadProcessMemory(debuggee.process, reinterpret_cast<void*>(address), code, sizeof code, &read) || read != sizeof code ||
        (debuggee.prologue = RecognisePrologue(code)) == Prologue::None) {
        Record(L"note: unknown MessageBoxW prologue; boxes are answered but not read");
        return;
    }
    const unsigned char breakpoint = 0xCC;
    SIZE_T written = 0;
    if (WriteProcessMemory(debuggee.process, reinterpret_cast<void*>(address), &breakpoint, 1, &written) && written == 1) {
        FlushInstructionCache(debuggee.process, reinterpret_cast<void*>(address), sizeof code);
        debuggee.messageBoxAddress = address;
    }
}

void StepOverPrologue(Debuggee& debuggee, CONTEXT& context)
{
    const DWORD start = static_cast<DWORD>(debuggee.messageBoxAddress);
    switch (debuggee.prologue) {
    case Prologue::MovEdiEdi:
        context.Eip = start + 2;
        break;
    case Prologue::LeaEcxEspPlus4:
        context.Ecx = context.Esp + 4;
        context.Eip = start + 4;
        break;
    case Prologue::PushEbp: {
        context.Esp -= 4;
        SIZE_T written = 0;
        WriteProcessMemory(debuggee.process, reinterpret_cast<void*>(static_cast<DWORD_PTR>(context.Esp)), &context.Ebp, 4, &written);
        context.Eip = start + 1;
        break;
    }
    case Prologue::None:
        break;
    }
}

bool IsUser32(HANDLE file, DWORD_PTR base)
{
    if (base == reinterpret_cast<DWORD_PTR>(GetModuleHandleW(L"user32.dll")))
        return true;
    wchar_t path[MAX_PATH] = {};
    if (file == nullptr || GetFinalPathNameByHandleW(file, path, MAX_PATH, 0) == 0)
        return false;
    const wchar_t* name = wcsrchr(path, L'\\');
    return name != nullptr && _wcsicmp(name + 1, L"user32.dll") == 0;
}

void RecordMessageBox(Debuggee& debuggee, DWORD threadId)
{
    HANDLE thread = debuggee.threads[threadId];
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_FULL;
    if (!GetThreadContext(thread, &context))
        return;
    DWORD args[5] = {};
    SIZE_T read = 0;
    ReadProcessMemory(debuggee.process, reinterpret_cast<void*>(static_cast<DWORD_PTR>(context.Esp)), args, sizeof args, &read);
    const std::wstring text = ReadRemoteText(debuggee.process, args[2]);
    const std::wstring title = ReadRemoteText(debuggee.process, args[3]);
    wchar_t style[16];
    swprintf(style, 16, L"0x%lx", static_cast<unsigned long>(args[4]));
    Record(std::wstring(L"msgbox: ") + style + L"\t" + Escape(title) + L"\t" + Escape(text));
    StepOverPrologue(debuggee, context);
    SetThreadContext(thread, &context);
}

void RecordDebugString(const Debuggee& debuggee, const OUTPUT_DEBUG_STRING_INFO& info)
{
    const size_t bytes = info.fUnicode ? info.nDebugStringLength * 2u : info.nDebugStringLength;
    std::vector<char> buffer(bytes + 2, '\0');
    SIZE_T read = 0;
    ReadProcessMemory(debuggee.process, info.lpDebugStringData, buffer.data(), bytes, &read);
    std::wstring text;
    if (info.fUnicode) {
        text.assign(reinterpret_cast<const wchar_t*>(buffer.data()), read / 2);
    } else {
        const int n = MultiByteToWideChar(CP_ACP, 0, buffer.data(), static_cast<int>(read), nullptr, 0);
        text.assign(static_cast<size_t>(n), L'\0');
        MultiByteToWideChar(CP_ACP, 0, buffer.data(), static_cast<int>(read), &text[0], n);
    }
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    Record(L"debug: " + Escape(text));
}

DWORD RunDebugLoop(Debuggee& debuggee, const PROCESS_INFORMATION& pi, DWORD timeoutSeconds, bool& timedOut)
{
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutSeconds) * 1000;
    debuggee.threads[pi.dwThreadId] = pi.hThread;
    for (;;) {
        DEBUG_EVENT event = {};
        if (!WaitForDebugEvent(&event, 500)) {
            if (GetTickCount64() > deadline && !timedOut) {
                timedOut = true;
                TerminateProcess(debuggee.process, 259);
            }
            continue;
        }
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile != nullptr)
                CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case CREATE_THREAD_DEBUG_EVENT:
            debuggee.threads[event.dwThreadId] = event.u.CreateThread.hThread;
            break;
        case EXIT_THREAD_DEBUG_EVENT:
            debuggee.threads.erase(event.dwThreadId);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (debuggee.messageBoxAddress == 0 && IsUser32(event.u.LoadDll.hFile, reinterpret_cast<DWORD_PTR>(event.u.LoadDll.lpBaseOfDll)))
                SetMessageBoxBreakpoint(debuggee, reinterpret_cast<DWORD_PTR>(event.u.LoadDll.lpBaseOfDll));
            if (event.u.LoadDll.hFile != nullptr)
                CloseHandle(event.u.LoadDll.hFile);
            break;
        case OUTPUT_DEBUG_STRING_EVENT:
            RecordDebugString(debuggee, event.u.DebugString);
            break;
        case EXCEPTION_DEBUG_EVENT: {
            const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
            const DWORD_PTR where = reinterpret_cast<DWORD_PTR>(record.ExceptionAddress);
            if (record.ExceptionCode == EXCEPTION_BREAKPOINT) {
                // Windows reports the breakpoint's own address, Wine under emulation the next one.
                const bool atMessageBox = debuggee.messageBoxAddress != 0 &&
                                          (where == debuggee.messageBoxAddress || where == debuggee.messageBoxAddress + 1);
                if (atMessageBox)
                    RecordMessageBox(debuggee, event.dwThreadId);
            } else {
                status = DBG_EXCEPTION_NOT_HANDLED;
            }
            break;
        }
        case EXIT_PROCESS_DEBUG_EVENT:
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
            return event.u.ExitProcess.dwExitCode;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        fwprintf(stderr, L"usage: qeltest_launcher --transcript FILE [--answers LIST] [--listen] [--timeout S] [--args TAIL] PROGRAM\n");
        return 2;
    }
    g_transcript = _wfopen(options.transcript.c_str(), L"wb");
    if (g_transcript == nullptr)
        return 3;

    std::wstring commandLine = L"\"" + options.program + L"\"";
    if (!options.arguments.empty())
        commandLine += L" " + options.arguments;
    if (options.listen) {
        HWND listener = StartListener();
        commandLine += L" /InstallListenWnd " + std::to_wstring(reinterpret_cast<ULONG_PTR>(listener));
    }

    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    if (!CreateProcessW(options.program.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                        nullptr, nullptr, &si, &pi)) {
        Record(L"error: CreateProcessW failed " + std::to_wstring(GetLastError()));
        fclose(g_transcript);
        return 4;
    }

    BoxAnswerer answerer;
    answerer.processId = pi.dwProcessId;
    answerer.answers = options.answers;
    std::thread watcher(WatchBoxes, &answerer);

    Debuggee debuggee;
    debuggee.process = pi.hProcess;
    bool timedOut = false;
    const DWORD exitCode = RunDebugLoop(debuggee, pi, options.timeoutSeconds, timedOut);
    answerer.stop = true;
    watcher.join();
    if (timedOut)
        Record(L"timeout");
    Record(L"exit: " + std::to_wstring(exitCode));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    fclose(g_transcript);
    return 0;
}
