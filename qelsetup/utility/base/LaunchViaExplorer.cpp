#include "LaunchViaExplorer.h"

#include "TextConvert.h"

namespace qel {

UINT LaunchViaExplorer(const std::wstring& target, const std::wstring& parameters)
{
    const std::wstring command = L"explorer.exe \"" + target + L"\" \"" + parameters + L"\"";
    return WinExec(WideToAnsi(command).c_str(), SW_SHOWNORMAL);
}

}  // namespace qel
