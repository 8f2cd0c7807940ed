// The settings checker: the problems it reports for a table of files, and
// that it reads every file of the settings cases exactly as the plugin does.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "../IniCases.h"
#include "../SettingsCases.h"
#include "tools/settings_checker/IniCheck.h"
#include "tools/settings_checker/SettingsCheck.h"

namespace {

using settings_cases::Bits;

checker::Report CheckText(const std::string& text) {
    return checker::Check(text);
}

// The reference file with offset row 0 at zero (values there would do
// nothing, which the checker reports), and some lines replaced.
std::string Sound(std::vector<std::pair<int, std::string>> replacements) {
    replacements.insert(replacements.begin(), {16, "w0 0 0 0"});
    return settings_cases::ReferenceWith(replacements);
}

// The sample's labels on the reference's values, with line `line` deleted
// (`inserted` null) or `inserted` put in before it.
std::string SampleLabelledWith(int line, const char* inserted) {
    std::vector<std::string> lines = settings_cases::SampleLabelledLines();
    lines[15] = "unusedRow0 0 0 0";  // a row that serves no weapon, left at zero as in the sample
    if (inserted)
        lines.insert(lines.begin() + (line - 1), inserted);
    else
        lines.erase(lines.begin() + (line - 1));
    return settings_cases::Join(lines);
}

struct ProblemCase {
    const char* name;
    std::string text;
    int status;
    std::vector<std::pair<int, std::string>> problems;  // line (0: file), a fragment of the text
};

class CheckerProblems : public testing::TestWithParam<ProblemCase> {};

TEST_P(CheckerProblems, ReportsExactlyTheseProblems) {
    const ProblemCase& c = GetParam();
    const checker::Report report = CheckText(c.text);
    EXPECT_EQ(checker::ExitStatus(report), c.status);
    ASSERT_EQ(report.problems.size(), c.problems.size()) << checker::FormatText(report, c.name);
    for (std::size_t i = 0; i < c.problems.size(); ++i) {
        EXPECT_EQ(report.problems[i].line, c.problems[i].first) << report.problems[i].text;
        EXPECT_NE(report.problems[i].text.find(c.problems[i].second), std::string::npos)
            << report.problems[i].text << " lacks: " << c.problems[i].second;
    }
}

const std::string kLong(600, 'x');

INSTANTIATE_TEST_SUITE_P(
    Files, CheckerProblems,
    testing::Values(
        ProblemCase{"sound", Sound({}), 0, {}},
        ProblemCase{"partial_row",
                    Sound({{12, "row1 1 2 3"}}),
                    1,
                    {{12,
                      "only 3 of 7 values read: values 4 to 7 of aim row 1 stay as the game holds them (its own, or an "
                      "earlier save's)"}}},
        ProblemCase{"nothing_converted",
                    Sound({{4, "b x4.5"}}),
                    1,
                    {{4, "the 1st value, \"x4.5\", is not a number: the game keeps its own value for this line"}}},
        ProblemCase{"blank_value_line",
                    Sound({{20, ""}}),
                    1,
                    {{20, "the line is blank: weapon type 25 keeps the game's own aim point"}}},
        // A number as the label, every value there: nothing to say.
        ProblemCase{"number_for_label", Sound({{3, "3.5 4.5"}}), 0, {}},
        ProblemCase{"number_for_label_short",
                    Sound({{17, "1 2 3"}}),
                    1,
                    {{17, "only 2 of 3 values read"}, {17, "starts with a number"}}},
        ProblemCase{"line_5_not_a_number", Sound({{5, "code abc"}}), 1, {{5, "the code constant is left as it was"}}},
        ProblemCase{"long_line", Sound({{2, kLong}}), 1, {{2, "longer than 511 characters"}}},
        ProblemCase{"short_file",
                    settings_cases::Join({"reload 0", "x", "a 1"}),
                    1,
                    {{0, "3 line(s) instead of 31: lines 4 to 31"},
                     {0,
                      "weapon types 22, 23, 24, 25, 26, 27, 28, 29, 32, 30, 31, 33, 19, 20, 37 keep the game's own "
                      "aim point"}}},
        ProblemCase{"empty_file", "", 1, {{0, "0 line(s) instead of 31"}, {0, "weapon types 22,"}}},
        ProblemCase{"file_ending_at_line_29",
                    Sound({}).substr(0, Sound({}).find("w14")),
                    1,
                    {{0, "29 line(s) instead of 31"}, {0, "weapon types 20, 37 keep the game's own aim point"}}},
        // A line missing or one too many, named where the shapes of the lines tell.
        ProblemCase{"deleted_line_7",
                    settings_cases::ReferenceWithout(7),
                    1,
                    {{3,
                      "one of lines 3 to 9 seems missing: the text on line 9 belongs to line 10, and every line from 3 "
                      "on is read one line early, so nothing from line 3 on is applied"},
                     {0, "30 line(s) instead of 31: line 31 is missing"},
                     {0, "if you deleted a line, every line below it moved up"},
                     {0, "weapon type 37 keeps the game's own aim point"}}},
        ProblemCase{"blank_line_after_9",
                    settings_cases::ReferenceWithBlankBefore(10),
                    1,
                    {{10, "one of lines 10 to 11 seems to be one too many"}, {0, "lines after line 31"}}},
        ProblemCase{"deleted_heading_15",
                    settings_cases::ReferenceWithout(15),
                    1,
                    {{15, "line 15 seems missing: the text on line 15 belongs to line 16"},
                     {0, "30 line(s) instead of 31"},
                     {0, "if you deleted a line, every line below it moved up"},
                     {0, "weapon type 37 keeps"}}},
        // The sample's labels name the line exactly.
        ProblemCase{"sample_line_20_deleted",
                    SampleLabelledWith(20, nullptr),
                    1,
                    {{20,
                      "line 20 is labelled weapon26, which belongs on line 21, and the labels below agree: a line "
                      "above it (weapon25's) seems missing; nothing from there on is applied (the game keeps its own "
                      "values for those lines, or "
                      "your last save's)"},
                     {0, "30 line(s) instead of 31"},
                     {0, "if you deleted a line, every line below it moved up"},
                     {0, "weapon type 37 keeps"}}},
        ProblemCase{
            "sample_line_16_deleted",
            SampleLabelledWith(16, nullptr),
            1,
            {{16,
              "line 16 is labelled weapon22, which belongs on line 17, and the labels below agree: a line above "
              "it (unusedRow0's)"},
             {0, "30 line(s) instead of 31"},
             {0, "if you deleted a line"},
             {0, "weapon type 37 keeps"}}},
        ProblemCase{"sample_comment_line_17",
                    SampleLabelledWith(17, "; my notes"),
                    1,
                    {{17,
                      "line 17 is a comment on a line of its own, and a comment counts as a line: put it after the "
                      "numbers of a line, or remove it"},
                     {0, "the file has lines after line 31"}}},
        ProblemCase{"sample_line_21_copied",
                    SampleLabelledWith(22, "weapon26 21.0 21.25 21.5"),
                    1,
                    {{22,
                      "line 22 is labelled weapon26, which belongs on line 21, and the labels below agree: a line "
                      "above it seems to be one too many (a copied or added line?)"},
                     {0, "the file has lines after line 31"}}},
        // Counts that do not fit.
        ProblemCase{"label_with_a_space",
                    Sound({{25, "weapon 25 0.16 0.01 0.63"}}),
                    1,
                    {{25,
                      "4 numbers where 3 belong: is there a space in the label (\"weapon\" followed by a whole "
                      "number)? Nothing on this line is applied, so weapon type 32 keeps the game's own aim point"}}},
        ProblemCase{"first_value_glued_to_the_label",
                    Sound({{20, "weapon25=0.16 0.01 0.63"}}),
                    1,
                    {{20,
                      "the label \"weapon25=0.16\" holds the first number after its ':' or '=': put a space between "
                      "the label and the numbers; nothing on this line is applied meanwhile"}}},
        ProblemCase{"more_numbers_than_the_line_takes",
                    Sound({{12, "row1 1 2 3 4 5 6 7 8 9"}, {3, "a 1.5 2.5"}}),
                    1,
                    {{3, "2 numbers where 1 belongs: the numbers after the first 1 are ignored"},
                     {12, "9 numbers where 7 belong: the numbers after the first 7 are ignored"}}},
        // Every word that is no number is quoted, with true advice.
        ProblemCase{"letter_o_for_zero",
                    Sound({{4, "b O.5"}}),
                    1,
                    {{4, "the 1st value, \"O.5\", is not a number (a letter in place of a digit? write 0.5)"}}},
        ProblemCase{"two_decimal_points",
                    Sound({{6, "c 0..5"}}),
                    1,
                    {{6, "the 1st value, \"0..5\", is not a number (it has more than one decimal point or comma"}}},
        ProblemCase{"a_bad_first_value_is_quoted",
                    Sound({{11, "row0 x 1 2 3 4 5 6"}}),
                    1,
                    {{11, "the 1st value, \"x\", is not a number"}}},
        // Old files read as the plain C reading took them.
        ProblemCase{"glued_comments_and_trailing_commas",
                    Sound({{1, "reload 0;"}, {3, "a 3.5;wide"}, {4, "b 4.5#x"}, {17, "w1 0.10, 0.00, 0.60"}}),
                    0,
                    {}},
        ProblemCase{"ctrl_z_at_the_end", Sound({}) + "\x1A", 0, {}},
        ProblemCase{"ctrl_z_in_the_middle",
                    Sound({{22, "\x1Aw6 22.0 22.25 22.5"}}),
                    1,
                    {{0, "21 line(s) instead of 31"},
                     {0,
                      "line 22 holds a Ctrl-Z character (an end-of-file mark that old DOS programs write): "
                      "nothing after it is read"},
                     {0, "weapon types 27, 28, 29, 32, 30, 31, 33, 19, 20, 37 keep the game's own aim point"}}},
        ProblemCase{"cr_only_line_ends",
                    settings_cases::Join(settings_cases::ReferenceLines(), "\r"),
                    1,
                    {{16, "serves no weapon"}}},
        ProblemCase{"ctrl_z_after_crlf",
                    [] {
                        std::vector<std::string> lines = settings_cases::ReferenceLines();
                        lines[15] = "w0 0 0 0";
                        return settings_cases::Join(lines, "\r\n") + "\x1A";
                    }(),
                    0,
                    {}},
        // Words that begin like a number and go on: what was meant, and how to write it.
        ProblemCase{"decimal_comma",
                    Sound({{17, "w1 0,75 1 2"}}),
                    1,
                    {{17,
                      "the 1st value, \"0,75\", is not a number (the decimal separator is a point: write 0.75): weapon "
                      "type 22 keeps the game's own aim point"}}},
        ProblemCase{"decimal_comma_after_a_number",
                    Sound({{18, "w2 1 0,5 2"}}),
                    1,
                    {{18,
                      "the 2nd value, \"0,5\", is not a number (the decimal separator is a point: write 0.5): y and z "
                      "are 0 in the game (or keep what your last save gave)"}}},
        ProblemCase{"hexadecimal",
                    Sound({{5, "code 0x3F8CCCCD"}}),
                    1,
                    {{5,
                      "\"0x3F8CCCCD\", is not a number (hexadecimal numbers are not read: write the value in "
                      "decimal): the code constant is left as it was"}}},
        ProblemCase{
            "fraction", Sound({{4, "b 1/2"}}), 1, {{4, "(a fraction is not read: write it as a decimal, like 0.5)"}}},
        ProblemCase{"thousands_comma",
                    Sound({{4, "b 1,000"}}),
                    1,
                    {{4, "(the decimal separator is a point: write 1.000, or 1000 for thousands)"}}},
        ProblemCase{"number_glued_to_a_label_with_a_space",
                    Sound({{20, "Weapon 25: 0.16 0.01 0.63"}}),
                    1,
                    {{20,
                      "\"25:\", is not a number (it looks like part of the label: write the label as one word, "
                      "then the numbers)"}}},
        ProblemCase{"live_reload_as_a_word",
                    Sound({{1, "reloadEveryFrame on"}}),
                    1,
                    {{1, "line 1 takes a whole number: 1 (on) or 0 (off)"}}},
        ProblemCase{"weapon_row_with_two_numbers",
                    Sound({{20, "w4 0.16 0.01"}}),
                    1,
                    {{20, "only 2 of 3 values read: z is 0 in the game (or keeps what your last save gave)"}}},
        ProblemCase{"msvc_infinity",
                    Sound({{4, "b -1.#INF"}}),
                    1,
                    {{4, "\"-1.#INF\", is not a number (infinity and NaN are no value the game can use"}}},
        ProblemCase{"msvc_nan",
                    Sound({{4, "b 1.#IND"}}),
                    1,
                    {{4, "(infinity and NaN are no value the game can use: write a number)"}}},
        ProblemCase{"letters_after_a_number",
                    Sound({{8, "e 12abc"}}),
                    1,
                    {{8, "\"12abc\", is not a number (write 12, or put a space after it)"}}},
        ProblemCase{"reload_with_letters", Sound({{1, "reload 1x"}}), 1, {{1, "\"1x\", is not a number (write 1"}}},
        ProblemCase{"c_float_suffix_is_fine", Sound({{3, "a 3.5f"}, {17, "w1 1.5F 2 3f"}}), 0, {}},
        ProblemCase{"lines_after_31", Sound({}) + "more 1\n", 1, {{0, "after line 31"}}},
        ProblemCase{
            "infinity_and_nan",
            Sound({{3, "a 1e39"}, {18, "w2 nan 1 -inf"}}),
            1,
            {{3,
              "the 1st number, 1e39, is too big for a game value (the largest is about 3.4e38): nothing on this "
              "line is applied"},
             {18, "the 1st number is not a number (nan), which no game value can be"}}},
        ProblemCase{"long_label", Sound({{7, std::string(128, 'L') + " 7.5"}}), 1, {{7, "128 characters long"}}},
        ProblemCase{"label_of_127_is_fine", Sound({{7, std::string(127, 'L') + " 7.5"}}), 0, {}},
        ProblemCase{"row_0_with_values", Sound({{16, "w0 1 0 0"}}), 1, {{16, "serves no weapon"}}},
        ProblemCase{"row_0_zero_is_fine", Sound({{16, "w0 0 0 0"}}), 0, {}},
        ProblemCase{"fraction_in_reload", Sound({{1, "reload 1.9"}}), 1, {{1, "whole numbers only"}}},
        ProblemCase{"fraction_after_a_digit_label", Sound({{1, "reload1 1.5"}}), 1, {{1, "whole numbers only"}}},
        ProblemCase{"whole_reload_value", Sound({{1, "reload1 1 2.5"}}), 1, {{1, "2 numbers where 1 belongs"}}}),
    [](const testing::TestParamInfo<ProblemCase>& p) { return std::string(p.param.name); });

TEST(Checker, NamesTheEncodingItFoundAndReadsTheSameValues) {
    const std::string text = Sound({});
    std::string littleEndian = "\xFF\xFE", bigEndian = "\xFE\xFF";
    for (char c : text) {
        littleEndian += {c, '\0'};
        bigEndian += {'\0', c};
    }
    struct Case {
        std::string bytes;
        settings::Encoding encoding;
        const char* named;
    };
    const Case cases[] = {
        {text, settings::Encoding::Plain, "encoding: plain text"},
        {"\xEF\xBB\xBF" + text, settings::Encoding::Utf8WithMark, "encoding: UTF-8 with a byte-order mark"},
        {littleEndian, settings::Encoding::Utf16LittleEndian, "encoding: UTF-16, little endian"},
        {bigEndian, settings::Encoding::Utf16BigEndian, "encoding: UTF-16, big endian"},
        {littleEndian.substr(2), settings::Encoding::Utf16LittleEndianWithoutMark,
         "encoding: UTF-16, little endian, without a byte-order mark"},
        {bigEndian.substr(2), settings::Encoding::Utf16BigEndianWithoutMark,
         "encoding: UTF-16, big endian, without a byte-order mark"},
    };
    const checker::Report plain = CheckText(text);
    for (const Case& c : cases) {
        const checker::Report report = CheckText(c.bytes);
        EXPECT_EQ(report.file.encoding, c.encoding) << c.named;
        EXPECT_NE(checker::FormatText(report, "f").find(c.named), std::string::npos)
            << checker::FormatText(report, "f");
        EXPECT_EQ(checker::ExitStatus(report), 0) << checker::FormatText(report, "f");
        ASSERT_EQ(report.lines.size(), plain.lines.size());
        for (std::size_t i = 0; i < plain.lines.size(); ++i) EXPECT_EQ(report.lines[i].values, plain.lines[i].values);
    }
}

TEST(Checker, LineByLineReportNamesEveryDestination) {
    const checker::Report report = CheckText(Sound({}));
    ASSERT_EQ(report.lines.size(), 31u);
    EXPECT_EQ(report.lines[0].sets, "live reload switch (0 off, anything else on)");
    EXPECT_EQ(report.lines[1].sets, "free text (a heading, never read as values)");
    EXPECT_EQ(report.lines[2].sets, "host float at 0x8CC4B4");
    EXPECT_EQ(report.lines[4].sets, "float constant in host code at 0x521632");
    EXPECT_EQ(report.lines[11].sets, "aim block row 1 (host 0x8CC4DC)");
    EXPECT_EQ(report.lines[15].sets, "weapon offset row 0 (serves no weapon)");
    EXPECT_EQ(report.lines[24].sets, "weapon offset row 9 (weapon type 32)");
    EXPECT_EQ(report.lines[25].sets, "weapon offset row 10 (weapon type 30)");
    EXPECT_EQ(report.lines[30].sets, "weapon offset row 15 (weapon type 37)");
    EXPECT_EQ(report.lines[12].values,
              (std::vector<std::string>{"13", "13.125", "13.25", "13.375", "13.5", "13.625", "13.75"}));
    const std::string json = checker::FormatJson(report, "a\"b.dat");
    EXPECT_NE(json.find("\"file\": \"a\\\"b.dat\""), std::string::npos);
    EXPECT_NE(json.find("\"status\": 0"), std::string::npos);
}

// The checker reads each settings case exactly as the plugin does, and every
// value it shows is the value that reaches its destination.
class CheckerAgrees : public testing::TestWithParam<settings_cases::Case> {};

TEST_P(CheckerAgrees, WithThePluginOnEverySettingsCase) {
    const settings_cases::Case& c = GetParam();
    if (!c.contents) {
        EXPECT_EQ(checker::ExitStatus(checker::CheckFile("/nonexistent/aimingSets.dat")), 2);
        return;
    }
    const checker::Report report = CheckText(c.contents());
    settings_cases::ExpectSameSnapshot(settings_cases::AfterLoad(report.file), c.expected());
    ASSERT_EQ(static_cast<int>(report.lines.size()), report.file.linesRead);
    for (const checker::LineReport& line : report.lines) {
        const settings::LineValues& given = report.file.lines[line.number - 1];
        ASSERT_EQ(static_cast<int>(line.values.size()), given.count) << line.number;
        for (int i = 0; i < given.count; ++i) {
            const std::string& shown = line.values[static_cast<std::size_t>(i)];
            if (line.number == 1) {
                EXPECT_EQ(shown, std::to_string(given.integer));
            } else {
                const float value = std::strtof(shown.c_str(), nullptr);
                EXPECT_TRUE(Bits(value) == Bits(given.values[i]) ||
                            (value != value && given.values[i] != given.values[i]))
                    << "line " << line.number << " shows " << shown;
            }
        }
    }
}

INSTANTIATE_SETTINGS_CASES(CheckerAgrees);

// The file on disk: the checker names it whole on its first line, and where
// it is missing, or older than what Notepad's Save As left as
// aimingSets.dat.txt, says so.
TEST(Checker, NamesTheFileItCheckedAndANotepadCopy) {
    char folder[] = "/tmp/aimingsets-check-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dat = std::string(folder) + "/aimingSets.dat";
    std::ofstream(dat + ".txt", std::ios::binary) << Sound({});
    checker::Report missing = checker::CheckFile(dat);
    EXPECT_FALSE(missing.readable);
    EXPECT_NE(missing.unreadable.find("found aimingSets.dat.txt beside it: Notepad added .txt"), std::string::npos)
        << missing.unreadable;
    std::ofstream(dat, std::ios::binary) << Sound({});
    const std::string text = checker::FormatText(checker::CheckFile(dat), "aimingSets.dat");
    EXPECT_EQ(text.substr(0, text.find('\n')), "checked " + dat);
    // Beside the file, a copy saved after it is named, as the plugin's log
    // names it; an older one is not.
    const auto now = std::filesystem::last_write_time(dat);
    for (const bool newer : {true, false}) {
        std::filesystem::last_write_time(dat + ".txt",
                                         newer ? now + std::chrono::seconds(5) : now - std::chrono::seconds(5));
        const checker::Report report = checker::CheckFile(dat);
        const bool named = std::any_of(report.problems.begin(), report.problems.end(), [](const checker::Problem& p) {
            return p.text.find(
                       "found aimingSets.dat.txt beside it: Notepad added .txt; rename it to aimingSets.dat "
                       "(it is newer than this one)") != std::string::npos;
        });
        EXPECT_EQ(named, newer) << checker::FormatText(report, "aimingSets.dat");
        EXPECT_EQ(checker::ExitStatus(report), newer ? 1 : 0);
    }
    std::remove((dat + ".txt").c_str());
    std::remove(dat.c_str());
    rmdir(folder);
}

TEST(Checker, TemplateIsTheShippedSampleAndIsSound) {
    std::ifstream in(SAMPLE_SETTINGS, std::ios::binary);
    std::stringstream sample;
    sample << in.rdbuf();
    EXPECT_EQ(checker::TemplateText(), sample.str());
    EXPECT_EQ(checker::ExitStatus(CheckText(checker::TemplateText())), 0)
        << checker::FormatText(CheckText(checker::TemplateText()), "template");
    // Its labels are the ones the reader knows shifts by.
    std::istringstream lines(sample.str());
    std::string line;
    for (int number = 1; number <= settings::kLineCount && std::getline(lines, line); ++number) {
        const char* label = settings::kSampleLabels[number - 1];
        if (label) {
            EXPECT_EQ(line.substr(0, line.find(' ')), label) << "line " << number;
        }
    }
}

}  // namespace

