// kvstat.dll: the statistics library of the product. It keeps the settings it is given, sends
// the install report as one UDP datagram (through udp_kv.dll beside it), posts to the addresses
// it is handed and writes every call with its arguments as one line of its journal (see the
// README for the file and the format).
#include <winsock2.h>
#include <windows.h>

#include <curl/curl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace {

const long kConnectTimeoutMs = 3000;
const long kTransferTimeoutMs = 5000;

struct Settings {
    std::string dispatchHost;
    int dispatchPort = 0;
    std::string installHost;
    int installPort = 0;
    int32_t unionId = 0;
    unsigned appId = 0;
    int32_t level = 0;
    std::string version;
    bool curlReady = false;
};

std::mutex g_lock;
Settings g_settings;

std::wstring OwnFolder()
{
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&OwnFolder), &self))
        return std::wstring();
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::wstring JournalPath()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"KVSTAT_JOURNAL", path, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        return std::wstring(path, length);
    return OwnFolder() + L"kvstat_journal.txt";
}

void WriteJournal(const std::string& line)
{
    const std::string text = line + "\n";
    HANDLE file = CreateFileW(JournalPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

// A text as one journal token: in double quotes, with backslash, quote and control bytes
// written as \\, \" and \xHH so that a line stays one call.
std::string Quoted(const char* text, size_t length)
{
    if (text == nullptr)
        return "nil";
    std::string quoted = "\"";
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\\' || c == '"') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escape[5];
            std::snprintf(escape, sizeof(escape), "\\x%02X", c);
            quoted += escape;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

std::string Quoted(const char* text)
{
    return Quoted(text, text != nullptr ? std::strlen(text) : 0);
}

std::string Number(long long value)
{
    return std::to_string(value);
}

void RecordAddress(const char* name, const char* host, int port, std::string* keptHost, int* keptPort)
{
    std::lock_guard<std::mutex> lock(g_lock);
    if (keptHost != nullptr) {
        *keptHost = host != nullptr ? host : "";
        *keptPort = port;
    }
    WriteJournal(std::string(name) + " " + Quoted(host) + " " + Number(port));
}

void RecordCall(const std::string& line)
{
    std::lock_guard<std::mutex> lock(g_lock);
    WriteJournal(line);
}

typedef int (*UdpSendFn)(const char* host, int port, const char* data, int length);

int SendInstallDatagram(const Settings& settings, int32_t kind)
{
    const std::wstring path = OwnFolder() + L"udp_kv.dll";
    HMODULE sender = LoadLibraryW(path.c_str());
    if (sender == nullptr)
        return 0;
    const UdpSendFn send = reinterpret_cast<UdpSendFn>(reinterpret_cast<void*>(GetProcAddress(sender, "udp_kv_send")));
    char datagram[256];
    const int length = std::snprintf(datagram, sizeof(datagram), "kvstat install kind=%ld unionid=%ld appid=%u level=%ld version=%s",
                                     static_cast<long>(kind), static_cast<long>(settings.unionId), settings.appId,
                                     static_cast<long>(settings.level), settings.version.c_str());
    const bool sent = send != nullptr && length > 0 && length < static_cast<int>(sizeof(datagram)) &&
                      send(settings.installHost.c_str(), settings.installPort, datagram, length) == length;
    FreeLibrary(sender);
    return sent ? 1 : 0;
}

size_t DiscardBody(char*, size_t size, size_t count, void*)
{
    return size * count;
}

// 1 when the server answered with a 2xx status, 0 for any other status or a failed transfer.
int PostData(const char* url, const char* data, int32_t length)
{
    CURL* curl = curl_easy_init();
    if (curl == nullptr)
        return 0;
    curl_easy_setopt(curl, CURLOPT_URL, url);
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, data != nullptr ? data : "");
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(data != nullptr && length > 0 ? length : 0));
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, kTransferTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &DiscardBody);
    long status = 0;
    const CURLcode result = curl_easy_perform(curl);
    if (result == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    return status >= 200 && status < 300 ? 1 : 0;
}

}  // namespace

#define KVSTAT_EXPORT extern "C" __declspec(dllexport)

