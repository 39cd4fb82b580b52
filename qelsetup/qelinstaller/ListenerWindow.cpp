#include "ListenerWindow.h"

#include <atomic>

namespace qel {

namespace {

std::atomic<unsigned long> g_listenerWindow{0};

}  // namespace

void SetListenerWindow(unsigned long handle) { g_listenerWindow = handle; }

HWND GetListenerWindow() { return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(g_listenerWindow.load())); }

void NotifyListenerInstallFinished() { SendMessageW(GetListenerWindow(), kInstallFinishedMessage, 0, 0); }

}  // namespace qel
