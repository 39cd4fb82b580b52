#pragma once

#include "../utility/base/SingleT.h"

#include <mutex>

// The one way the installer runs the install script's five events. A recursive mutex around
// every call keeps two events from ever running at once, whichever threads ask.
class CInstallMgr : public CSingleT<CInstallMgr>
{
public:
    virtual ~CInstallMgr() = default;

    void BeforeInit();
    void BeforeInstall();
    void OnInstall();
    void BeforeComplete();
    void AfterComplete();

private:
    friend class CSingleT<CInstallMgr>;
    CInstallMgr() = default;

    void RunEvent(const char* name);

    std::recursive_mutex m_mutex;
};
