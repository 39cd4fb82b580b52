#include "TextConvert.h"

#include <windows.h>

#include <climits>

namespace qel {

namespace {

std::wstring ToWide(UINT codePage, const char* text, size_t length)
{
    if (text == nullptr || length == 0 || length > INT_MAX)
        return std::wstring();
    const int count = MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), nullptr, 0);
    if (count <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), &wide[0], count);
    return wide;
}

std::string ToNarrow(UINT codePage, const wchar_t* text, size_t length)
{
    if (text == nullptr || length == 0 || length > INT_MAX)
        return std::string();
    const int count = WideCharToMultiByte(codePage, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (count <= 0)
        return std::string();
    std::string narrow(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(codePage, 0, text, static_cast<int>(length), &narrow[0], count, nullptr, nullptr);
    return narrow;
}

}  // namespace

std::wstring Utf8ToWide(const char* text, size_t length) { return ToWide(CP_UTF8, text, length); }
std::wstring Utf8ToWide(const std::string& text) { return ToWide(CP_UTF8, text.data(), text.size()); }
std::string WideToUtf8(const wchar_t* text, size_t length) { return ToNarrow(CP_UTF8, text, length); }
std::string WideToUtf8(const std::wstring& text) { return ToNarrow(CP_UTF8, text.data(), text.size()); }

std::wstring AnsiToWide(const char* text, size_t length) { return ToWide(CP_THREAD_ACP, text, length); }
std::wstring AnsiToWide(const std::string& text) { return ToWide(CP_THREAD_ACP, text.data(), text.size()); }
std::string WideToAnsi(const wchar_t* text, size_t length) { return ToNarrow(CP_THREAD_ACP, text, length); }
std::string WideToAnsi(const std::wstring& text) { return ToNarrow(CP_THREAD_ACP, text.data(), text.size()); }

}  // namespace qel
