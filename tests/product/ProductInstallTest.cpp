#include "support/TestSupport.h"

#include "utility/base/Handles.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <ctime>
#include <cwctype>
#include <string>
#include <vector>

namespace {

const std::wstring kInstallFolder = L"C:\\Program Files (x86)\\Tarvik\\Navolo";
const std::wstring kProductKey = L"SOFTWARE\\Navolo";
const std::wstring kUninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Navolo";

struct RegValue {
    bool found = false;
    DWORD type = REG_NONE;
    std::wstring text;
    DWORD number = 0;
    std::vector<BYTE> bytes;
};

RegValue ReadValue(HKEY root, const std::wstring& subKey, const wchar_t* name, REGSAM view)
{
    RegValue value;
    qel::CRegKey key;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE | view, key.Put()) != ERROR_SUCCESS)
        return value;
    BYTE data[4096] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    if (RegQueryValueExW(key.Get(), name, nullptr, &value.type, data, &size) != ERROR_SUCCESS)
        return value;
    value.found = true;
    value.bytes.assign(data, data + size);
    if (value.type == REG_SZ)
        value.text = reinterpret_cast<const wchar_t*>(data);
    if (value.type == REG_DWORD)
        value.number = *reinterpret_cast<const DWORD*>(data);
    return value;
}

struct ExpectedValue {
    HKEY root;
    const std::wstring* key;
    const wchar_t* name;
    DWORD type;
    std::wstring text;  // REG_SZ data
    DWORD number;       // REG_DWORD data
};

std::wstring Today()
{
    wchar_t date[16];
    const time_t now = time(nullptr);
    wcsftime(date, 16, L"%Y%m%d", localtime(&now));
    return date;
}

std::vector<char> ResourceOf(const std::wstring& module, const wchar_t* type, const wchar_t* name)
{
    qel::CModule image(LoadLibraryExW(module.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    HRSRC found = image ? FindResourceW(image.Get(), name, type) : nullptr;
    HGLOBAL loaded = found ? LoadResource(image.Get(), found) : nullptr;
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    return data ? std::vector<char>(data, data + SizeofResource(image.Get(), found)) : std::vector<char>();
}

std::vector<char> FileBytes(const std::wstring& path)
{
    std::string text;
    qeltest::ReadTextFile(path, text);
    return std::vector<char>(text.begin(), text.end());
}

// The product's files as the build staged them for the payload archive.
std::wstring PayloadPath(const std::wstring& name) { return qeltest::BinDir() + L"\\..\\payload-stage\\" + name; }

ULONGLONG LastWriteTime(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

std::wstring KnownFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl, nullptr, 0, path);
    return path;
}

DWORD ServiceState(const wchar_t* name)
{
    qel::CServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    qel::CServiceHandle service(manager ? OpenServiceW(manager.Get(), name, SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS status = {};
    if (!service || !QueryServiceStatus(service.Get(), &status))
        return 0;
    return status.dwCurrentState;
}

// The index of the first debug line after line number `after` that starts with prefix, or -1.
int FirstLineStartingWith(const qeltest::Transcript& t, const std::wstring& prefix, int after = -1)
{
    for (size_t i = static_cast<size_t>(after + 1); i < t.debugLines.size(); ++i)
        if (t.debugLines[i].compare(0, prefix.size(), prefix) == 0)
            return static_cast<int>(i);
    return -1;
}

// A silent install by the default installer; the script's own switches go before the
// installer's, whose last value runs to the end of the command line.
qeltest::Transcript InstallSilently(const std::wstring& scriptArguments = L"")
{
    qeltest::LaunchRequest request;
    request.program = qeltest::BinPath(L"QELInstaller.exe");
    request.arguments = scriptArguments.empty() ? L"/InstallSlience true" : scriptArguments + L" /InstallSlience true";
    return qeltest::Launch(request);
}

// One plain silent install of the real product installer, in a fresh prefix, checked through
// the registry views, the files, the shell's links, the service manager and the journal of the
// statistics library.
class PlainSilentInstall : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_transcript = new qeltest::Transcript(InstallSilently());
    }
    static void TearDownTestSuite() { delete s_transcript; }
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }

    static qeltest::Transcript* s_transcript;
};

