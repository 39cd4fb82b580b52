#include "NvStatModule.h"

#include "../base/TextConvert.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <vector>

namespace qel {

namespace {

const int kAppId = 108;
const int kDefaultChannel = 4003;
const int kLowestChannel = 100;
const int kDispatchPort = 8700;

template <class Fn>
void Bind(HMODULE library, const char* name, Fn& entry)
{
    entry = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

}  // namespace

std::wstring GetModuleFolder()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    PathRemoveFileSpecW(path);
    PathAddBackslashW(path);
    return path;
}

std::wstring GetStatDataFolder(const std::wstring& subFolder)
{
    wchar_t path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, path, CSIDL_LOCAL_APPDATA, FALSE) &&
        !SHGetSpecialFolderPathW(nullptr, path, CSIDL_APPDATA, FALSE)) {
        const DWORD length = GetTempPathW(MAX_PATH, path);
        if (length == 0 || length >= MAX_PATH)
            return std::wstring();
    }
    if (!subFolder.empty() && !PathAppendW(path, subFolder.c_str()))
        return std::wstring();
    if (!PathAddBackslashW(path))
        return std::wstring();
    if (!PathFileExistsW(path))
        SHCreateDirectoryExW(nullptr, path, nullptr);
    return path;
}

bool ReadOwnFileVersion(HMODULE module, VS_FIXEDFILEINFO& info)
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &handle);
    if (size == 0)
        return false;
    std::vector<BYTE> block(size * 2 + 2);
    if (!GetFileVersionInfoW(path, 0, static_cast<DWORD>(block.size()), block.data()))
        return false;
    void* fixed = nullptr;
    UINT fixedSize = 0;
    if (!VerQueryValueW(block.data(), L"\\", &fixed, &fixedSize) || fixed == nullptr || fixedSize < sizeof(info))
        return false;
    info = *static_cast<const VS_FIXEDFILEINFO*>(fixed);
    return true;
}

bool NvStatModule::Start(const std::wstring& registryKey, const std::wstring& dispatchHost, const std::wstring& dataFileName)
{
    m_appId = kAppId;
    m_registryKey = registryKey;
    m_dispatchHost = dispatchHost;
    ThreadPoolImpl::Start();

    const std::wstring path = GetModuleFolder() + L"kvstat.dll";
    m_library.Reset(LoadLibraryW(path.c_str()));
    if (!m_library)
        return false;
    BindExports();

    const int channel = ReadChannelNumber();
    if (m_exports.stat_appid)
        m_exports.stat_appid(static_cast<uint8_t>(m_appId));
    if (m_exports.stat_unionid)
        m_exports.stat_unionid(channel);

    VS_FIXEDFILEINFO version = {};
    if (!ReadOwnFileVersion(GetModuleHandleW(nullptr), version)) {
        version.dwFileVersionMS = MAKELONG(0, 1);
        version.dwFileVersionLS = MAKELONG(1, 0);
    }
    if (m_exports.stat_version_ex)
        m_exports.stat_version_ex(HIWORD(version.dwFileVersionMS), LOWORD(version.dwFileVersionMS),
                                  HIWORD(version.dwFileVersionLS), LOWORD(version.dwFileVersionLS));

    const std::string host = WideToAnsi(m_dispatchHost);
    if (m_exports.stat_dispatch_addr)
        m_exports.stat_dispatch_addr(host.c_str(), kDispatchPort);

    if (!dataFileName.empty())
        m_dataFilePath = GetStatDataFolder(L"RuZiruded\\data") + dataFileName;

    return m_exports.stat_init ? m_exports.stat_init() : false;
}

void NvStatModule::BindExports()
{
    HMODULE library = m_library.Get();
    Bind(library, "stat_init", m_exports.stat_init);
    Bind(library, "stat_proxy", m_exports.stat_proxy);
    Bind(library, "stat_dispatch_addr", m_exports.stat_dispatch_addr);
    Bind(library, "stat_online_addr", m_exports.stat_online_addr);
    Bind(library, "stat_action_addr", m_exports.stat_action_addr);
    Bind(library, "stat_install_addr", m_exports.stat_install_addr);
    Bind(library, "stat_loginout_addr", m_exports.stat_loginout_addr);
    Bind(library, "stat_unionid", m_exports.stat_unionid);
    Bind(library, "stat_appid", m_exports.stat_appid);
    Bind(library, "stat_level", m_exports.stat_level);
    Bind(library, "stat_version", m_exports.stat_version);
    Bind(library, "stat_version_ex", m_exports.stat_version_ex);
    Bind(library, "stat_online", m_exports.stat_online);
    Bind(library, "stat_offline", m_exports.stat_offline);
    Bind(library, "stat_action", m_exports.stat_action);
    Bind(library, "stat_mutilaction", m_exports.stat_mutilaction);
    Bind(library, "stat_install", m_exports.stat_install);
    Bind(library, "stat_close", m_exports.stat_close);
    Bind(library, "stat_app_install", m_exports.stat_app_install);
    Bind(library, "stat_http_post", m_exports.stat_http_post);
}

int NvStatModule::ReadChannelNumber() const
{
    CRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, m_registryKey.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return kDefaultChannel;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExW(key.Get(), L"UnionId", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
        return kDefaultChannel;
    const int channel = static_cast<int>(value);
    return channel < kLowestChannel ? kDefaultChannel : channel;
}

bool NvStatModule::PostAction(int action)
{
    auto task = std::make_shared<EasyTask0>([action, this] { ReportAction(action); });
    task->SetPool(this);
    Post(task);
    return HasPendingTasks();
}

void NvStatModule::ReportAction(int action)
{
    if (!m_dataFilePath.empty() && PathFileExistsW(m_dataFilePath.c_str()))
        AppendActionToDataFile(action);
    const std::vector<int32_t> actions{action};
    if (m_exports.stat_mutilaction)
        m_exports.stat_mutilaction(actions.data(), static_cast<int32_t>(actions.size()), 0);
}

bool NvStatModule::AppendActionToDataFile(int action)
{
    if (m_dataFilePath.empty() || !PathFileExistsW(m_dataFilePath.c_str()))
        return false;
    char text[16];
    const int length = std::snprintf(text, sizeof(text), "%d,\n", action);
    FILE* file = nullptr;
    if (_wfopen_s(&file, m_dataFilePath.c_str(), L"ab+") != 0 || file == nullptr)
        return false;
    std::fwrite(text, 1, static_cast<size_t>(length), file);
    std::fflush(file);
    std::fclose(file);
    return true;
}

void NvStatModule::Shutdown()
{
    Stop();
    if (m_exports.stat_offline)
        m_exports.stat_offline();
    if (m_exports.stat_close)
        m_exports.stat_close();
    m_library.Reset();
    m_exports = StatExportTable();
}

}  // namespace qel
