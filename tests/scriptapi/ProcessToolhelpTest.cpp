#include "support/TestSupport.h"

#include "utility/base/Handles.h"
#include "utility/base/qelprocesstoolhelp.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <string>

namespace {

qel::CHandle Snapshot() { return qel::CHandle(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)); }

TEST(ProcessToolhelp, FindsTheFirstEntryOfTheSnapshotToo)
{
    qel::CHandle snapshot = Snapshot();
    PROCESSENTRY32W first = {};
    first.dwSize = sizeof first;
    ASSERT_TRUE(Process32FirstW(snapshot.Get(), &first));
    ASSERT_NE(0u, first.th32ProcessID);
    const std::vector<DWORD> ids = qel::FindProcessIdsByName(snapshot.Get(), first.szExeFile);
    ASSERT_FALSE(ids.empty());
    EXPECT_EQ(first.th32ProcessID, ids.front());
    EXPECT_EQ(first.th32ProcessID, qel::FindProcessIdByName(Snapshot().Get(), first.szExeFile));
    EXPECT_EQ(qel::kNoProcess, qel::FindProcessIdByName(Snapshot().Get(), L"qel_no_such_process.exe"));
}

TEST(ProcessToolhelp, KillingAProcessThatIsGoneSucceeds)
{
    EXPECT_TRUE(qel::KillProcess(0));
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION info = {};
    std::wstring command = L"\"" + qeltest::BinPath(L"qeltest_recorder.exe") + L"\"";
    qeltest::TempDir folder;
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.Path().c_str(), &startup, &info));
    qel::CHandle process(info.hProcess);
    qel::CHandle thread(info.hThread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), 30000));
    process.Reset();
    thread.Reset();
    EXPECT_TRUE(qel::KillProcess(info.dwProcessId));
}

struct DevicePathCase {
    const char* name;
    std::wstring path;      // "<dev>" stands for the device of drive C:
    std::wstring expected;
};

void PrintTo(const DevicePathCase& c, std::ostream* os) { *os << c.name; }

class DevicePaths : public ::testing::TestWithParam<DevicePathCase> {};

TEST_P(DevicePaths, MapToDrives)
{
    wchar_t device[MAX_PATH];
    ASSERT_NE(0u, QueryDosDeviceW(L"C:", device, MAX_PATH));
    std::wstring path = GetParam().path;
    const size_t at = path.find(L"<dev>");
    if (at != std::wstring::npos)
        path.replace(at, 5, device);
    qel::CDeviceMap map;
    EXPECT_TRUE(map.MapDevicePathToDrive(path));
    EXPECT_EQ(GetParam().expected, path);
}

INSTANTIATE_TEST_SUITE_P(ProcessToolhelp, DevicePaths, ::testing::Values(
    DevicePathCase{"KnownDevice", L"<dev>\\windows\\explorer.exe", L"C:\\windows\\explorer.exe"},
    DevicePathCase{"UnknownDeviceIsRemoved", L"\\Device\\QelNoSuchVolume\\a\\b.exe", L"\\a\\b.exe"},
    DevicePathCase{"FewerThanThreeBackslashes", L"\\Device\\QelNoSuchVolume", L"\\Device\\QelNoSuchVolume"}),
    [](const ::testing::TestParamInfo<DevicePathCase>& info) { return std::string(info.param.name); });

}  // namespace
