#include "ArchiveSupport.h"

#include "utility/qelscriptengine/Extract7z.h"
#include "utility/qelscriptengine/MemoryInStream.h"

#include <gtest/gtest.h>

#include <random>

using namespace archivetest;

namespace {

std::string ArchiveBytes(const wchar_t* name)
{
    std::string bytes;
    EXPECT_TRUE(ReadBytes(Fixture(name), bytes));
    return bytes;
}

struct SweepCount {
    int cases = 0;
    int succeeded = 0;
};

// Extracts one damaged copy into sandbox\d. A damaged archive may only succeed when what it
// wrote is exactly the original tree (the damage hit bytes no reader uses); nothing may ever
// appear beside the destination.
void ExtractDamaged(const std::string& bytes, const std::wstring& sandbox, const std::map<std::wstring, std::string>& original,
                    const std::string& what, SweepCount& count)
{
    const std::wstring destination = sandbox + L"\\d";
    CreateDirectoryW(destination.c_str(), nullptr);
    MemoryInStream stream(bytes.data(), static_cast<uint32_t>(bytes.size()), false);
    const SRes status = Extract7zToDirectory(stream.Stream(), destination, {}, {});
    ++count.cases;
    std::map<std::wstring, std::string> written = Tree(destination);
    if (status == SZ_OK) {
        ++count.succeeded;
        EXPECT_EQ(original, written) << what << " succeeded with other contents";
    }
    const std::map<std::wstring, std::string> beside = Tree(sandbox);
    for (const auto& entry : beside)
        ASSERT_TRUE(entry.first == L"d" || entry.first.compare(0, 2, L"d\\") == 0) << what << " wrote " << qeltest::WideToUtf8(entry.first);
    for (const auto& entry : written)
        SetFileAttributesW((destination + L"\\" + entry.first).c_str(), FILE_ATTRIBUTE_NORMAL);
    qeltest::RemoveTree(destination);
}

class CorruptionSweep : public ::testing::TestWithParam<const wchar_t*> {};

// Seeded, so a failing case repeats: the seed and the damage are in the failure message.
TEST_P(CorruptionSweep, TruncatedOrFlippedArchivesNeverCrashNeverEscapeAndNeverLie)
{
    const std::string archive = ArchiveBytes(GetParam());
    ASSERT_GT(archive.size(), 1000u);
    qeltest::TempDir sandbox;
    std::map<std::wstring, std::string> original = Tree(Fixture(L"tree"));

    const unsigned seed = 20261210;
    std::mt19937 random(seed);
    SweepCount count;
    // Truncations: every length near both ends (headers), a seeded sample in between.
    for (size_t length = 0; length < archive.size(); ++length) {
        const bool nearEnd = length < 64 || length + 600 > archive.size();
        if (!nearEnd && random() % 40 != 0)
            continue;
        ExtractDamaged(archive.substr(0, length), sandbox.Path(), original, "truncated to " + std::to_string(length), count);
        if (HasFatalFailure())
            return;
    }
    // Byte flips: half into the start and end headers, half anywhere.
    for (int i = 0; i < 1500; ++i) {
        std::string damaged = archive;
        size_t at = random() % archive.size();
        if (i % 2 == 0)
            at = (i % 4 == 0) ? random() % 32 : archive.size() - 1 - random() % 600;
        const uint8_t mask = static_cast<uint8_t>(1 + random() % 255);
        damaged[at] = static_cast<char>(damaged[at] ^ mask);
        ExtractDamaged(damaged, sandbox.Path(), original,
                       "seed " + std::to_string(seed) + ": byte " + std::to_string(at) + " ^ " + std::to_string(mask), count);
        if (HasFatalFailure())
            return;
    }
    RecordProperty("cases", count.cases);
    std::printf("%d damaged archives, %d of them still extracted the original tree\n", count.cases, count.succeeded);
}

INSTANTIATE_TEST_SUITE_P(Archive, CorruptionSweep, ::testing::Values(L"bcj.7z", L"bcj2.7z"),
                         [](const ::testing::TestParamInfo<const wchar_t*>& info) { return qeltest::WideToUtf8(info.param).substr(0, info.param[3] == L'2' ? 4 : 3); });

}  // namespace
