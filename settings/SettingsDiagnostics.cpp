#include "settings/SettingsDiagnostics.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "settings/WeaponTable.h"

namespace settings {
namespace {

class Reporter {
public:
    Reporter(int lineNumber, Problems& problems) : lineNumber_(lineNumber), problems_(problems) {}

    void operator()(const char* format, ...) const __attribute__((format(printf, 2, 3))) {
        char text[Problem::kLength];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        problems_.Add(lineNumber_, text);
    }

private:
    int lineNumber_;
    Problems& problems_;
};

// What the destinations a line did not give keep, in words.
void DescribeKept(const LineLayout& layout, int converted, char* out, std::size_t size) {
    if (layout.kind == LineKind::CodeConstant) {
        std::snprintf(out, size, "the code constant is left as it was");
    } else if (layout.kind == LineKind::WeaponOffset && converted == 0) {
        if (layout.index == 0)
            std::snprintf(out, size, "offset row 0 serves no weapon anyway");
        else
            std::snprintf(out, size,
                          "weapon type %u keeps the game's own aim point (or the offset an earlier save gave it)",
                          static_cast<unsigned>(weapons::CodeOfRow(layout.index)));
    } else if (layout.kind == LineKind::AimRow) {
        if (converted + 1 == layout.values)
            std::snprintf(out, size,
                          "value %d of aim row %d stays as the game holds it (its own, or an earlier save's)",
                          converted + 1, layout.index);
        else
            std::snprintf(out, size,
                          "values %d to %d of aim row %d stay as the game holds them (its own, or an earlier save's)",
                          converted + 1, static_cast<int>(layout.values), static_cast<int>(layout.index));
    } else if (layout.values == 1) {
        std::snprintf(out, size, "its destination keeps its previous value");
    } else if (converted + 1 == layout.values) {
        std::snprintf(out, size, "value %d keeps its previous value", converted + 1);
    } else {
        std::snprintf(out, size, "values %d to %d keep their previous values", converted + 1,
                      static_cast<int>(layout.values));
    }
}

bool StartsWithNoCase(const char* text, std::size_t length, const char* prefix) {
    for (std::size_t i = 0; prefix[i]; ++i) {
        if (i == length) return false;
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (c != prefix[i]) return false;
    }
    return true;
}

const char* Find(const char* text, std::size_t length, const char* what) {
    const std::size_t n = std::strlen(what);
    for (std::size_t i = 0; i + n <= length; ++i)
        if (std::memcmp(text + i, what, n) == 0) return text + i;
    return nullptr;
}

// For a word that begins like a number but is none (it stopped the line):
// how to write what was most likely meant. False for a word that does not
// begin like a number at all ("oops").
bool SuggestNumber(const char* word, std::size_t length, bool integer, char* out, std::size_t size) {
    const char* end = word + length;
    float ignoredFloat;
    std::int32_t ignoredInt;
    const char* numberEnd = integer ? ConvertInt(word, end, ignoredInt) : ConvertFloat(word, end, ignoredFloat);
    if (!numberEnd) return false;
    const std::size_t sign = (*word == '+' || *word == '-') ? 1 : 0;
    if (StartsWithNoCase(word + sign, length - sign, "0x")) {
        std::snprintf(out, size, "hexadecimal numbers are not read: write the value in decimal");
        return true;
    }
    if (Find(word, length, ".#INF") || Find(word, length, ".#inf")) {
        std::snprintf(out, size, "write %sinf", *word == '-' ? "-" : "");
        return true;
    }
    if (Find(word, length, ".#")) {  // 1.#IND, 1.#QNAN: how some C libraries print a NaN
        std::snprintf(out, size, "write nan");
        return true;
    }
    char fixed[64];
    if (length < sizeof fixed && std::memchr(word, ',', length)) {
        std::memcpy(fixed, word, length);
        fixed[length] = '\0';
        for (std::size_t i = 0; i < length; ++i)
            if (fixed[i] == ',') fixed[i] = '.';
        const char* fixedEnd =
            integer ? ConvertInt(fixed, fixed + length, ignoredInt) : ConvertFloat(fixed, fixed + length, ignoredFloat);
        if (fixedEnd == fixed + length) {
            std::snprintf(out, size, "the decimal separator is a point: write %s", fixed);
            return true;
        }
    }
    std::snprintf(out, size, "write %.*s, or put a space after it", static_cast<int>(numberEnd - word), word);
    return true;
}

}  // namespace

void DiagnoseLine(int lineNumber, const Line& line, const ParsedLine& parsed, Problems& problems) {
    const Reporter problem(lineNumber, problems);
    const LineLayout& layout = kLayout[lineNumber - 1];
    if (line.truncated)
        problem("the line is longer than %u characters; whatever stands beyond that is ignored",
                static_cast<unsigned>(kLineBufferSize - 1));
    if (layout.kind == LineKind::FreeText) return;

    const bool integer = layout.kind == LineKind::ReloadSwitch;
    for (int i = 0; i < parsed.converted; ++i) {
        const float value = integer ? static_cast<float>(parsed.integer) : parsed.floats[i];
        if (std::isinf(value)) problem("value %d is infinite", i + 1);
        if (std::isnan(value)) problem("value %d is not a number (NaN)", i + 1);
    }
    char kept[160];
    DescribeKept(layout, parsed.converted, kept, sizeof kept);
    char fix[96];
    const char* word = line.text + parsed.stopWordBegin;
    if (parsed.stopWordLength && SuggestNumber(word, parsed.stopWordLength, integer, fix, sizeof fix))
        problem("value %d, \"%.*s\", is not a number (%s): %s", parsed.converted + 1,
                static_cast<int>(parsed.stopWordLength < 40 ? parsed.stopWordLength : 40), word, fix, kept);
    else if (!parsed.hasLabel)
        problem("the line is blank: %s", kept);
    else if (parsed.converted == 0)
        problem("no number after the label: %s", kept);
    else if (parsed.converted < layout.values)
        problem("only %d of %d values read: %s", parsed.converted, static_cast<int>(layout.values), kept);

    // A label that reads as a number whole was most likely meant as a value.
    const char* label = line.text + parsed.labelBegin;
    float ignored;
    if (parsed.hasLabel && ConvertFloat(label, label + parsed.labelLength, ignored) == label + parsed.labelLength)
        problem(
            "the line starts with a number where a label should be: it is taken as the label and the values shift "
            "left by one");
    if (parsed.labelLength >= kLabelBufferSize)
        problem("the label is %u characters long (more than %u)", static_cast<unsigned>(parsed.labelLength),
                static_cast<unsigned>(kLabelBufferSize - 1));
    if (layout.kind == LineKind::WeaponOffset && layout.index == 0)
        for (int i = 0; i < parsed.converted; ++i)
            if (parsed.floats[i] != 0.0f) {
                problem("offset row 0 serves no weapon: its values have no effect");
                break;
            }
    // "%d" stops at the point: say so when a fraction follows.
    if (integer && parsed.converted && parsed.stop < line.length && line.text[parsed.stop] == '.')
        problem("live reload reads whole numbers only: the fraction is ignored");
}

void DiagnoseFile(int linesRead, bool linesAfterLast, bool limitReached, Problems& problems) {
    const Reporter problem(0, problems);
    if (limitReached)
        problem("the file is %u bytes or longer: nothing after its first %u bytes is read",
                static_cast<unsigned>(kMaxFileBytes), static_cast<unsigned>(kMaxFileBytes));
    if (linesRead < kLineCount)
        problem(
            "the file has %d line(s) instead of %d: lines %d to %d are missing and their destinations keep their "
            "values",
            linesRead, kLineCount, linesRead + 1, kLineCount);
    if (linesAfterLast) problem("the file has lines after line %d: they are never read", kLineCount);
}

}  // namespace settings
