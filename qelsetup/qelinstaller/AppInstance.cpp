#include "AppInstance.h"

#include "../utility/base/DebugOutput.h"

#include <cwchar>

namespace qel {

namespace {

const wchar_t kDefaultMutexName[] = L"Global\\{A043B702-166A-4FB8-9733-E2BC4713F36F}";
const wchar_t kInstallerWindowClass[] = L"CDlgInstall";

void BringOtherInstanceForward()
{
    HWND window = FindWindowW(kInstallerWindowClass, nullptr);
    if (window != nullptr)
        SwitchToThisWindow(window, TRUE);
}

}  // namespace

bool BuildInstanceMutexName(const std::wstring& configuredName, long long appId, std::wstring& name)
{
    const bool configured = !configuredName.empty();
    const wchar_t* base = configured ? configuredName.c_str() : kDefaultMutexName;
    const long long suffix = configured ? 0 : appId;
    wchar_t buffer[kMutexNameChars];
    const int written = suffix != 0 ? _snwprintf(buffer, kMutexNameChars, L"%ls%lld", base, suffix)
                                    : _snwprintf(buffer, kMutexNameChars, L"%ls", base);
    if (written < 0 || static_cast<size_t>(written) >= kMutexNameChars) {
        name.clear();
        return false;
    }
    name.assign(buffer, static_cast<size_t>(written));
    return true;
}

HANDLE CreateAppInstance(const std::wstring& configuredName, long long appId)
{
    std::wstring name;
    if (!BuildInstanceMutexName(configuredName, appId, name)) {
        XM_LOG(L"instance mutex name longer than %u characters, no single-instance guard\r\n",
               static_cast<unsigned>(kMutexNameChars - 1));
        return nullptr;
    }
    XM_LOG(L" szObjectName = %ls ", name.c_str());

    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, TRUE};

    HANDLE mutex = CreateMutexW(&attributes, FALSE, name.c_str());
    if (mutex == nullptr || GetLastError() != ERROR_ALREADY_EXISTS)
        return nullptr;
    BringOtherInstanceForward();
    return mutex;
}

}  // namespace qel
