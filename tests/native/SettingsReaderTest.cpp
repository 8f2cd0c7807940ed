// The settings reader on its own, natively, under AddressSanitizer and
// UndefinedBehaviorSanitizer: conversions against the C library, line
// splitting and decoding, and every settings case in plain memory.
#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "../IniCases.h"
#include "../SettingsCases.h"
#include "settings/NumberRules.h"
#include "settings/SettingsFile.h"
#include "settings/TextLines.h"

namespace {

using settings_cases::Bits;
using settings_cases::Snapshot;

// ---- Conversions -------------------------------------------------------------
// strtof in the C locale is the meaning of "%f" for a float.
float LibraryFloat(const std::string& token) {
    return std::strtof(token.c_str(), nullptr);
}

TEST(ConvertFloat, AgreesWithTheCLibraryBitForBit) {
    const std::string tokens[] = {"0",
                                  "-0",
                                  "1",
                                  "1.5",
                                  "-1.5",
                                  ".5",
                                  "5.",
                                  "0.1",
                                  "0.3",
                                  "3.14159265358979",
                                  "1e10",
                                  "1E-10",
                                  "3.4028235e38",
                                  "3.4028236e38",
                                  "3.5e38",
                                  "1e39",
                                  "1e-38",
                                  "1.17549435e-38",
                                  "1e-45",
                                  "1.4e-45",
                                  "7e-46",
                                  "1e-50",
                                  "16777216",
                                  "16777217",
                                  "16777219",
                                  "33554435",
                                  "123456789012345678901234567890",
                                  "0.000000000000000000000000000000000000011754943508222875",
                                  "7.038531e-26",
                                  "1.000000059604644775390625",
                                  "1.00000005960464477539062499",
                                  "1.0000000596046447753906251",
                                  "8.589973e9",
                                  "1.5e-323",
                                  "4.9406564584124654e-324",
                                  "2.2250738585072011e-308",
                                  "9007199254740993",
                                  "0.00000000000000000000000000000000000000000000000000001",
                                  "1" + std::string(40, '0'),
                                  "0." + std::string(60, '0') + "1",
                                  "123456789e-20",
                                  "99999999999999999999e-5",
                                  "00000000001.5",
                                  "1e0000000000000000000000001",
                                  "1e-0000000000000000000000001"};
    for (const std::string& token : tokens) {
        float value = -12345.0f;
        const char* end = settings::ConvertFloat(token.data(), token.data() + token.size(), value);
        ASSERT_EQ(end, token.data() + token.size()) << token;
        EXPECT_EQ(Bits(value), Bits(LibraryFloat(token))) << token;
    }
}

TEST(ConvertFloat, RandomDecimalsAgreeWithTheCLibrary) {
    std::mt19937 random(20261210);
    for (int n = 0; n < 200000; ++n) {
        std::string token;
        if (random() % 2) token += '-';
        const int digits = 1 + static_cast<int>(random() % 24);
        const int point = static_cast<int>(random() % static_cast<unsigned>(digits + 1));
        for (int i = 0; i < digits; ++i) {
            if (i == point) token += '.';
            token += static_cast<char>('0' + random() % 10);
        }
        if (random() % 2) token += "e" + std::to_string(static_cast<int>(random() % 100) - 50);
        float value;
        settings::ConvertFloat(token.data(), token.data() + token.size(), value);
        ASSERT_EQ(Bits(value), Bits(LibraryFloat(token))) << token;
    }
}

// Decimals that lie next to the midpoint between two neighbouring floats:
// where a conversion that rounds twice (to double, then to float) goes one
// step wrong.
TEST(ConvertFloat, DecimalsNextToMidpointsRoundOnceAsTheCLibraryDoes) {
    struct Known {
        const char* text;
        std::uint32_t bits;
    };
    const Known known[] = {{"1.522838830947876e+1", 0x4173A77B}};
    for (const Known& k : known) {
        float value = 0;
        settings::ConvertFloat(k.text, k.text + std::strlen(k.text), value);
        EXPECT_EQ(Bits(value), k.bits) << k.text;
    }
    std::mt19937 random(4173);
    for (int n = 0; n < 100000; ++n) {
        // A finite positive float, its neighbour above, and the exact midpoint (a double).
        float below;
        const auto bits = static_cast<std::uint32_t>(random() % 0x7F7FFFFFu);
        std::memcpy(&below, &bits, 4);
        const double midpoint = (static_cast<double>(below) + static_cast<double>(std::nextafter(below, INFINITY))) / 2;
        for (int digits : {16, 17}) {
            char token[48];
            std::snprintf(token, sizeof token, "%.*e", digits - 1, midpoint);
            float value;
            settings::ConvertFloat(token, token + std::strlen(token), value);
            ASSERT_EQ(Bits(value), Bits(LibraryFloat(token))) << token;
        }
    }
}

TEST(ConvertFloat, LongestNumberPrefixOrNothing) {
    struct Case {
        const char* text;
        std::size_t used;  // 0: no number
        float value;
    };
    const Case cases[] = {
        {"1e", 1, 1.0f},   {"1e+", 1, 1.0f},   {"2e-x", 1, 2.0f},
        {"0x10", 1, 0.0f}, {"1,5", 1, 1.0f},   {"  -7.25abc", 7, -7.25f},
        {"+.5", 3, 0.5f},  {".", 0, 0},        {"-", 0, 0},
        {"+.e1", 0, 0},    {"e5", 0, 0},       {"abc", 0, 0},
        {"", 0, 0},        {"1.5.5", 3, 1.5f}, {"12e3.5", 4, 12000.0f},
        {"--1", 0, 0},
    };
    for (const Case& c : cases) {
        const std::string text = c.text;
        float value = 99.0f;
        const char* end = settings::ConvertFloat(text.data(), text.data() + text.size(), value);
        if (c.used == 0) {
            EXPECT_EQ(end, nullptr) << c.text;
        } else {
            ASSERT_NE(end, nullptr) << c.text;
            EXPECT_EQ(static_cast<std::size_t>(end - text.data()), c.used) << c.text;
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

// How the log and the checker print a value (both through FormatNumber):
// plain decimals where short, an exponent where not, and always the spelling
// that reads back to the very same float.
TEST(FormatNumber, PlainWhereShortAndAlwaysReadsBackToTheSameBits) {
    struct Case {
        float value;
        const char* text;
    };
    const Case cases[] = {
        {100000.0f, "100000"},
        {0.0001f, "0.0001"},
        {123456792.0f, "123456792"},
        {1.5f, "1.5"},
        {0.1f, "0.1"},
        {-0.0f, "-0"},
        {1e-40f, "1e-40"},
        {3.4028235e38f, "3.4028235e+38"},
        {16777216.0f, "16777216"},
        {-2.5e-7f, "-0.00000025"},
        {-2.5e-9f, "-2.5e-09"},
    };
    for (const Case& c : cases) {
        char text[settings::kNumberTextSize];
        const std::size_t length = settings::FormatNumber(c.value, text);
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(length, std::strlen(c.text));
        float back = 0;
        settings::ConvertFloat(text, text + length, back);
        EXPECT_EQ(Bits(back), Bits(c.value)) << text;
    }
    std::mt19937 random(9);
    for (int n = 0; n < 100000; ++n) {
        const auto bits = static_cast<std::uint32_t>(random() % 0x7F800000u);  // finite, positive
        float value;
        std::memcpy(&value, &bits, 4);
        char text[settings::kNumberTextSize];
        const std::size_t length = settings::FormatNumber(value, text);
        float back = 0;
        settings::ConvertFloat(text, text + length, back);
        ASSERT_EQ(Bits(back), bits) << text;
    }
    char text[settings::kNumberTextSize];
    settings::FormatNumber(std::numeric_limits<float>::infinity(), text);
    EXPECT_STREQ(text, "inf");
    settings::FormatNumber(std::numeric_limits<float>::quiet_NaN(), text);
    EXPECT_STREQ(text, "nan");
}

TEST(ConvertFloat, InfinityAndNan) {
    struct Case {
        const char* text;
        std::size_t used;
        int kind;  // 1: +inf, -1: -inf, 0: NaN
    };
    const Case cases[] = {{"inf", 3, 1}, {"-INF", 4, -1}, {"Infinity", 8, 1}, {"infinit", 3, 1},
                          {"nan", 3, 0}, {"-NaN", 4, 0},  {"nan(123)", 8, 0}, {"nan(12", 3, 0}};
    for (const Case& c : cases) {
        const std::string text = c.text;
        float value = 0;
        const char* end = settings::ConvertFloat(text.data(), text.data() + text.size(), value);
        ASSERT_NE(end, nullptr) << c.text;
        EXPECT_EQ(static_cast<std::size_t>(end - text.data()), c.used) << c.text;
        if (c.kind == 0) {
            EXPECT_TRUE(std::isnan(value)) << c.text;
        } else {
            EXPECT_TRUE(std::isinf(value) && (value > 0) == (c.kind > 0)) << c.text;
        }
    }
    std::string text = "info";
    float value = 0;
    EXPECT_NE(settings::ConvertFloat(text.data(), text.data() + 4, value), nullptr);  // "inf" + "o"
    text = "in";
    EXPECT_EQ(settings::ConvertFloat(text.data(), text.data() + 2, value), nullptr);
}

TEST(ConvertInt, DecimalWithSignStoppingAtThePointAndSaturating) {
    struct Case {
        const char* text;
        bool converts;
        std::int32_t value;
    };
    const Case cases[] = {{"0", true, 0},
                          {"1.9", true, 1},
                          {"-3", true, -3},
                          {"+42x", true, 42},
                          {"2147483647", true, 2147483647},
                          {"2147483648", true, 2147483647},
                          {"-2147483648", true, -2147483647 - 1},
                          {"-99999999999999999999", true, -2147483647 - 1},
                          {"4294967296", true, 2147483647},
                          {".5", false, 0},
                          {"-", false, 0},
                          {"x1", false, 0}};
    for (const Case& c : cases) {
        const std::string text = c.text;
        std::int32_t value = 77;
        const char* end = settings::ConvertInt(text.data(), text.data() + text.size(), value);
        EXPECT_EQ(end != nullptr, c.converts) << c.text;
        if (c.converts) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(ConvertFloat, LocaleWithACommaChangesNothing) {
    if (!settings_cases::UseDecimalCommaLocale(LC_NUMERIC)) GTEST_SKIP() << "no locale with a decimal comma here";
    const std::string tokens[] = {"1.5", "3.4028234e38", "123456789012345678901234567890.5", "0.1"};
    const float expected[] = {1.5f, 3.4028234e38f, 1.23456789e29f, 0.1f};
    for (std::size_t i = 0; i < 4; ++i) {
        float value = 0;
        settings::ConvertFloat(tokens[i].data(), tokens[i].data() + tokens[i].size(), value);
        EXPECT_EQ(Bits(value), Bits(expected[i])) << tokens[i];
    }
    std::setlocale(LC_NUMERIC, "C");
}

// ---- Lines -------------------------------------------------------------------
std::vector<std::string> LinesOf(const std::string& bytes, settings::Encoding* encoding = nullptr,
                                 std::vector<bool>* truncated = nullptr) {
    settings::TextLines text(bytes.data(), bytes.size());
    settings::Line line;
    std::vector<std::string> lines;
    while (text.Next(line)) {
        EXPECT_EQ(line.text[line.length], '\0');
        lines.emplace_back(line.text, line.length);
        if (truncated) truncated->push_back(line.truncated);
    }
    EXPECT_FALSE(text.Next(line));
    if (encoding) *encoding = text.TextEncoding();
    return lines;
}

TEST(TextLines, OneFileLineIsOneLine) {
    std::vector<bool> truncated;
    const std::vector<std::string> lines = LinesOf("a 1\r\n\n" + std::string(700, 'x') + "\nlast", nullptr, &truncated);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "a 1");  // CR LF is the line end
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], std::string(511, 'x'));
    EXPECT_EQ(truncated, (std::vector<bool>{false, false, true, false}));
    EXPECT_EQ(lines[3], "last");
}

// A line of exactly 511 characters saved with CR LF is whole; one character
// more is cut.
TEST(TextLines, CrLfAfterAFullLineIsTheLineEndNotAnOverflow) {
    for (std::size_t length : {510u, 511u, 512u}) {
        SCOPED_TRACE(length);
        std::vector<bool> truncated;
        const std::vector<std::string> lines = LinesOf(std::string(length, 'x') + "\r\nnext\r\n", nullptr, &truncated);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].size(), length < 511 ? length : 511u);
        EXPECT_EQ(truncated[0], length > 511);
        EXPECT_EQ(lines[1], "next");
    }
}

// Notepad's "Unicode": pairs of units beyond the 16-bit plane, a lone
// surrogate and half a unit at the end as UTF-8; a line cut in UTF-16 as in
// UTF-8.
TEST(TextLines, Utf16IsReadAsTheTextItHolds) {
    std::u16string text;
    for (int i = 0; i < 400; ++i) text += u"line " + std::u16string(1, static_cast<char16_t>(u'0' + i % 10)) + u"\r\n";
    text += u"\u00E4\U0001F3AF\xD800x\r\n" + std::u16string(600, u'y') + u"\r\nlast";
    for (bool little : {true, false}) {
        SCOPED_TRACE(little);
        std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
        for (char16_t u : text) {
            const char low = static_cast<char>(u & 0xFF), high = static_cast<char>(u >> 8);
            bytes += little ? std::string{low, high} : std::string{high, low};
        }
        settings::Encoding encoding;
        std::vector<bool> truncated;
        std::vector<std::string> lines = LinesOf(bytes + "z", &encoding, &truncated);
        ASSERT_EQ(lines.size(), 403u);
        for (int i = 0; i < 400; ++i) ASSERT_EQ(lines[static_cast<std::size_t>(i)], "line " + std::to_string(i % 10));
        EXPECT_EQ(lines[400], "\xC3\xA4\xF0\x9F\x8E\xAF\xEF\xBF\xBDx");
        EXPECT_EQ(lines[401], std::string(511, 'y'));
        EXPECT_TRUE(truncated[401]);
        EXPECT_EQ(lines[402], "last\xEF\xBF\xBD");
        EXPECT_EQ(encoding, little ? settings::Encoding::Utf16LittleEndian : settings::Encoding::Utf16BigEndian);
    }
}

// Nothing past the first 64 KiB is read, and the reader says so.
TEST(TextLines, StopsAtTheReadLimit) {
    for (std::size_t size : {settings::kMaxFileBytes - 1, settings::kMaxFileBytes, settings::kMaxFileBytes + 5}) {
        SCOPED_TRACE(size);
        const std::string bytes = std::string(size - 2, 'x') + "\nz";
        settings::TextLines text(bytes.data(), bytes.size());
        settings::Line line;
        ASSERT_TRUE(text.Next(line));
        EXPECT_TRUE(line.truncated);
        EXPECT_EQ(text.Next(line), size <= settings::kMaxFileBytes);
        EXPECT_EQ(text.LimitReached(), size >= settings::kMaxFileBytes);
    }
}

// ---- Whole loads -------------------------------------------------------------
class SettingsCases : public testing::TestWithParam<settings_cases::Case> {};

TEST_P(SettingsCases, LoadLeavesExactlyTheExpectedValues) {
    const settings_cases::Case& c = GetParam();
    // Opening the file is the plugin's and the checker's business: their suites run the no-file case.
    if (!c.contents) GTEST_SKIP() << "no file: nothing reaches the reader";
    const settings::SettingsFile file = settings_cases::Read(c.contents());
    settings_cases::ExpectSameSnapshot(settings_cases::AfterLoad(file), c.expected());
    EXPECT_TRUE(settings_cases::SaysWhatItShould(c, file));
}

INSTANTIATE_SETTINGS_CASES(SettingsCases);

TEST(SettingsCases, ReadsNoMoreThan31Lines) {
    const settings::SettingsFile file =
        settings_cases::Read(settings_cases::Join(settings_cases::ReferenceLines()) + "tail\n");
    EXPECT_EQ(file.linesRead, 31);
    EXPECT_TRUE(file.linesAfterLast);
    settings_cases::ExpectSameSnapshot(settings_cases::AfterLoad(file), settings_cases::Reference());
}

}  // namespace