qeltest::Transcript* PlainSilentInstall::s_transcript = nullptr;

TEST_F(PlainSilentInstall, EndsWithZeroAfterNotifyingTheListenerAndLogsItsStepsInOrder)
{
    const qeltest::Transcript& t = *s_transcript;
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_EQ(0u, t.exitCode);
    EXPECT_EQ(1, t.CountMessages(3014)) << t.raw;
    EXPECT_TRUE(t.boxes.empty()) << t.raw;
    const wchar_t* const steps[] = {
        L"xm script_version:1.0.2.57", L"xm global_ss_install==true ~!\r\n", L"xm start ss install!",
        L"xm C:\\Program Files (x86)\\Tarvik\\Navolo", L"xm pid:-1", L"xm UnCompress successful.",
        L"xm start install report info", L"xm stat.tarvik.example", L"xm http://stat.tarvik.example/api/InstallStat",
    };
    int previous = -1;
    for (const wchar_t* step : steps) {
        const int at = FirstLineStartingWith(t, step, previous);
        EXPECT_GT(at, previous) << "step " << step << "\n" << t.raw;
        if (at > previous)
            previous = at;
    }
}

TEST_F(PlainSilentInstall, WritesTheTwentyFourRegistryValuesInTheirViews)
{
    const std::wstring folder = kInstallFolder;
    const ExpectedValue expected[] = {
        {HKEY_LOCAL_MACHINE, &kProductKey, L"AppPath", REG_SZ, folder, 0},
        {HKEY_LOCAL_MACHINE, &kProductKey, L"UnionId", REG_DWORD, L"", 4200},
        {HKEY_LOCAL_MACHINE, &kProductKey, L"OEMUnionId", REG_DWORD, L"", 4001},
        {HKEY_LOCAL_MACHINE, &kProductKey, L"OemID", REG_DWORD, L"", 1},
        {HKEY_LOCAL_MACHINE, &kProductKey, L"UserID", REG_BINARY, L"", 0},
        {HKEY_CURRENT_USER, &kProductKey, L"AppPath", REG_SZ, folder, 0},
        {HKEY_CURRENT_USER, &kProductKey, L"UnionId", REG_DWORD, L"", 4200},
        {HKEY_CURRENT_USER, &kProductKey, L"OEMUnionId", REG_DWORD, L"", 4001},
        {HKEY_CURRENT_USER, &kProductKey, L"OemID", REG_DWORD, L"", 1},
        {HKEY_CURRENT_USER, &kProductKey, L"UserID", REG_BINARY, L"", 0},
        {HKEY_CURRENT_USER, &kProductKey, L"DisplayVersion", REG_SZ, L"4.0.5.22", 0},
        {HKEY_CURRENT_USER, &kProductKey, L"SearchHtmlUpdate", REG_DWORD, L"", 1},
        {HKEY_CURRENT_USER, &kProductKey, L"InstallForService", REG_DWORD, L"", 1},
        {HKEY_CURRENT_USER, &kProductKey, L"NAVOLO_APP_ID", REG_DWORD, L"", 10004},
        {HKEY_LOCAL_MACHINE, &kUninstallKey, L"DisplayIcon", REG_SZ, folder + L"\\Navolo.exe", 0},
        {HKEY_LOCAL_MACHINE, &kUninstallKey, L"DisplayName", REG_SZ, L"Navolo", 0},
        {HKEY_LOCAL_MACHINE, &kUninstallKey, L"DisplayVersion", REG_SZ, L"4.0.5.22", 0},
        {HKEY_LOCAL_MACHINE, &kUninstallKey, L"EstimatedSize", REG_DWORD, L"", 56640},
        {HKEY_LOCAL_MACHINE, &kUninstallKey, L"NoModify", REG_DWORD, L"", 1},
        {HKEY_LOCAL_MACHINE, &kUninstallKey, L"NoRepair", REG_DWORD, L"", 1},
        {HKEY_LOCAL_MACHINE, &kUninstallKey, L"Publisher", REG_SZ, L"Tarvik Software Co., Ltd.", 0},
        {HKEY_LOCAL_MACHINE, &kUninstallKey, L"UninstallString", REG_SZ, folder + L"\\Uninstall.exe", 0},
        {HKEY_LOCAL_MACHINE, &kUninstallKey, L"InstallLocation", REG_SZ, folder, 0},
        {HKEY_LOCAL_MACHINE, &kUninstallKey, L"InstallDate", REG_SZ, Today(), 0},
    };
    for (const ExpectedValue& e : expected) {
        const RegValue v = ReadValue(e.root, *e.key, e.name, KEY_WOW64_32KEY);
        ASSERT_TRUE(v.found) << *e.key << " " << e.name;
        EXPECT_EQ(e.type, v.type) << e.name;
        if (e.type == REG_SZ) {
            EXPECT_EQ(e.text, v.text) << e.name;
        } else if (e.type == REG_DWORD) {
            EXPECT_EQ(e.number, v.number) << e.name;
        } else if (e.type == REG_BINARY) {
            EXPECT_EQ(std::vector<BYTE>{0}, v.bytes) << e.name;
        }
    }
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kProductKey, L"AppPath", KEY_WOW64_64KEY).found)
        << "the machine keys belong to the 32-bit view";
}

