#pragma once

#include "StatExports.h"
#include "ThreadPool.h"

#include "../base/Handles.h"
#include "../base/SingleT.h"

#include <windows.h>

#include <string>

namespace qel {

// The installer's side of the statistics library: loads kvstat.dll from the installer's folder,
// configures it, reports the chosen options from its own worker thread and closes it.
class NvStatModule : public ThreadPoolImpl, public CSingleT<NvStatModule>
{
public:
    // Returns the library's stat_init answer; false when the library could not be loaded.
    bool Start(const std::wstring& registryKey, const std::wstring& dispatchHost, const std::wstring& dataFileName);
    // Queues one action report; true when it was queued.
    bool PostAction(int action);
    void Shutdown();

private:
    friend class CSingleT<NvStatModule>;
    NvStatModule() = default;
    // Stops the worker before the library goes, should the process end without Shutdown.
    ~NvStatModule() override { Stop(); }

    void BindExports();
    int ReadChannelNumber() const;
    void ReportAction(int action);
    bool AppendActionToDataFile(int action);

    StatExportTable m_exports;
    CModule m_library;
    int m_appId = 0;
    std::wstring m_registryKey;
    std::wstring m_dispatchHost;
    std::wstring m_dataFilePath;
};

// Folder for the module's local files, ending in a backslash: the local application data folder
// (else the roaming one, else the temporary folder) with subFolder appended; created when missing.
std::wstring GetStatDataFolder(const std::wstring& subFolder);
// The folder of the running executable, ending in a backslash.
std::wstring GetModuleFolder();
bool ReadOwnFileVersion(HMODULE module, VS_FIXEDFILEINFO& info);

}  // namespace qel
