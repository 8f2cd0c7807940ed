// The two tables of the settings file's lines, in README.md for developers and
// in docs/README.txt for players, against the layout in code: every line
// named once, each with what it really sets (the host address, the weapon
// codes, the number of values).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "host/HostConstants.h"
#include "settings/PluginIni.h"
#include "settings/SettingsLayout.h"
#include "settings/WeaponTable.h"

namespace {

using settings::LineKind;

struct Row {
    int first, last;     // the file lines the row covers
    std::string values;  // the values column (README.md only)
    std::string sets;    // what it sets, in words
};

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// README.md: "| 11–14 | 7 each | the four rows ... |".
std::vector<Row> MarkdownRows(const std::string& text) {
    std::vector<Row> rows;
    const std::regex row(R"(\| (\d+)(?:–(\d+))? \| ([^|]*) \| ([^|]*) \|)");
    for (std::sregex_iterator it(text.begin(), text.end(), row), end; it != end; ++it) {
        const int first = std::stoi((*it)[1]);
        rows.push_back({first, (*it)[2].matched ? std::stoi((*it)[2]) : first, (*it)[3], (*it)[4]});
    }
    return rows;
}

// docs/README.txt: "  lines 11-14 the four rows ..." under its heading.
std::vector<Row> TextRows(const std::string& text) {
    std::vector<Row> rows;
    // The section runs to the next one, two blank lines on.
    const std::size_t section = text.find("The settings file, line by line");
    const std::size_t next = section == std::string::npos ? section : text.find("\n\n\n", section);
    const std::string body = section == std::string::npos ? "" : text.substr(section, next - section);
    const std::regex row(R"(\n  lines? (\d+)(?:-(\d+))? +([^\n]*))");
    for (std::sregex_iterator it(body.begin(), body.end(), row), end; it != end; ++it) {
        const int first = std::stoi((*it)[1]);
        rows.push_back({first, (*it)[2].matched ? std::stoi((*it)[2]) : first, "", (*it)[3]});
    }
    return rows;
}

std::string Hex(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%06X", address);
    return text;
}

// The numbers of 2 digits or more in `text`, in order (weapon codes).
std::vector<int> Codes(const std::string& text) {
    std::vector<int> codes;
    const std::regex number(R"(\b(\d{2})\b)");
    for (std::sregex_iterator it(text.begin(), text.end(), number), end; it != end; ++it)
        codes.push_back(std::stoi((*it)[1]));
    return codes;
}

bool Has(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

void ExpectTheLayout(const std::vector<Row>& rows, bool withValueCounts) {
    int covered[settings::kLineCount + 1] = {};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "lines " << row.first << "-" << row.last << ": " << row.sets);
        ASSERT_GE(row.first, 1);
        ASSERT_LE(row.last, settings::kLineCount);
        std::vector<int> expectedCodes;
        for (int line = row.first; line <= row.last; ++line) {
            ++covered[line];
            const settings::LineLayout& layout = settings::kLayout[line - 1];
            EXPECT_EQ(layout.kind, settings::kLayout[row.first - 1].kind) << "one kind of line per row";
            if (withValueCounts) {
                const std::string count = layout.values ? std::to_string(layout.values) : "–";
                EXPECT_EQ(row.values.rfind(count, 0), 0u) << "values: " << row.values;
            }
            switch (layout.kind) {
                case LineKind::ReloadSwitch:
                    EXPECT_TRUE(Has(row.sets, "live reload"));
                    break;
                case LineKind::FreeText:
                    EXPECT_TRUE(Has(row.sets, "heading"));
                    break;
                case LineKind::HostValue:
                    EXPECT_TRUE(Has(row.sets, "game value at " + Hex(host::kAimValues[layout.index])));
                    break;
                case LineKind::CodeConstant:
                    EXPECT_TRUE(Has(row.sets, "code") && Has(row.sets, Hex(host::kAimCodeConstant)));
                    break;
                case LineKind::AimRow:
                    EXPECT_TRUE(Has(row.sets, "aim block"));
                    break;
                case LineKind::WeaponOffset:
                    if (layout.index == 0)
                        EXPECT_TRUE(Has(row.sets, "no weapon") || Has(row.sets, "not used by any weapon"));
                    else
                        expectedCodes.push_back(static_cast<int>(weapons::CodeOfRow(layout.index)));
                    break;
            }
        }
        EXPECT_EQ(Codes(row.sets.substr(row.sets.find("weapon") == std::string::npos ? row.sets.size()
                                                                                     : row.sets.find("weapon"))),
                  expectedCodes);
    }
    for (int line = 1; line <= settings::kLineCount; ++line) EXPECT_EQ(covered[line], 1) << "line " << line;
}

TEST(SettingsTables, TheDevelopersReadmeHasTheLayoutInCode) {
    const std::vector<Row> rows = MarkdownRows(Read(PROJECT_SOURCE_DIR "/README.md"));
    ASSERT_FALSE(rows.empty());
    ExpectTheLayout(rows, true);
}

TEST(SettingsTables, ThePlayersGuideHasTheLayoutInCode) {
    const std::vector<Row> rows = TextRows(Read(PROJECT_SOURCE_DIR "/docs/README.txt"));
    ASSERT_FALSE(rows.empty());
    ExpectTheLayout(rows, false);
}

// The key names of the player's guide, under "Options: AimingPlugin.ini",
// against those the ini reader takes: each one listed (a range such as
// "F1 to F12" lists those between), and nothing listed that it does not take.
TEST(KeyNames, ThePlayersGuideListsExactlyTheNamesTheIniTakes) {
    const std::string text = Read(PROJECT_SOURCE_DIR "/docs/README.txt");
    const std::size_t section = text.find("The names of the keys, in any case:");
    ASSERT_NE(section, std::string::npos);
    const std::string list = text.substr(section, text.find("\n\n", text.find("  mouse", section)) - section);
    std::vector<std::string> listed;
    const std::regex word(R"(\b([A-Z][A-Za-z0-9]*|[0-9])\b(?: to ([A-Za-z]*)([0-9A-Z]+))?)");
    for (std::sregex_iterator it(list.begin(), list.end(), word), end; it != end; ++it) {
        const std::string first = (*it)[1];
        if (!(*it)[3].matched) {
            listed.push_back(first);
            continue;
        }
        // "F1 to F12", "A to Z", "0 to 9", "Numpad0 to Numpad9".
        const std::string prefix = (*it)[2];
        const std::string from = first.substr(prefix.size()), to = (*it)[3];
        if (from.size() == 1 && to.size() == 1 && !std::isdigit(static_cast<unsigned char>(from[0]))) {
            for (char c = from[0]; c <= to[0]; ++c) listed.push_back(prefix + c);
        } else {
            for (int n = std::stoi(from); n <= std::stoi(to); ++n) listed.push_back(prefix + std::to_string(n));
        }
    }
    // The words of the guide's own sentences in the list.
    const std::vector<std::string> prose = {"The", "Windows"};
    std::vector<std::string> names;
    for (std::size_t i = 0; i < settings::kKeyNameCount; ++i) names.push_back(settings::kKeyNames[i].name);
    for (const std::string& name : names)
        EXPECT_NE(std::find(listed.begin(), listed.end(), name), listed.end()) << name << " is not listed";
    for (const std::string& name : listed)
        if (std::find(prose.begin(), prose.end(), name) == prose.end())
            EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name << " is listed, not taken";
}

}  // namespace
