#pragma once

#include <string>

// Lua strings are UTF-8; native code is UTF-16. AString objects, chunk names and the script
// error report use the thread's ANSI code page instead.
namespace qel {

std::wstring Utf8ToWide(const char* text, size_t length);
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const wchar_t* text, size_t length);
std::string WideToUtf8(const std::wstring& text);

std::wstring AnsiToWide(const char* text, size_t length);
std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const wchar_t* text, size_t length);
std::string WideToAnsi(const std::wstring& text);

}  // namespace qel
