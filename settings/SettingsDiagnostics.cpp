#include "settings/SettingsDiagnostics.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>

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
// "1st", "2nd", ... (up to the 7 values a line takes).
const char* Ordinal(int n) {
    static const char* const kOrdinals[] = {"1st", "2nd", "3rd", "4th", "5th", "6th", "7th"};
    return n >= 1 && n <= 7 ? kOrdinals[n - 1] : "next";
}

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
    } else if (layout.kind == LineKind::WeaponOffset) {
        // A row given in part: what it lacks is 0 (or what a save before gave).
        std::snprintf(out, size, "%s 0 in the game (or keep%s what your last save gave)",
                      converted == 1 ? "y and z are" : "z is", converted == 1 ? "" : "s");
    } else if (layout.values == 1) {
        std::snprintf(out, size, "the game keeps its own value for this line (or your last save's)");
    } else if (converted + 1 == layout.values) {
        std::snprintf(out, size, "value %d keeps its previous value", converted + 1);
    } else {
        std::snprintf(out, size, "values %d to %d keep their previous values", converted + 1,
                      static_cast<int>(layout.values));
    }
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
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
bool SuggestNumber(const char* word, std::size_t length, bool integer, bool first, char* out, std::size_t size) {
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
    if (Find(word, length, ".#")) {  // 1.#INF, 1.#IND, 1.#QNAN: how some C libraries print infinity and NaN
        std::snprintf(out, size, "infinity and NaN are no value the game can use: write a number");
        return true;
    }
    if (first && numberEnd != end && (*numberEnd == ':' || *numberEnd == '=')) {
        std::snprintf(out, size, "it looks like part of the label: write the label as one word, then the numbers");
        return true;
    }
    if (numberEnd != end && *numberEnd == '/') {
        std::snprintf(out, size, "a fraction is not read: write it as a decimal, like 0.5");
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
        const char* comma = static_cast<const char*>(std::memchr(word, ',', length));
        const bool thousands = comma && end - comma == 4 && IsDigit(comma[1]) && IsDigit(comma[2]) && IsDigit(comma[3]);
        if (fixedEnd == fixed + length && thousands) {
            std::snprintf(out, size, "the decimal separator is a point: write %s, or %.*s%.3s for thousands", fixed,
                          static_cast<int>(comma - word), word, comma + 1);
            return true;
        }
        if (fixedEnd == fixed + length) {
            std::snprintf(out, size, "the decimal separator is a point: write %s", fixed);
            return true;
        }
    }
    if (numberEnd != end && (*numberEnd == '.' || *numberEnd == ',')) {
        std::snprintf(out, size, "it has more than one decimal point or comma: write one number, like 0.5");
        return true;
    }
    std::snprintf(out, size, "write %.*s, or put a space after it", static_cast<int>(numberEnd - word), word);
    return true;
}

// "on", "off", "true", "false", "yes", "no", in any case.
bool IsOnOffWord(const char* word, std::size_t length) {
    for (const char* w : {"on", "off", "true", "false", "yes", "no"})
        if (std::strlen(w) == length && StartsWithNoCase(word, length, w)) return true;
    return false;
}

// For a word that does not begin like a number: a letter O or o for a zero,
// or l or I for a one, as typed by hand (O.5  1O  l.25).
bool SuggestDigits(const char* word, std::size_t length, bool integer, char* out, std::size_t size) {
    char fixed[64];
    if (length >= sizeof fixed) return false;
    bool changed = false;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = word[i];
        fixed[i] = c == 'O' || c == 'o' ? '0' : c == 'l' || c == 'I' ? '1' : c;
        changed |= fixed[i] != c;
    }
    fixed[length] = '\0';
    float ignoredFloat;
    std::int32_t ignoredInt;
    const char* fixedEnd =
        integer ? ConvertInt(fixed, fixed + length, ignoredInt) : ConvertFloat(fixed, fixed + length, ignoredFloat);
    if (!changed || fixedEnd != fixed + length) return false;
    std::snprintf(out, size, "a letter in place of a digit? write %s", fixed);
    return true;
}

}  // namespace

