#pragma once

#include <windows.h>

#include <string>

namespace qel {

// Starts target through explorer.exe, so that it runs with the desktop shell's rights:
// WinExec of explorer.exe "<target>" "<parameters>" in the thread's ANSI code page (characters
// without a mapping there are lost). Returns the WinExec result; above 31 means started.
UINT LaunchViaExplorer(const std::wstring& target, const std::wstring& parameters);

}  // namespace qel
