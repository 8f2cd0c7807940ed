// Settings files and what loading each must leave behind, shared by the native
// reader tests (plain memory, under the sanitizers), the checker's tests and
// the plugin tests (the real DLL writing into the stand-in host). Expected
// values are written out from the file's text, never computed by the reader
// under test. Also the helpers those suites share: the reference file,
// reading text, what a load leaves in plain memory, and snapshot comparison.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "settings/SettingsFile.h"

namespace settings_cases {

// Every destination of a load, as raw bits.
struct Snapshot {
    std::int32_t reload = 0;
    std::uint32_t hostValues[6] = {};   // host values 1 to 6: lines 3, 4, 6, 7, 8, 9
    std::uint32_t codeConstant = 0;     // line 5, the constant in host code
    std::uint32_t block[4][7] = {};     // the host's aim block (lines 11-14)
    std::uint32_t offsets[16][3] = {};  // weaponOffsets (lines 16-31); kNotGiven: the host's own point
};

inline std::uint32_t Bits(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

constexpr std::uint32_t kHostFill = 0x7FC0DEAD;  // the stand-in's fill of host data
constexpr std::uint32_t kCodeFill = 0x3F8CCCCD;  // the host's own code constant, 1.1f
// An offset row no file has given: its weapon keeps the host's own aim point.
// (A NaN pattern that no settings file produces.)
constexpr std::uint32_t kNotGiven = 0xFFFFFFFF;

// Before any load: host data as the host has it, no offset row given.
inline Snapshot Initial() {
    Snapshot s;
    for (auto& f : s.hostValues) f = kHostFill;
    s.codeConstant = kCodeFill;
    for (auto& row : s.block)
        for (auto& f : row) f = kHostFill;
    for (auto& row : s.offsets)
        for (auto& f : row) f = kNotGiven;
    return s;
}

// Sets the first `count` values of offset row `row` as a load gives them: a
// row given for the first time starts from zero.
inline void GiveOffset(Snapshot& s, int row, const float* values, int count) {
    if (count == 0) return;
    if (s.offsets[row][0] == kNotGiven)
        for (auto& f : s.offsets[row]) f = 0;
    for (int i = 0; i < count; ++i) s.offsets[row][i] = Bits(values[i]);
}

// The reference file: every value distinct and exact in binary.
// Lines 3-9: L + 0.5; aim rows (lines 11-14): L + i/8; offsets (16-31): L + i/4.
inline std::vector<std::string> ReferenceLines() {
    std::vector<std::string> lines = {"reloadEveryFrame 0", "== a heading, 1 2 3 free text =="};
    const char* labels[] = {"a", "b", "code", "c", "d", "e", "f"};
    for (int line = 3; line <= 9; ++line)
        lines.push_back(std::string(labels[line - 3]) + " " + std::to_string(line) + ".5");
    lines.push_back("== aim block ==");
    for (int line = 11; line <= 14; ++line) {
        std::string text = "row" + std::to_string(line - 11);
        static const char* const eighths[7] = {"000", "125", "250", "375", "500", "625", "750"};
        for (int i = 0; i < 7; ++i) text += " " + std::to_string(line) + "." + eighths[i];
        lines.push_back(text);
    }
    lines.push_back("== weapon offsets ==");
    for (int line = 16; line <= 31; ++line)
        lines.push_back("w" + std::to_string(line - 16) + " " + std::to_string(line) + ".0 " + std::to_string(line) +
                        ".25 " + std::to_string(line) + ".5");
    return lines;
}

inline std::string Join(const std::vector<std::string>& lines, const char* end = "\n") {
    std::string text;
    for (const std::string& line : lines) text += line + end;
    return text;
}

// Sets what the destinations of file line `line` hold after the reference load.
inline void ApplyReferenceLine(Snapshot& s, int line) {
    static const int hostValueLine[6] = {3, 4, 6, 7, 8, 9};
    if (line == 1) s.reload = 0;
    for (int k = 0; k < 6; ++k)
        if (hostValueLine[k] == line) s.hostValues[k] = Bits(static_cast<float>(line) + 0.5f);
    if (line == 5) s.codeConstant = Bits(5.5f);
    if (line >= 11 && line <= 14)
        for (int i = 0; i < 7; ++i) s.block[line - 11][i] = Bits(static_cast<float>(line) + static_cast<float>(i) / 8);
    if (line >= 16 && line <= 31) {
        const float row[3] = {static_cast<float>(line), static_cast<float>(line) + 0.25f,
                              static_cast<float>(line) + 0.5f};
        GiveOffset(s, line - 16, row, 3);
    }
}

// The reference file with some lines replaced (1-based line numbers).
inline std::string ReferenceWith(const std::vector<std::pair<int, std::string>>& replacements, const char* end = "\n") {
    std::vector<std::string> lines = ReferenceLines();
    for (const auto& [line, text] : replacements) lines[static_cast<std::size_t>(line - 1)] = text;
    return Join(lines, end);
}

// The reference file with line `line` deleted, or with a blank line put
// before it (1-based line numbers).
std::string ReferenceWithout(int line);
// The reference's lines with the sample file's labels, as a player who keeps
// them has it.
std::vector<std::string> SampleLabelledLines();
std::string ReferenceWithBlankBefore(int line);

inline Snapshot Reference() {
    Snapshot s = Initial();
    for (int line = 1; line <= 31; ++line) ApplyReferenceLine(s, line);
    return s;
}

// Switches `category` to a locale whose decimal separator is a comma, as a
// host may; false (and the C locale back) when the machine has none.
inline bool UseDecimalCommaLocale(int category) {
    const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "German", "de-DE", "French"};
    for (const char* name : names)
        if (std::setlocale(category, name) && *std::localeconv()->decimal_point == ',') return true;
    std::setlocale(category, "C");
    return false;
}

// What a suite can see of a load: everything, or only what the host and its
// aim calls show (not the reload switch, not offset row 0, which serves no
// weapon).
enum class Seen { Everything, ByTheHost };

// The destinations that `seen` covers, compared bit for bit.
inline void ExpectSameSnapshot(const Snapshot& actual, const Snapshot& expected, Seen seen = Seen::Everything) {
    if (seen == Seen::Everything) {
        EXPECT_EQ(actual.reload, expected.reload) << "reload";
    }
    const int firstOffsetRow = seen == Seen::Everything ? 0 : 1;
    for (int k = 0; k < 6; ++k) EXPECT_EQ(actual.hostValues[k], expected.hostValues[k]) << "host value " << k + 1;
    EXPECT_EQ(actual.codeConstant, expected.codeConstant) << "code constant";
    for (int r = 0; r < 4; ++r)
        for (int i = 0; i < 7; ++i) EXPECT_EQ(actual.block[r][i], expected.block[r][i]) << "block " << r << "," << i;
    for (int r = firstOffsetRow; r < 16; ++r)
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(actual.offsets[r][i], expected.offsets[r][i]) << "offset " << r << "," << i;
}

// What one load of `file` leaves in plain memory that held `before`: the
// same destinations, the same rule for the aim block, as the plugin applies.
inline Snapshot AfterLoad(const settings::SettingsFile& file, Snapshot before = Initial()) {
    using settings::LineKind;
    Snapshot s = before;
    const settings::LineValues& reload = file.Given(LineKind::ReloadSwitch);
    if (reload.count) s.reload = reload.integer;
    for (int k = 0; k < 6; ++k)
        if (file.Given(LineKind::HostValue, k).count)
            s.hostValues[k] = Bits(file.Given(LineKind::HostValue, k).values[0]);
    if (file.Given(LineKind::CodeConstant).count) s.codeConstant = Bits(file.Given(LineKind::CodeConstant).values[0]);
    for (int r = 0; r < 4; ++r)
        for (int i = 0; i < file.AimValuesPublished(r); ++i)
            s.block[r][i] = Bits(file.Given(LineKind::AimRow, r).values[i]);
    for (int r = 0; r < 16; ++r)
        GiveOffset(s, r, file.Given(LineKind::WeaponOffset, r).values, file.Given(LineKind::WeaponOffset, r).count);
    return s;
}

// Reads `text` as the settings file's bytes.
inline settings::SettingsFile Read(const std::string& text) {
    settings::SettingsFile file;
    settings::ReadSettingsFile(text.data(), text.size(), file);
    return file;
}

struct Case {
    const char* name;
    std::function<std::string()> contents;  // null: no file at all
    std::function<Snapshot()> expected;     // after one load, from Initial()
    // What the reader must say (part of one problem's text); "": nothing at
    // all; null: not looked at.
    const char* said = nullptr;
    // What the start-up's verdict must say of the settings (part of it),
    // written out from the file; null: not looked at.
    const char* verdict = nullptr;
};
inline void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

// Whether what `file` says is what `c` expects it to say; the failure names
// what was said.
testing::AssertionResult SaysWhatItShould(const Case& c, const settings::SettingsFile& file);

std::vector<Case> WellFormedCases();
std::vector<Case> HostileCases();
// The sample with one edit of the kind players make: another scheme of
// labels, a heading that names labels, a line moved, copied or deleted, a
// character that looks like another: each with what is applied, what is said
// and the verdict.
std::vector<Case> EditedSampleCases();

// Test names for GoogleTest's parameterised suites.
template <class ParamInfo>
std::string CaseName(const ParamInfo& info) {
    return info.param.name;
}

// Runs `suite` over every well-formed and every hostile case.
#define INSTANTIATE_SETTINGS_CASES(suite)                                                             \
    INSTANTIATE_TEST_SUITE_P(WellFormed, suite, testing::ValuesIn(settings_cases::WellFormedCases()), \
                             settings_cases::CaseName<testing::TestParamInfo<settings_cases::Case>>); \
    INSTANTIATE_TEST_SUITE_P(Hostile, suite, testing::ValuesIn(settings_cases::HostileCases()),       \
                             settings_cases::CaseName<testing::TestParamInfo<settings_cases::Case>>); \
    INSTANTIATE_TEST_SUITE_P(Edited, suite, testing::ValuesIn(settings_cases::EditedSampleCases()),   \
                             settings_cases::CaseName<testing::TestParamInfo<settings_cases::Case>>)

}  // namespace settings_cases
