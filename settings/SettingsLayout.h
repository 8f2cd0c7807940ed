// The 31 lines of aimingSets.dat: what each line sets, named by destination
// (host value, code constant, aim row, weapon offset row), never by where
// that destination lies in the host.
#pragma once

#include <cstddef>
#include <cstdint>

namespace settings {

constexpr int kLineCount = 31;
constexpr std::size_t kLineBufferSize = 512;   // at most 511 characters of a line are kept
constexpr std::size_t kLabelBufferSize = 128;  // labels longer than 127 characters are reported
constexpr int kMaxValuesPerLine = 7;
constexpr int kHostValueCount = 6;
constexpr int kAimRowCount = 4;
constexpr int kAimRowLength = 7;
constexpr int kWeaponOffsetRows = 16;

enum class LineKind : std::uint8_t {
    ReloadSwitch,  // "%s %d"    -> reloadEveryFrame
    FreeText,      // read and discarded
    HostValue,     // "%s %f"    -> host value `index`
    CodeConstant,  // "%s %f"    -> the float constant in the host's code
    AimRow,        // "%s %f x7" -> aim row `index`, then the host block
    WeaponOffset,  // "%s %f x3" -> weapon offset row `index`
};

struct LineLayout {
    LineKind kind;
    std::uint8_t values;  // numbers the line converts
    std::uint8_t index;   // host value, aim row or weapon offset row
};

constexpr LineLayout kLayout[kLineCount] = {
    {LineKind::ReloadSwitch, 1, 0},   //  1
    {LineKind::FreeText, 0, 0},       //  2
    {LineKind::HostValue, 1, 0},      //  3
    {LineKind::HostValue, 1, 1},      //  4
    {LineKind::CodeConstant, 1, 0},   //  5
    {LineKind::HostValue, 1, 2},      //  6
    {LineKind::HostValue, 1, 3},      //  7
    {LineKind::HostValue, 1, 4},      //  8
    {LineKind::HostValue, 1, 5},      //  9
    {LineKind::FreeText, 0, 0},       // 10
    {LineKind::AimRow, 7, 0},         // 11
    {LineKind::AimRow, 7, 1},         // 12
    {LineKind::AimRow, 7, 2},         // 13
    {LineKind::AimRow, 7, 3},         // 14
    {LineKind::FreeText, 0, 0},       // 15
    {LineKind::WeaponOffset, 3, 0},   // 16
    {LineKind::WeaponOffset, 3, 1},   // 17
    {LineKind::WeaponOffset, 3, 2},   // 18
    {LineKind::WeaponOffset, 3, 3},   // 19
    {LineKind::WeaponOffset, 3, 4},   // 20
    {LineKind::WeaponOffset, 3, 5},   // 21
    {LineKind::WeaponOffset, 3, 6},   // 22
    {LineKind::WeaponOffset, 3, 7},   // 23
    {LineKind::WeaponOffset, 3, 8},   // 24
    {LineKind::WeaponOffset, 3, 9},   // 25
    {LineKind::WeaponOffset, 3, 10},  // 26
    {LineKind::WeaponOffset, 3, 11},  // 27
    {LineKind::WeaponOffset, 3, 12},  // 28
    {LineKind::WeaponOffset, 3, 13},  // 29
    {LineKind::WeaponOffset, 3, 14},  // 30
    {LineKind::WeaponOffset, 3, 15},  // 31
};

// The labels of the sample file (settings/aimingSets.dat), line by line; a
// heading has none. Players keep them as they edit, so a label found on
// another line's place shows a line deleted or added above it.
constexpr const char* kSampleLabels[kLineCount] = {
    "reloadEveryFrame",
    nullptr,
    "hostFloat_8CC4B4",
    "hostFloat_8CC4B8",
    "codeConstant_521632",
    "hostFloat_8CC4B0",
    "hostFloat_8CC4AC",
    "hostFloat_8CC4A8",
    "hostFloat_8CC4A0",
    nullptr,
    "aimRow0",
    "aimRow1",
    "aimRow2",
    "aimRow3",
    nullptr,
    "unusedRow0",
    "weapon22",
    "weapon23",
    "weapon24",
    "weapon25",
    "weapon26",
    "weapon27",
    "weapon28",
    "weapon29",
    "weapon32",
    "weapon30",
    "weapon31",
    "weapon33",
    "weapon19",
    "weapon20",
    "weapon37",
};

// The file line (1-based) that gives destination `index` of `kind`, 0 for none.
constexpr int LineOf(LineKind kind, int index = 0) {
    for (int line = 0; line < kLineCount; ++line)
        if (kLayout[line].kind == kind && kLayout[line].index == index) return line + 1;
    return 0;
}

}  // namespace settings
