#include "InstallMgr.h"

#include "../utility/qelscriptengine/QELScriptEngine.h"

void CInstallMgr::RunEvent(const char* name)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    QELScriptEngine::Instance().CallEvent(name);
}

void CInstallMgr::BeforeInit() { RunEvent("QELSE_BeforeInit"); }
void CInstallMgr::BeforeInstall() { RunEvent("QELSE_BeforeInstall"); }
void CInstallMgr::OnInstall() { RunEvent("QELSE_OnInstall"); }
void CInstallMgr::BeforeComplete() { RunEvent("QELSE_BeforeComplete"); }
void CInstallMgr::AfterComplete() { RunEvent("QELSE_AfterComplete"); }
