#pragma once

#include <windows.h>

#include <string>

namespace qel {

constexpr size_t kMutexNameChars = 260;

// The single-instance mutex name: a non-empty configured name is used unchanged; otherwise the
// built-in name with the application id appended (when it is not 0). False when the name would
// not fit in kMutexNameChars characters (terminator included).
bool BuildInstanceMutexName(const std::wstring& configuredName, long long appId, std::wstring& name);

// Creates the named mutex. Returns a handle only when another instance already holds the name
// (after bringing its window forward); the caller closes it. A mutex this call created stays
// open until the process ends, so the name stays taken.
HANDLE CreateAppInstance(const std::wstring& configuredName, long long appId);

}  // namespace qel