Refusal RefusalOf(int lineNumber, const Line& line, const ParsedLine& parsed, const LineShape& shape) {
    const LineLayout& layout = kLayout[lineNumber - 1];
    if (layout.kind == LineKind::FreeText || layout.kind == LineKind::ReloadSwitch) return Refusal::None;
    // A number glued to the label: "weapon25=0.16", "weapon22:0.10".
    const char* label = line.text + parsed.labelBegin;
    for (std::size_t k = parsed.labelLength; k-- > 0;)
        if (label[k] == ':' || label[k] == '=') {
            float ignored = 0;
            const char* end = label + parsed.labelLength;
            if (k + 1 < parsed.labelLength && ConvertFloat(label + k + 1, end, ignored) == end)
                return Refusal::GluedToLabel;
            break;
        }
    if (parsed.converted == 0) return Refusal::None;
    for (int i = 0; i < parsed.converted; ++i)
        if (std::isinf(parsed.floats[i]) || std::isnan(parsed.floats[i])) return Refusal::NotFinite;
    if (shape.clean && shape.firstIsWhole && shape.numbers == layout.values + 1) return Refusal::SpaceInLabel;
    return Refusal::None;
}

void DiagnoseLine(int lineNumber, const Line& line, const ParsedLine& parsed, const LineShape& shape, Refusal refusal,
                  Problems& problems) {
    const Reporter problem(lineNumber, problems);
    const LineLayout& layout = kLayout[lineNumber - 1];
    if (line.truncated)
        problem("the line is longer than %u characters; whatever stands beyond that is ignored",
                static_cast<unsigned>(kLineBufferSize - 1));
    if (layout.kind == LineKind::FreeText) return;

    const bool integer = layout.kind == LineKind::ReloadSwitch;
    const char* label = line.text + parsed.labelBegin;
    const int labelShown = static_cast<int>(parsed.labelLength < 40 ? parsed.labelLength : 40);
    char nothing[160];
    DescribeKept(layout, 0, nothing, sizeof nothing);
    switch (refusal) {
        case Refusal::NotFinite:
            for (int i = 0; i < parsed.converted; ++i)
                if (std::isinf(parsed.floats[i]) || std::isnan(parsed.floats[i])) {
                    problem("the %s number is %s, which no game value can be: nothing on this line is applied, so %s",
                            Ordinal(i + 1), std::isnan(parsed.floats[i]) ? "not a number (nan)" : "infinite", nothing);
                    return;
                }
            return;
        case Refusal::SpaceInLabel:
            problem(
                "%d numbers where %d belong%s: is there a space in the label (\"%.*s\" followed by a whole number)? "
                "Nothing on this line is applied, so %s; write the label as one word",
                shape.numbers, static_cast<int>(layout.values), layout.values == 1 ? "s" : "", labelShown, label,
                nothing);
            return;
        case Refusal::GluedToLabel:
            problem(
                "the label \"%.*s\" holds the first number after its ':' or '=': put a space between the label and "
                "the numbers; nothing on this line is applied meanwhile, so %s",
                labelShown, label, nothing);
            return;
        case Refusal::None:
            break;
    }
    char kept[160];
    DescribeKept(layout, parsed.converted, kept, sizeof kept);
    char fix[96];
    const char* word = line.text + parsed.stopWordBegin;
    const int shown = static_cast<int>(parsed.stopWordLength < 40 ? parsed.stopWordLength : 40);
    if (parsed.stopWordLength) {
        if (integer && IsOnOffWord(word, parsed.stopWordLength))
            problem("line 1 takes a whole number: 1 (on) or 0 (off); \"%.*s\" is not read, so %s", shown, word, kept);
        else if (SuggestNumber(word, parsed.stopWordLength, integer, parsed.converted == 0, fix, sizeof fix) ||
                 SuggestDigits(word, parsed.stopWordLength, integer, fix, sizeof fix))
            problem("the %s value, \"%.*s\", is not a number (%s): %s", Ordinal(parsed.converted + 1), shown, word, fix,
                    kept);
        else
            problem("the %s value, \"%.*s\", is not a number: %s", Ordinal(parsed.converted + 1), shown, word, kept);
    } else if (!parsed.hasLabel) {
        problem("the line is blank: %s", kept);
    } else if (parsed.converted == 0) {
        problem("no number after the label: %s", kept);
    } else if (parsed.converted < layout.values) {
        problem("only %d of %d values read: %s", parsed.converted, static_cast<int>(layout.values), kept);
    }

    // More numbers than the line takes: the last ones are never read.
    if (parsed.converted == layout.values && shape.numbers > layout.values)
        problem("%d numbers where %d belong%s: the numbers after the first %d are ignored", shape.numbers,
                static_cast<int>(layout.values), layout.values == 1 ? "s" : "", static_cast<int>(layout.values));

    // A label that reads as a number whole was most likely meant as a value.
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

void DiagnoseFile(int linesRead, bool linesAfterLast, bool limitReached, bool shifted, Problems& problems) {
    const Reporter problem(0, problems);
    if (limitReached)
        problem("the file is %u bytes or longer: nothing after its first %u bytes is read",
                static_cast<unsigned>(kMaxFileBytes), static_cast<unsigned>(kMaxFileBytes));
    if (linesRead == kLineCount - 1)
        problem("the file has %d line(s) instead of %d: line %d is missing and its destinations keep their values",
                linesRead, kLineCount, kLineCount);
    else if (linesRead < kLineCount)
        problem(
            "the file has %d line(s) instead of %d: lines %d to %d are missing and their destinations keep their "
            "values",
            linesRead, kLineCount, linesRead + 1, kLineCount);
    if (linesRead < kLineCount && shifted)
        problem("if you deleted a line, every line below it moved up: put the line back where it was");
    if (linesAfterLast) problem("the file has lines after line %d: they are never read", kLineCount);
}

void DiagnoseCtrlZ(int line, Problems& problems) {
    if (line == 0) return;
    const Reporter problem(0, problems);
    problem(
        "line %d holds a Ctrl-Z character (an end-of-file mark that old DOS programs write): nothing after it is "
        "read; delete that character",
        line);
}

}  // namespace settings

