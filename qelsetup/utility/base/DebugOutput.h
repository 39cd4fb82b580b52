#pragma once

#include <cstdarg>
#include <cstddef>

// The program's one log: every diagnostic is a single OutputDebugStringW line of at most
// 1,024 wide characters, "xm " followed by at most 1,020 characters of formatted text.
namespace qel {

constexpr size_t kDebugLineChars = 1024;
constexpr size_t kDebugTextChars = 1020;

// Formats "xm " + text into line (kDebugLineChars). Text that does not fit is cut after
// kDebugTextChars characters (never inside a surrogate pair). Returns false when it was cut.
bool FormatDebugLine(wchar_t (&line)[kDebugLineChars], const wchar_t* format, va_list args);

void DebugLog(const wchar_t* format, ...);

// A failed system call: three lines, message + "xm file:", message + "xm line:",
// message + "xm err:" with GetLastError() as it was when the report started.
void DebugFailure(const wchar_t* message, const wchar_t* file, int line);

}  // namespace qel

#define QEL_WIDEN2(x) L##x
#define QEL_WIDEN(x) QEL_WIDEN2(x)

#define XM_LOG(...) ::qel::DebugLog(__VA_ARGS__)
#define XM_FAILURE(message) ::qel::DebugFailure((message), QEL_WIDEN(__FILE__), __LINE__)
// The variant for a message that was already written as its own line: only the three tails.
#define XM_FAILURE_TAILS() ::qel::DebugFailure(L"", QEL_WIDEN(__FILE__), __LINE__)