// AimingPlugin.ini as the checker reads it from disk: the same options and
// the same words as the reader gives (and the plugin logs), a file that is
// not there told as no mistake; and beside a settings file it is found.
TEST(Checker, ReadsEachIniAsThePluginDoes) {
    char folder[] = "/tmp/aimingsets-ini-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/AimingPlugin.ini";
    for (const ini_cases::Case& c : ini_cases::Cases()) {
        SCOPED_TRACE(c.name);
        std::remove(path.c_str());
        if (c.contents) std::ofstream(path, std::ios::binary) << *c.contents;
        const checker::IniReport report = checker::CheckIniFile(path);
        const std::string text = checker::FormatIniText(report, "AimingPlugin.ini");
        if (!c.contents) {
            EXPECT_EQ(checker::IniExitStatus(report), 2);
            EXPECT_NE(text.find("without it the plugin keeps its defaults"), std::string::npos) << text;
            continue;
        }
        ASSERT_TRUE(report.readable);
        EXPECT_EQ(report.ini->options.holdKey, c.expected.holdKey);
        EXPECT_EQ(report.ini->options.latchKey, c.expected.latchKey);
        EXPECT_EQ(report.ini->options.toggleSound, c.expected.toggleSound);
        EXPECT_EQ(report.ini->options.loadedSound, c.expected.loadedSound);
        EXPECT_EQ(checker::IniExitStatus(report), *c.said ? 1 : 0) << text;
        if (*c.said) {
            EXPECT_NE(text.find(c.said), std::string::npos) << text;
        }
        char described[128];
        EXPECT_NE(text.find(settings::DescribeOptions(c.expected, described)), std::string::npos) << text;
    }
    std::remove(path.c_str());
    rmdir(folder);
}

// The ini the release carries is the checker's template, and says nothing:
// every option at its default.
TEST(Checker, TheShippedIniIsTheTemplateAndChangesNothing) {
    std::ifstream in(SAMPLE_INI, std::ios::binary);
    std::stringstream shipped;
    shipped << in.rdbuf();
    EXPECT_EQ(shipped.str(), settings::kIniTemplate);
}