namespace settings {
namespace {

// Whether a line of `shape` does not fit file line `line` of the layout (a
// line past the layout fits when it is blank).
bool Misfits(int line, const LineShape& shape) {
    if (line > kLineCount) return !shape.blank;
    const LineLayout& layout = kLayout[line - 1];
    if (layout.kind == LineKind::FreeText) return shape.numbers > 0 && shape.clean;  // a row of numbers
    return shape.numbers != layout.values;
}

// Misfits of the file's lines when the line at `at` is missing (kind
// Missing: lines from `at` on belong one line further down), one too many
// (Extra: the line at `at` belongs nowhere, those after it one line up), or
// neither (None). A layout line that no line of the file reaches counts as a
// misfit too (the missing one aside), and so does text past the layout.
int Misfits(const LineShape* shapes, int available, Shift::Kind kind, int at) {
    int misfits = 0;
    bool reached[kLineCount + 1] = {};
    for (int i = 1; i <= available; ++i) {
        int line = i;
        if (kind == Shift::Kind::Missing && i >= at) line = i + 1;
        if (kind == Shift::Kind::Extra && i == at) continue;
        if (kind == Shift::Kind::Extra && i > at) line = i - 1;
        if (line <= kLineCount) reached[line] = true;
        misfits += Misfits(line, shapes[i - 1]) ? 1 : 0;
    }
    for (int line = 1; line <= kLineCount; ++line)
        if (!reached[line] && !(kind == Shift::Kind::Missing && line == at)) ++misfits;
    return misfits;
}

}  // namespace

Shift DetectShift(const LineShape* shapes, int available) {
    const int asRead = Misfits(shapes, available, Shift::Kind::None, 0);
    // No shift can do better by two than a file that misfits less than twice
    // (the sound file, read on every save): nothing to look for.
    if (asRead < 2) return Shift{};
    Shift best;
    int bestMisfits = asRead;
    for (const Shift::Kind kind : {Shift::Kind::Missing, Shift::Kind::Extra})
        for (int at = 2; at <= kLineCount; ++at) {
            const int misfits = Misfits(shapes, available, kind, at);
            if (misfits < bestMisfits) {
                bestMisfits = misfits;
                best = Shift{kind, at, at};
            } else if (misfits == bestMisfits && best.kind == kind && best.last == at - 1) {
                best.last = at;  // the place could be any of a run of alike lines
            }
        }
    // Only a shift that explains the file clearly better than reading it as
    // it stands: a file with a typo or two is no shifted file.
    if (best.kind == Shift::Kind::None || asRead - bestMisfits < 2 || 2 * bestMisfits >= asRead) return Shift{};
    return best;
}

LineLabel LabelOf(const char* text, std::size_t length) {
    LineLabel label;
    std::size_t begin = 0;
    while (begin < length && IsBlank(text[begin])) ++begin;
    std::size_t end = begin;
    while (end < length && text[end] != '\0' && !IsBlank(text[end])) ++end;
    if (begin == end) return label;
    label.comment = text[begin] == ';' || text[begin] == '#' ||
                    (text[begin] == '/' && begin + 1 < length && text[begin + 1] == '/');
    for (int line = 1; line <= kLineCount; ++line) {
        const char* sample = kSampleLabels[line - 1];
        if (sample && std::strlen(sample) == end - begin && std::memcmp(sample, text + begin, end - begin) == 0) {
            label.samplePlace = line;
            break;
        }
    }
    return label;
}

LabelShift DetectLabelShift(const LineLabel* labels, int available) {
    LabelShift found;
    const int lines = available < kLineCount ? available : kLineCount;
    // A sample label on three lines or more is a label of the player's own
    // pattern ("weapon22" on every weapon line), no evidence of a place; twice
    // it may be a copied line.
    int places[kLineCount + 2] = {};
    for (int i = 0; i < available && i <= kLineCount; ++i) {
        const int place = labels[i].samplePlace;
        int uses = 0;
        for (int j = 0; j < available && j <= kLineCount; ++j) uses += labels[j].samplePlace == place ? 1 : 0;
        places[i] = place && uses < 3 ? place : 0;
    }
    // The sample's labels, or most of them: a file of the player's own
    // labels says nothing of where its lines belong.
    int sampleLabels = 0;
    for (int i = 0; i < lines; ++i) sampleLabels += places[i] ? 1 : 0;
    int valueLines = 0;
    for (int line = 1; line <= lines; ++line) valueLines += kSampleLabels[line - 1] ? 1 : 0;
    if (sampleLabels < 4 || 2 * sampleLabels <= valueLines) return found;
    for (int line = 1; line <= available && line <= kLineCount + 1; ++line) {
        const int place = places[line - 1];
        if (place == 0 || place == line) continue;
        // The lines just above that carry no label of the sample's (a comment,
        // a blank line, an added line) are read off their places too.
        int first = line;
        while (first > 1 && places[first - 2] == 0 && kSampleLabels[first - 2] != nullptr) --first;
        found.shift = Shift{place > line ? Shift::Kind::Missing : Shift::Kind::Extra, first, first};
        found.labelLine = line;
        found.belongsOn = place;
        return found;
    }
    return found;
}

void DiagnoseShift(const Shift& shift, const LabelShift* byLabel, const LineLabel* labels, Problems& problems) {
    if (shift.kind == Shift::Kind::None) return;
    const Reporter problem(shift.first, problems);
    const char* const meanwhile =
        "nothing from there on is applied (the game keeps its own values for those lines, or your last save's)";
    // A comment on a line of its own, however the shift was found.
    if (labels && labels[shift.first - 1].comment) {
        problem(
            "line %d is a comment on a line of its own, and a comment counts as a line: put it after the numbers of a "
            "line, or remove it; every line below it is read one line late, and %s",
            shift.first, meanwhile);
        return;
    }
    if (byLabel && byLabel->labelLine) {
        const int line = byLabel->labelLine;
        const char* label = kSampleLabels[byLabel->belongsOn - 1];
        if (shift.kind == Shift::Kind::Missing)
            problem("line %d is labelled %s, which belongs on line %d: a line above it (%s's) seems missing; %s", line,
                    label, byLabel->belongsOn,
                    kSampleLabels[shift.first - 1] ? kSampleLabels[shift.first - 1] : "a heading", meanwhile);
        else
            problem(
                "line %d is labelled %s, which belongs on line %d: a line above it seems to be one too many (a copied "
                "or added line?); %s",
                line, label, byLabel->belongsOn, meanwhile);
        return;
    }
    char where[64];
    if (shift.first == shift.last)
        std::snprintf(where, sizeof where, "line %d seems", shift.first);
    else
        std::snprintf(where, sizeof where, "one of lines %d to %d seems", shift.first, shift.last);
    if (shift.kind == Shift::Kind::Missing)
        problem(
            "%s missing: the text on line %d belongs to line %d, and every line from %d on is read one line early, "
            "so nothing from line %d on is applied (those values stay as they were)",
            where, shift.last, shift.last + 1, shift.first, shift.first);
    else
        problem(
            "%s to be one too many (a line added or split?): the text on line %d belongs to line %d, and every line "
            "from %d on is read one line late, so nothing from line %d on is applied (those values stay as they were)",
            where, shift.last + 1, shift.last, shift.first, shift.first);
}

}  // namespace settings