TEST_F(PlainSilentInstall, WritesTheOptionsAndTheStartWithWindowsEntry)
{
    struct Option { const wchar_t* name; DWORD value; };
    for (const Option& o : {Option{L"QuickLaunchChk", 1}, Option{L"StartMenuShortcutChk", 1}, Option{L"ReplaceSysSearch", 1}})
        EXPECT_EQ(o.value, ReadValue(HKEY_CURRENT_USER, kProductKey, o.name, 0).number) << o.name;
    EXPECT_EQ(kInstallFolder + L"\\Navolo.exe /startup system",
              ReadValue(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Navolo", 0).text);
}

TEST_F(PlainSilentInstall, UnpacksThePayloadWithItsStoredTimesAndLeavesTheScriptsForTheUninstaller)
{
    for (const wchar_t* name : {L"Navolo.exe", L"NvSS.exe", L"func_helper.dll", L"kvstat.dll", L"udp_kv.dll",
                                L"NvToolMenuShellExt.dll", L"NvToolMenuShellExt64.dll", L"Readme.txt"}) {
        const std::wstring installed = kInstallFolder + L"\\" + name;
        ASSERT_TRUE(qeltest::FileExists(installed)) << name;
        EXPECT_EQ(FileBytes(PayloadPath(name)), FileBytes(installed)) << name;
        EXPECT_EQ(LastWriteTime(PayloadPath(name)), LastWriteTime(installed)) << name;
    }
    const std::wstring installer = qeltest::BinPath(L"QELInstaller.exe");
    const std::vector<char> settings = ResourceOf(installer, L"LUA", L"GLOBAL_VAR.LUAC");
    const std::vector<char> uninstall = ResourceOf(installer, L"LUA", L"UNINSTSCRIPT.LUAC");
    ASSERT_FALSE(settings.empty());
    EXPECT_EQ(settings, FileBytes(kInstallFolder + L"\\Uninst.dar0"));
    EXPECT_EQ(uninstall, FileBytes(kInstallFolder + L"\\Uninst.dar1"));
}

TEST_F(PlainSilentInstall, CreatesTheStartMenuAndDesktopShortcuts)
{
    const std::wstring programs = KnownFolder(CSIDL_COMMON_PROGRAMS) + L"\\Navolo\\";
    std::wstring arguments;
    EXPECT_EQ(kInstallFolder + L"\\Navolo.exe", qeltest::ReadShortcut(programs + L"Navolo.lnk", &arguments));
    EXPECT_EQ(L"/menu", arguments);
    EXPECT_EQ(kInstallFolder + L"\\Uninstall.exe", qeltest::ReadShortcut(programs + L"\x5378\x8F7D" L"Navolo.lnk", nullptr));
    EXPECT_EQ(kInstallFolder + L"\\Navolo.exe", qeltest::ReadShortcut(KnownFolder(CSIDL_DESKTOPDIRECTORY) + L"\\Navolo.lnk", nullptr));
}

TEST_F(PlainSilentInstall, InstallsTheSearchServiceAndRegistersTheShellExtension)
{
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(L"nvss"));
    const RegValue server = ReadValue(HKEY_CLASSES_ROOT, L"CLSID\\{6C1E9C5E-3A5B-4C1D-9E77-4E1F6B0A2D31}\\InprocServer32",
                                      nullptr, KEY_WOW64_64KEY);
    EXPECT_EQ(kInstallFolder + L"\\NvToolMenuShellExt64.dll", server.text) << "registered by the 64-bit regsvr32";
}

TEST_F(PlainSilentInstall, ReportsTheInstallThroughTheStatisticsLibraryInOrder)
{
    std::string journal;
    ASSERT_TRUE(qeltest::ReadTextFile(kInstallFolder + L"\\kvstat_journal.txt", journal));
    const char* const calls[] = {
        "stat_unionid 4200", "stat_appid 108", "stat_level 2", "stat_version_ex 4 0 5 22",
        "stat_install_addr \"stat.tarvik.example\" 8100", "stat_init = 1", "stat_install 1",
        "stat_http_post \"http://stat.tarvik.example/api/InstallStat\" nil 0 1", "stat_close",
    };
    size_t at = 0;
    for (const char* call : calls) {
        const size_t found = journal.find(call, at);
        EXPECT_NE(std::string::npos, found) << call << "\n" << journal;
        if (found != std::string::npos)
            at = found;
    }
}

}  // namespace