// ---- AimingPlugin.ini ---------------------------------------------------------
namespace {

testing::AssertionResult Said(const settings::Problems& problems, const char* said) {
    std::string all;
    bool found = false;
    for (int i = 0; i < problems.Kept(); ++i) {
        all += std::string("\n  line ") + std::to_string(problems.kept[i].line) + ": " + problems.kept[i].text;
        found |= *said && std::strstr(problems.kept[i].text, said) != nullptr;
    }
    if (*said ? found : problems.count == 0) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "expected " << (*said ? said : "nothing") << ", said:" << all;
}

void ExpectSameOptions(const settings::PluginOptions& actual, const settings::PluginOptions& expected) {
    EXPECT_EQ(actual.holdKey, expected.holdKey);
    EXPECT_EQ(actual.latchKey, expected.latchKey);
    EXPECT_EQ(actual.toggleSound, expected.toggleSound);
    EXPECT_EQ(actual.loadedSound, expected.loadedSound);
}

}  // namespace

TEST(PluginIni, EachFileGivesItsOptionsAndNamesEachMistake) {
    for (const ini_cases::Case& c : ini_cases::Cases()) {
        if (!c.contents) continue;  // no file reaches the reader
        SCOPED_TRACE(c.name);
        static settings::PluginIni ini;
        settings::ReadPluginIni(c.contents->data(), c.contents->size(), ini);
        ExpectSameOptions(ini.options, c.expected);
        EXPECT_TRUE(Said(ini.problems, c.said));
    }
}

// Every name README.txt lists reads as its key, in any case, and names it back.
TEST(PluginIni, EveryKeyNameReadsAsItsKey) {
    for (std::size_t i = 0; i < settings::kKeyNameCount; ++i) {
        const settings::KeyName& key = settings::kKeyNames[i];
        SCOPED_TRACE(key.name);
        std::string lower = key.name;
        for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        for (const std::string& name : {std::string(key.name), lower}) {
            const std::string text = "[Toggle]\nHold = " + name + "\nPress = " + name + "\n";
            static settings::PluginIni ini;
            settings::ReadPluginIni(text.data(), text.size(), ini);
            EXPECT_EQ(ini.options.holdKey, key.code);
            EXPECT_EQ(ini.options.latchKey, key.code);
            EXPECT_EQ(ini.problems.count, 0);
        }
        EXPECT_STREQ(settings::KeyNameOf(key.code), key.name) << "one name per key";
    }
}
