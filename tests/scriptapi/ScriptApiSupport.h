#pragma once

#include "support/TestSupport.h"

#include <string>
#include <vector>

// Runs script API calls in the installer's own engine (qelscripthost with call.lua) and reads
// what they did back through independent means.
namespace qeltest {

// One call: the function's name and its arguments, each made with the helpers below.
struct ApiCall {
    std::wstring function;
    std::vector<std::wstring> args;
};

// Text travels hex-encoded, so spaces and quotes reach the script unchanged.
std::wstring Text(const std::wstring& text);
inline std::wstring Number(double value)
{
    wchar_t buffer[64];
    swprintf(buffer, 64, L"n:%.17g", value);
    return buffer;
}
const wchar_t kNil[] = L"nil";
const wchar_t kTrue[] = L"true";
const wchar_t kFalse[] = L"false";
const wchar_t kLoggingCallback[] = L"f:log";

// Runs the calls one after another in one script host process.
Transcript RunCalls(const std::vector<ApiCall>& calls, const std::vector<std::wstring>& answers = {});

// Result k (from 1) of call c (from 1) as "type:value", or "<none>" when it was not logged.
std::wstring Result(const Transcript& t, int call, int k = 1);
int ResultCount(const Transcript& t, int call);

// Runs a command line in this prefix and returns what it wrote (console output, ANSI).
std::string RunCapture(const std::wstring& commandLine, unsigned long* exitCode = nullptr);


// Whether a directory exists at the path.
bool IsDirectory(const std::wstring& path);

}  // namespace qeltest
