#include "ScriptApiSupport.h"

#include <windows.h>


namespace qeltest {

std::wstring Text(const std::wstring& text)
{
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring token = L"x:";
    for (unsigned char byte : WideToUtf8(text)) {
        token += kDigits[byte >> 4];
        token += kDigits[byte & 15];
    }
    return token;
}

Transcript RunCalls(const std::vector<ApiCall>& calls, const std::vector<std::wstring>& answers)
{
    std::wstring tail = QuoteArgument(BinPath(L"call.lua"));
    for (size_t i = 0; i < calls.size(); ++i) {
        if (i > 0)
            tail += L" ;";
        tail += L" " + calls[i].function;
        for (const std::wstring& arg : calls[i].args)
            tail += L" " + QuoteArgument(arg);
    }
    LaunchRequest request;
    request.program = BinPath(L"qelscripthost.exe");
    request.arguments = tail;
    request.answers = answers;
    request.listen = false;
    request.timeoutSeconds = 120;
    return Launch(request);
}

namespace {

std::wstring LoggedValue(const Transcript& t, const std::wstring& key)
{
    const std::wstring prefix = L"xm " + key + L"=";
    for (const std::wstring& line : t.debugLines)
        if (line.compare(0, prefix.size(), prefix) == 0)
            return line.substr(prefix.size());
    return L"<none>";
}

}  // namespace

std::wstring Result(const Transcript& t, int call, int k)
{
    return LoggedValue(t, std::to_wstring(call) + L"." + std::to_wstring(k));
}

int ResultCount(const Transcript& t, int call)
{
    const std::wstring n = LoggedValue(t, std::to_wstring(call) + L".n");
    return n == L"<none>" ? -1 : std::stoi(n);
}

std::string RunCapture(const std::wstring& commandLine, unsigned long* exitCode)
{
    TempDir dir;
    const std::wstring outputPath = dir.File(L"output.txt");
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW si = {sizeof si};
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = output;
    si.hStdError = output;
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    unsigned long code = ~0ul;
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, 60000);
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(output);
    if (exitCode != nullptr)
        *exitCode = code;
    std::string text;
    ReadTextFile(outputPath, text);
    return text;
}

bool IsDirectory(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace qeltest