namespace {

// The installer's own file name and the script's switches choose the channel and the folder.
struct NamedInstallCase {
    const char* label;
    const wchar_t* installer;  // the built installer that is copied under fileName
    const wchar_t* fileName;
    const wchar_t* arguments;
    const wchar_t* existingAppPath;  // HKLM AppPath before the install, or nullptr
    std::wstring folder;
    DWORD unionId;
    DWORD oemUnionId;
};

void PrintTo(const NamedInstallCase& c, std::ostream* os) { *os << c.label; }

class NamedInstalls : public ::testing::TestWithParam<NamedInstallCase> {};

TEST_P(NamedInstalls, TakeTheChannelAndFolderFromTheNameAndSwitches)
{
    const NamedInstallCase& c = GetParam();
    qeltest::TempDir dir;
    const std::wstring installer = dir.File(c.fileName);
    ASSERT_TRUE(CopyFileW(qeltest::BinPath(c.installer).c_str(), installer.c_str(), FALSE));
    if (c.existingAppPath != nullptr) {
        qel::CRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey.c_str(), 0, nullptr, 0,
                                                 KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, key.Put(), nullptr));
        RegSetValueExW(key.Get(), L"AppPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(c.existingAppPath),
                       static_cast<DWORD>((wcslen(c.existingAppPath) + 1) * sizeof(wchar_t)));
    }
    qeltest::LaunchRequest request;
    request.program = installer;
    request.arguments = c.arguments;
    const qeltest::Transcript t = qeltest::Launch(request);
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_EQ(0u, t.exitCode);
    EXPECT_EQ(1, t.CountMessages(3014)) << t.raw;
    EXPECT_EQ(c.folder, ReadValue(HKEY_CURRENT_USER, kProductKey, L"AppPath", 0).text);
    EXPECT_TRUE(qeltest::FileExists(c.folder + L"\\Navolo.exe"));
    EXPECT_EQ(c.unionId, ReadValue(HKEY_LOCAL_MACHINE, kProductKey, L"UnionId", KEY_WOW64_32KEY).number);
    EXPECT_EQ(c.oemUnionId, ReadValue(HKEY_LOCAL_MACHINE, kProductKey, L"OEMUnionId", KEY_WOW64_32KEY).number);
}

