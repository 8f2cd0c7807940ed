// Build detection and address translation against real probe words in the
// stand-in host's image.
#include <gtest/gtest.h>
#include <windows.h>

#include "host/HostBuild.h"
#include "standin_host/Standin.h"

namespace {

struct DetectionCase {
    const char* name;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> words;  // address, word
    HostBuild expected;
};

class BuildDetection : public testing::TestWithParam<DetectionCase> {};

TEST_P(BuildDetection, FirstWholeWordMatchDecides) {
    standin::ResetHost(0);
    for (const auto& [address, word] : GetParam().words) standin::WriteHostWord(address, word);
    EXPECT_EQ(DetectHostBuild(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Probes, BuildDetection,
    testing::Values(
        DetectionCase{"b1001", {{0x401000, 0x53EC8B55}}, 1001}, DetectionCase{"b1002", {{0x401000, 0x16197BE9}}, 1002},
        DetectionCase{"b1011", {{0x8245BC, 38079}}, 1011}, DetectionCase{"b1101", {{0x8252FC, 38079}}, 1101},
        DetectionCase{"b1111", {{0x82533C, 38079}}, 1111}, DetectionCase{"b3200", {{0x858D51, 0x3539F633}}, 3200},
        DetectionCase{"b3210", {{0x858C61, 0x3539F633}}, 3210}, DetectionCase{"none", {}, 0},
        DetectionCase{"b1002_wins_over_1011", {{0x401000, 0x16197BE9}, {0x8245BC, 38079}}, 1002},
        DetectionCase{"b1001_wins_over_all", {{0x401000, 0x53EC8B55}, {0x82533C, 38079}, {0x858C61, 0x3539F633}}, 1001},
        DetectionCase{"b3200_wins_over_3210", {{0x858D51, 0x3539F633}, {0x858C61, 0x3539F633}}, 3200},
        DetectionCase{"upper_half_not_zero", {{0x82533C, 0x000194BF}}, 0},
        DetectionCase{"low_half_only", {{0x8245BC, 0xFFFF94BF}}, 0},
        DetectionCase{"word_one_byte_off", {{0x858D52, 0x3539F633}}, 0},
        DetectionCase{"unaligned_probe_word", {{0x858D51, 0x3539F633}}, 3200}),
    [](const testing::TestParamInfo<DetectionCase>& param) { return std::string(param.param.name); });

TEST(BuildDetection, ProbesMoveWithTheImageBase) {
    EXPECT_EQ(GetHostImageBase(), 0x400000u);
    standin::ResetHost(0);
    // Seen from a base 0x1000 below the real one, 1101's probe 0x8252FC
    // reads the word at 0x8242FC.
    standin::WriteHostWord(0x8242FC, 38079);
    EXPECT_EQ(FindMatchingBuildProbe(0x3FF000), 3);
    EXPECT_EQ(FindMatchingBuildProbe(0x400000), -1);
}

TEST(BuildDetection, OnlyUncommittedProbesAreMismatchesAndDetectionGoesOn) {
    // A host image whose probe at 0x401000 lies in reserved, uncommitted
    // memory and whose 1011 probe is committed and matches.
    constexpr std::uint32_t kSpan = 0x460000;
    auto* region = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, kSpan, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(region, nullptr);
    const auto base = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(region));
    EXPECT_EQ(FindMatchingBuildProbe(base), -1);  // nothing readable at all

    const std::uint32_t probe1011 = RebaseHostAddressFrom(base, 0x8245BC);
    void* page =
        VirtualAlloc(reinterpret_cast<void*>(static_cast<std::uintptr_t>(probe1011)), 4, MEM_COMMIT, PAGE_READONLY);
    ASSERT_NE(page, nullptr);
    DWORD old = 0;
    VirtualProtect(page, 4, PAGE_READWRITE, &old);
    *reinterpret_cast<std::uint32_t*>(static_cast<std::uintptr_t>(probe1011)) = 38079;
    VirtualProtect(page, 4, PAGE_READONLY, &old);
    EXPECT_EQ(FindMatchingBuildProbe(base), 2);
    // Committed but closed: read inside the bracket all the same, and closed again.
    for (DWORD closed : {DWORD{PAGE_NOACCESS}, DWORD{PAGE_READONLY | PAGE_GUARD}}) {
        VirtualProtect(page, 4, closed, &old);
        EXPECT_EQ(FindMatchingBuildProbe(base), 2) << closed;
        MEMORY_BASIC_INFORMATION info;
        VirtualQuery(page, &info, sizeof info);
        EXPECT_EQ(info.Protect, closed);
    }
    VirtualFree(page, 4096, MEM_DECOMMIT);  // reserved again: a mismatch
    EXPECT_EQ(FindMatchingBuildProbe(base), -1);
    VirtualFree(region, 0, MEM_RELEASE);
}

TEST(BuildDetection, CachedBuildStaysWhenProbedBytesChange) {
    const HostBuild first = GetHostBuild();
    standin::WriteBuildProbes(first == 3210 ? 1001 : 3210);
    EXPECT_EQ(GetHostBuild(), first);
    EXPECT_NE(DetectHostBuild(), first);
    EXPECT_EQ(GetHostImageBase(), 0x400000u);
}

TEST(AddressTranslation, RebaseIsModulo32Bits) {
    EXPECT_EQ(RebaseHostAddress(0x527A95), 0x527A95u);  // the stand-in loads at 0x400000
    EXPECT_EQ(RebaseHostAddressFrom(0x400000, 0x53E981), 0x53E981u);
    EXPECT_EQ(RebaseHostAddressFrom(0x10000000, 0x527A95), 0x10127A95u);
    EXPECT_EQ(RebaseHostAddressFrom(0x00300000, 0x401000), 0x00301000u);
    EXPECT_EQ(RebaseHostAddressFrom(0xFFF00000, 0x527A95), 0x00027A95u);  // wraps
    EXPECT_EQ(RebaseHostAddressFrom(0x400000, 0x3FF000), 0x3FF000u);
    EXPECT_EQ(RebaseHostAddressFrom(0x500000, 0x3FF000), 0x4FF000u);
}

}  // namespace