KVSTAT_EXPORT bool stat_init()
{
    std::lock_guard<std::mutex> lock(g_lock);
    const bool configured = !g_settings.dispatchHost.empty() || !g_settings.installHost.empty();
    WriteJournal(std::string("stat_init = ") + (configured ? "1" : "0"));
    return configured;
}

KVSTAT_EXPORT void stat_proxy(const char* host, int port) { RecordAddress("stat_proxy", host, port, nullptr, nullptr); }
KVSTAT_EXPORT void stat_dispatch_addr(const char* host, int port)
{
    RecordAddress("stat_dispatch_addr", host, port, &g_settings.dispatchHost, &g_settings.dispatchPort);
}
KVSTAT_EXPORT void stat_online_addr(const char* host, int port) { RecordAddress("stat_online_addr", host, port, nullptr, nullptr); }
KVSTAT_EXPORT void stat_action_addr(const char* host, int port) { RecordAddress("stat_action_addr", host, port, nullptr, nullptr); }
KVSTAT_EXPORT void stat_install_addr(const char* host, int port)
{
    RecordAddress("stat_install_addr", host, port, &g_settings.installHost, &g_settings.installPort);
}
KVSTAT_EXPORT void stat_loginout_addr(const char* host, int port) { RecordAddress("stat_loginout_addr", host, port, nullptr, nullptr); }

KVSTAT_EXPORT void stat_unionid(int32_t unionId)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_settings.unionId = unionId;
    WriteJournal("stat_unionid " + Number(unionId));
}

KVSTAT_EXPORT void stat_appid(uint8_t appId)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_settings.appId = appId;
    WriteJournal("stat_appid " + Number(appId));
}

KVSTAT_EXPORT void stat_level(int32_t level)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_settings.level = level;
    WriteJournal("stat_level " + Number(level));
}

KVSTAT_EXPORT void stat_version(const char* version)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_settings.version = version != nullptr ? version : "";
    WriteJournal("stat_version " + Quoted(version));
}

KVSTAT_EXPORT void stat_version_ex(int32_t major, int32_t minor, int32_t build, int32_t revision)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_settings.version = Number(major) + "." + Number(minor) + "." + Number(build) + "." + Number(revision);
    WriteJournal("stat_version_ex " + Number(major) + " " + Number(minor) + " " + Number(build) + " " + Number(revision));
}

KVSTAT_EXPORT void stat_online() { RecordCall("stat_online"); }
KVSTAT_EXPORT void stat_offline() { RecordCall("stat_offline"); }
KVSTAT_EXPORT void stat_action(int32_t action) { RecordCall("stat_action " + Number(action)); }

KVSTAT_EXPORT void stat_mutilaction(const int32_t* actions, int32_t count, uint8_t flag)
{
    std::string list = "[";
    for (int32_t i = 0; actions != nullptr && i < count; ++i)
        list += (i > 0 ? "," : "") + Number(actions[i]);
    RecordCall("stat_mutilaction " + list + "] " + Number(count) + " " + Number(flag));
}

KVSTAT_EXPORT int stat_install(int32_t kind)
{
    Settings settings;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        settings = g_settings;
    }
    const int sent = SendInstallDatagram(settings, kind);
    RecordCall("stat_install " + Number(kind) + " = " + Number(sent));
    return sent;
}

KVSTAT_EXPORT int stat_app_install(int32_t kind)
{
    RecordCall("stat_app_install " + Number(kind) + " = 0");
    return 0;
}

KVSTAT_EXPORT int stat_http_post(const char* url, const char* data, int32_t length, bool flag)
{
    {
        std::lock_guard<std::mutex> lock(g_lock);
        if (!g_settings.curlReady)
            g_settings.curlReady = curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK;
    }
    const int result = url != nullptr && g_settings.curlReady ? PostData(url, data, length) : 0;
    const size_t dataLength = data != nullptr && length > 0 ? static_cast<size_t>(length) : 0;
    RecordCall("stat_http_post " + Quoted(url) + " " + Quoted(data, dataLength) + " " + Number(length) + " " + Number(flag) +
               " = " + Number(result));
    return result;
}

KVSTAT_EXPORT void stat_close()
{
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_settings.curlReady)
        curl_global_cleanup();
    g_settings = Settings();
    WriteJournal("stat_close");
}