const wchar_t kDefault[] = L"QELInstaller.exe";
const wchar_t kNameAnalysis[] = L"qeltest_product_name_analysis.exe";

INSTANTIATE_TEST_SUITE_P(ProductInstall, NamedInstalls, ::testing::Values(
    NamedInstallCase{"HyphenDigitsAfterAnUnderscoreAreTheOemChannel", kDefault, L"Navolo_setup-5678.exe",
                     L"/InstallSlience true", nullptr, kInstallFolder, 4200, 5678},
    NamedInstallCase{"UidEqualsSetsTheChannel", kDefault, L"QELInstaller.exe", L"-uid=4321 /InstallSlience true", nullptr,
                     kInstallFolder, 4321, 4001},
    NamedInstallCase{"SlashUidColonSetsTheChannelWithoutRangeCheck", kDefault, L"QELInstaller.exe",
                     L"/uid:7 /InstallSlience true", nullptr, kInstallFolder, 7, 4001},
    NamedInstallCase{"PathSwitchWinsOverTheRegisteredAppPath", kDefault, L"QELInstaller.exe",
                     L"-path=C:\\Apps\\Nav /InstallSlience true", L"C:\\Old\\Navolo", L"C:\\Apps\\Nav", 4200, 4001},
    NamedInstallCase{"TheNamesChannelIsIgnoredWhileTheAnalysisIsOff", kDefault, L"Navolo_1234_x.exe",
                     L"/InstallSlience true", nullptr, kInstallFolder, 4200, 4001},
    NamedInstallCase{"AnalysisTakesTheChannelBetweenTheUnderscores", kNameAnalysis, L"Navolo_1234_x.exe",
                     L"/InstallSlience true", nullptr, kInstallFolder, 1234, 4001},
    NamedInstallCase{"AnalysisIgnoresAChannelBelow100", kNameAnalysis, L"Navolo_99_x.exe", L"/InstallSlience true",
                     nullptr, kInstallFolder, 4200, 4001},
    NamedInstallCase{"AnalysisIgnoresAChannelOf10000", kNameAnalysis, L"Navolo_10000_x.exe", L"/InstallSlience true",
                     nullptr, kInstallFolder, 4200, 4001},
    NamedInstallCase{"AnalysisIgnoresAnotherProductsName", kNameAnalysis, L"Other_1234_x.exe", L"/InstallSlience true",
                     nullptr, kInstallFolder, 4200, 4001},
    NamedInstallCase{"AnalysisIgnoresANameOfTwoParts", kNameAnalysis, L"Navolo_1234.exe", L"/InstallSlience true",
                     nullptr, kInstallFolder, 4200, 4001}));

}  // namespace

namespace {

TEST(ProductInstall, APayloadWithoutTheHelperLibraryEndsThroughTheErrorBoxWithZero)
{
    qeltest::LaunchRequest request;
    request.program = qeltest::BinPath(L"qeltest_product_without_helper.exe");
    request.arguments = L"/InstallSlience true";
    request.answers = {L"ok"};
    const qeltest::Transcript t = qeltest::Launch(request);
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_EQ(0u, t.exitCode);
    ASSERT_EQ(1u, t.boxes.size()) << t.raw;
    EXPECT_EQ(static_cast<unsigned>(MB_ICONERROR), t.boxes[0].style);
    EXPECT_NE(std::wstring::npos, t.boxes[0].text.find(L"helper")) << t.boxes[0].text;
    EXPECT_NE(std::wstring::npos, t.boxes[0].text.find(L"a nil value")) << t.boxes[0].text;
    EXPECT_NE(std::wstring::npos, t.raw.find(L"debug: xm UnCompress successful.")) << t.raw;
    EXPECT_EQ(0, t.CountMessages(3014));
}

}  // namespace

