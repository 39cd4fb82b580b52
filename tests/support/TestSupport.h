#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace qeltest {

// The folder of the running test program; the installers and harness tools are built beside it.
std::wstring BinDir();
std::wstring BinPath(const std::wstring& name);

std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

struct MessageBoxRecord {
    unsigned style = 0;
    std::wstring title;
    std::wstring text;
    int answer = 0;
};

struct ListenerMessage {
    unsigned message = 0;
    unsigned long wParam = 0;
    long lParam = 0;
};

// What qeltest_launcher saw of one run.
struct Transcript {
    std::vector<std::wstring> debugLines;
    std::vector<MessageBoxRecord> boxes;
    std::vector<ListenerMessage> messages;
    bool timedOut = false;
    bool exited = false;
    unsigned long exitCode = 0;
    std::wstring raw;

    bool HasLine(const std::wstring& line) const;
    // Index of the first debug line equal to line, or -1.
    int IndexOf(const std::wstring& line) const;
    int CountMessages(unsigned message) const;
};

struct LaunchRequest {
    std::wstring program;             // full path
    std::wstring arguments;           // command tail, passed as it is
    std::vector<std::wstring> answers;  // buttons for the message boxes, in order ("ok", "retry", ...)
    bool listen = true;               // append /InstallListenWnd with the launcher's listener
    unsigned timeoutSeconds = 600;
    std::vector<std::pair<std::wstring, std::wstring>> environment;  // set for the run only
};

Transcript Launch(const LaunchRequest& request);

// One argument as CommandLineToArgvW reads it back (quoted only when it has to be).
std::wstring QuoteArgument(const std::wstring& argument);

// The target of a shell link read through IShellLinkW (the caller has COM up), and its arguments.
std::wstring ReadShortcut(const std::wstring& link, std::wstring* arguments = nullptr);
Transcript ParseTranscript(const std::wstring& text);

// A fresh folder under the temporary folder, removed with everything in it at the end.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& Path() const { return m_path; }
    std::wstring File(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

bool WriteTextFile(const std::wstring& path, const std::string& utf8);
bool ReadTextFile(const std::wstring& path, std::string& utf8);
bool FileExists(const std::wstring& path);
void RemoveTree(const std::wstring& path);

// Collects the debug lines this process writes while it lives (the DBWIN channel that every
// program without a debugger writes to), so in-process tests can check exact lines.
class DebugCapture
{
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    // The lines written so far by this process, every one that was written before the call.
    std::vector<std::wstring> Lines();

private:
    struct State;
    State* m_state;
};

}  // namespace qeltest
