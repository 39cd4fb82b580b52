#include "DebugOutput.h"

#include <windows.h>

#include <cwchar>

namespace qel {

namespace {

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }

}  // namespace

bool FormatDebugLine(wchar_t (&line)[kDebugLineChars], const wchar_t* format, va_list args)
{
    line[0] = L'x';
    line[1] = L'm';
    line[2] = L' ';
    wchar_t* text = line + 3;
    // The text's slots end one past kDebugTextChars, where its terminator goes.
    const int written = _vsnwprintf(text, kDebugTextChars + 1, format, args);
    if (written >= 0 && static_cast<size_t>(written) <= kDebugTextChars) {
        text[written] = L'\0';
        return true;
    }
    text[kDebugTextChars] = L'\0';
    if (IsHighSurrogate(text[kDebugTextChars - 1]))
        text[kDebugTextChars - 1] = L'\0';
    return false;
}

void DebugLog(const wchar_t* format, ...)
{
    const DWORD savedError = GetLastError();
    wchar_t line[kDebugLineChars];
    va_list args;
    va_start(args, format);
    FormatDebugLine(line, format, args);
    va_end(args);
    OutputDebugStringW(line);
    SetLastError(savedError);
}

void DebugFailure(const wchar_t* message, const wchar_t* file, int line)
{
    const DWORD error = GetLastError();
    DebugLog(L"%lsxm file:%ls\r\n", message, file);
    DebugLog(L"%lsxm line:%d\r\n", message, line);
    DebugLog(L"%lsxm err:%d\r\n", message, static_cast<int>(error));
    SetLastError(error);
}

}  // namespace qel