namespace {

// Over an existing installation: channel 4999 is always overwritten; another channel is kept and
// the install is reported as a cover install (kind 3) of that channel.
struct OverInstallCase {
    const char* label;
    DWORD existingChannel;
    DWORD channelAfter;
    const char* reportedChannel;
};

void PrintTo(const OverInstallCase& c, std::ostream* os) { *os << c.label; }

class OverInstalls : public ::testing::TestWithParam<OverInstallCase> {};

void WriteChannel(HKEY root, REGSAM view, DWORD channel)
{
    qel::CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, kProductKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, key.Put(), nullptr));
    for (const wchar_t* name : {L"UnionId", L"OEMUnionId"})
        RegSetValueExW(key.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&channel), sizeof channel);
}

TEST_P(OverInstalls, KeepOrOverwriteTheChannelAndReportIt)
{
    const OverInstallCase& c = GetParam();
    WriteChannel(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, c.existingChannel);
    WriteChannel(HKEY_CURRENT_USER, 0, c.existingChannel);
    const qeltest::Transcript t = InstallSilently();
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_EQ(0u, t.exitCode);
    EXPECT_TRUE(t.HasLine(L"xm cover install!!!")) << t.raw;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        EXPECT_EQ(c.channelAfter, ReadValue(root, kProductKey, L"UnionId", KEY_WOW64_32KEY).number);
    std::string journal;
    ASSERT_TRUE(qeltest::ReadTextFile(kInstallFolder + L"\\kvstat_journal.txt", journal));
    EXPECT_NE(std::string::npos, journal.find(std::string("stat_unionid ") + c.reportedChannel + "\n")) << journal;
    EXPECT_NE(std::string::npos, journal.find("stat_install 3")) << journal;
}

INSTANTIATE_TEST_SUITE_P(ProductInstall, OverInstalls, ::testing::Values(
    OverInstallCase{"Channel4999IsOverwrittenAndTheNewOneReported", 4999, 4200, "4200"},
    OverInstallCase{"AnotherChannelIsKeptAndReported", 1234, 1234, "1234"}));

}  // namespace

namespace {

HWND WaitForProductWindow(DWORD milliseconds)
{
    for (DWORD waited = 0;; waited += 100) {
        HWND window = FindWindowW(L"CDlgSearch", L"Navolo");
        if (window != nullptr || waited >= milliseconds)
            return window;
        Sleep(100);
    }
}

std::wstring ProductTrace()
{
    std::string text;
    qeltest::ReadTextFile(KnownFolder(CSIDL_LOCAL_APPDATA) + L"\\Tarvik\\Navolo\\Navolo.trace", text);
    return qeltest::Utf8ToWide(text);
}

// With silent installs enabled in the settings, the installer's own name asks for one: "@st"
// also starts the product through the shell, "@stt" does not; the shortcut markers are read
// only then, and a closing marker wins over the opening one.
struct SilentByNameCase {
    const char* label;
    const wchar_t* fileName;
    bool productStarted;
    bool desktopShortcut;
};

void PrintTo(const SilentByNameCase& c, std::ostream* os) { *os << c.label; }

class SilentInstallsByName : public ::testing::TestWithParam<SilentByNameCase>
{
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
};

TEST_P(SilentInstallsByName, InstallWithoutTheSwitchAndStartTheProductAsTheNameSays)
{
    const SilentByNameCase& c = GetParam();
    qeltest::TempDir dir;
    qeltest::LaunchRequest request;
    request.program = dir.File(c.fileName);
    ASSERT_TRUE(CopyFileW(qeltest::BinPath(L"qeltest_product_ss_enabled.exe").c_str(), request.program.c_str(), FALSE));
    const qeltest::Transcript t = qeltest::Launch(request);
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_EQ(0u, t.exitCode);
    EXPECT_TRUE(t.boxes.empty()) << t.raw;
    EXPECT_TRUE(t.HasLine(L"xm start ss install!")) << t.raw;
    EXPECT_EQ(1, t.CountMessages(3014)) << t.raw;
    EXPECT_TRUE(qeltest::FileExists(kInstallFolder + L"\\Navolo.exe"));

    // A program started through the shell comes up after the installer has ended.
    const HWND window = WaitForProductWindow(c.productStarted ? 60000 : 5000);
    EXPECT_EQ(c.productStarted, window != nullptr);
    if (window != nullptr) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        const std::wstring trace = ProductTrace();
        EXPECT_NE(std::wstring::npos, trace.find(L"start pid=" + std::to_wstring(pid) + L" ")) << trace;
        EXPECT_NE(std::wstring::npos, trace.find(kInstallFolder + L"\\Navolo.exe")) << trace;
        SendMessageW(window, 3023, 0, 0);
    }
    const bool desktopShortcut = qeltest::FileExists(KnownFolder(CSIDL_DESKTOPDIRECTORY) + L"\\Navolo.lnk");
    EXPECT_EQ(c.desktopShortcut, desktopShortcut);
    EXPECT_TRUE(qeltest::FileExists(KnownFolder(CSIDL_COMMON_PROGRAMS) + L"\\Navolo\\Navolo.lnk"));
}

