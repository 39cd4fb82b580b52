#include "GdiPlusSession.h"

#include "../utility/base/DebugOutput.h"

#include <windows.h>
#include <gdiplus.h>

#include <cstdlib>
#include <mutex>

namespace qel {

namespace {

ULONG_PTR g_gdiplusToken = 0;

void ShutdownGdiPlus() { Gdiplus::GdiplusShutdown(g_gdiplusToken); }

}  // namespace

void StartGdiPlusOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Gdiplus::GdiplusStartupInput input;
        if (Gdiplus::GdiplusStartup(&g_gdiplusToken, &input, nullptr) != Gdiplus::Ok) {
            XM_LOG(L"GdiplusStartup failed\r\n");
            return;
        }
        std::atexit(ShutdownGdiPlus);
    });
}

}  // namespace qel
