#pragma once

#include <windows.h>

namespace qel {

// Message sent to the listener window named by /InstallListenWnd when an install has finished.
constexpr UINT kInstallFinishedMessage = 3014;

void SetListenerWindow(unsigned long handle);
HWND GetListenerWindow();
void NotifyListenerInstallFinished();

}  // namespace qel