INSTANTIATE_TEST_SUITE_P(ProductInstall, SilentInstallsByName, ::testing::Values(
    SilentByNameCase{"AtSttInstallsWithoutStartingTheProduct", L"Navolo@stt.exe", false, true},
    SilentByNameCase{"AtStStartsTheProductThroughTheShell", L"Navolo@st.exe", true, true},
    SilentByNameCase{"DesktopClosedWinsOverDesktopOpen", L"Navolo@stt@dto@dtc.exe", false, false}));

TEST(ProductInstall, OverTheRunningProductEndsItWithoutAskingAndReplacesItsFiles)
{
    // An older build of the program: the payload's program with bytes appended to its image.
    ASSERT_EQ(ERROR_SUCCESS, SHCreateDirectoryExW(nullptr, kInstallFolder.c_str(), nullptr));
    const std::wstring program = kInstallFolder + L"\\Navolo.exe";
    const std::vector<char> current = FileBytes(PayloadPath(L"Navolo.exe"));
    ASSERT_TRUE(qeltest::WriteTextFile(program, std::string(current.begin(), current.end()) + "older build"));
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    std::wstring line = qeltest::QuoteArgument(program) + L" /menu";
    ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    qel::CHandle process(pi.hProcess);
    qel::CHandle thread(pi.hThread);
    ASSERT_NE(nullptr, WaitForProductWindow(60000));

    const qeltest::Transcript t = InstallSilently();
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_EQ(0u, t.exitCode);
    EXPECT_TRUE(t.boxes.empty()) << "the silent path asks nothing\n" << t.raw;
    EXPECT_EQ(1, t.CountMessages(3014)) << t.raw;
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(process.Get(), 0)) << "the product was ended";
    EXPECT_EQ(current, FileBytes(program)) << "the running build was replaced";
}

}  // namespace

