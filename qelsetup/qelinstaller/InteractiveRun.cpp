#include "InteractiveRun.h"

#include "../utility/base/DebugOutput.h"
#include "../utility/base/Handles.h"

#include <windows.h>

namespace qel {

namespace {

const WORD kSkinPackageId = 249;

struct SkinPackage {
    const void* data = nullptr;
    DWORD size = 0;
};

// The skin package stays mapped for the life of the process; only the handle is released.
bool LoadSkinPackage(SkinPackage& package)
{
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(kSkinPackageId), L"ZIP");
    CResourceHandle loaded(found != nullptr ? LoadResource(nullptr, found) : nullptr);
    if (!loaded) {
        XM_FAILURE(L"Skin package ZIP 249 not found.");
        return false;
    }
    package.data = LockResource(loaded.Get());
    if (package.data == nullptr) {
        XM_FAILURE(L"LockResource failed.");
        return false;
    }
    package.size = SizeofResource(nullptr, found);
    if (package.size == 0) {
        XM_LOG(L"ResSize == 0\r\n");
        return false;
    }
    return true;
}

}  // namespace

void RunInteractive()
{
    SkinPackage skin;
    if (!LoadSkinPackage(skin))
        return;
    XM_LOG(L"installer window is not part of this build; interactive run ends\r\n");
}

}  // namespace qel