namespace {

// Names added ("+name") and removed ("-name") in a folder, in the order the file system
// reports them, from the moment of construction to Stop().
class FolderWatch
{
public:
    explicit FolderWatch(const std::wstring& folder)
        : m_folder(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr)),
          m_ready(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_stop(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        m_overlapped.hEvent = m_ready.Get();
        m_watching = m_folder && Read();
        if (m_watching)
            m_thread.Reset(CreateThread(nullptr, 0, &FolderWatch::Run, this, 0, nullptr));
    }
    ~FolderWatch() { Stop(); }
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    bool Watching() const { return m_watching; }

    std::vector<std::wstring> Stop()
    {
        if (m_thread) {
            SetEvent(m_stop.Get());
            WaitForSingleObject(m_thread.Get(), INFINITE);
            m_thread.Reset();
        }
        return m_events;
    }

private:
    bool Read()
    {
        ResetEvent(m_ready.Get());
        return ReadDirectoryChangesW(m_folder.Get(), m_buffer, sizeof m_buffer, FALSE,
                                     FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME, nullptr, &m_overlapped,
                                     nullptr) != FALSE;
    }

    void Record(DWORD size)
    {
        for (DWORD offset = 0; size != 0;) {
            const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(m_buffer + offset);
            const std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
            if (info->Action == FILE_ACTION_ADDED || info->Action == FILE_ACTION_RENAMED_NEW_NAME)
                m_events.push_back(L"+" + name);
            if (info->Action == FILE_ACTION_REMOVED || info->Action == FILE_ACTION_RENAMED_OLD_NAME)
                m_events.push_back(L"-" + name);
            if (info->NextEntryOffset == 0)
                break;
            offset += info->NextEntryOffset;
        }
    }

    static DWORD WINAPI Run(void* self)
    {
        auto* watch = static_cast<FolderWatch*>(self);
        const HANDLE events[] = {watch->m_ready.Get(), watch->m_stop.Get()};
        for (;;) {
            const bool stopping = WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0;
            DWORD size = 0;
            if (stopping)
                CancelIoEx(watch->m_folder.Get(), &watch->m_overlapped);
            if (GetOverlappedResult(watch->m_folder.Get(), &watch->m_overlapped, &size, TRUE))
                watch->Record(size);
            if (stopping || !watch->Read())
                return 0;
        }
    }

    qel::CFileHandle m_folder;
    qel::CHandle m_ready;
    qel::CHandle m_stop;
    qel::CHandle m_thread;
    OVERLAPPED m_overlapped = {};
    alignas(DWORD) BYTE m_buffer[64 * 1024];
    bool m_watching = false;
    std::vector<std::wstring> m_events;
};

int IndexOfEvent(const std::vector<std::wstring>& events, const std::wstring& event)
{
    for (size_t i = 0; i < events.size(); ++i)
        if (_wcsicmp(events[i].c_str(), event.c_str()) == 0)
            return static_cast<int>(i);
    return -1;
}

TEST(ProductInstall, OnAnotherDriveThanTheTemporaryFolderWorksInAFolderBesideTheInstallFolder)
{
    // The test prefixes have a drive D: on a folder of their own; the temporary folder is on C:.
    const std::wstring apps = L"D:\\Apps";
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    ASSERT_NE(L'D', towupper(temp[0])) << temp;
    const std::wstring folder = apps + L"\\Navolo";
    ASSERT_EQ(ERROR_SUCCESS, SHCreateDirectoryExW(nullptr, apps.c_str(), nullptr));
    FolderWatch watch(apps);
    ASSERT_TRUE(watch.Watching());

    const qeltest::Transcript t = InstallSilently(qeltest::QuoteArgument(L"-path=" + folder));
    ASSERT_TRUE(t.exited) << t.raw;
    EXPECT_EQ(0u, t.exitCode);
    EXPECT_EQ(1, t.CountMessages(3014)) << t.raw;
    EXPECT_TRUE(qeltest::FileExists(folder + L"\\Navolo.exe"));
    EXPECT_FALSE(qeltest::FileExists(apps + L"\\del_reboot")) << "the work folder is removed at the end";

    const int created = FirstLineStartingWith(t, L"xm Create Directory " + apps + L"\\del_reboot!");
    EXPECT_GE(created, 0) << t.raw;
    EXPECT_GT(FirstLineStartingWith(t, L"xm UnCompress successful.", created), created) << "made before the extraction";

    const std::vector<std::wstring> events = watch.Stop();
    std::wstring seen;
    for (const std::wstring& e : events)
        seen += e + L"\n";
    const int added = IndexOfEvent(events, L"+del_reboot");
    ASSERT_GE(added, 0) << seen;
    EXPECT_GT(IndexOfEvent(events, L"-del_reboot"), added) << seen;
}

}  // namespace
