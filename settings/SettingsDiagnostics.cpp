#include "settings/SettingsDiagnostics.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "settings/WeaponTable.h"

namespace settings {
namespace {

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
    if (numberEnd != end && *numberEnd == '%') {
        float percent = 0;
        ConvertFloat(word, numberEnd, percent);
        char fraction[kNumberTextSize];
        FormatNumber(percent / 100, fraction);
        std::snprintf(out, size, "a percent sign is not read: %.*s%% is %s as a number",
                      static_cast<int>(numberEnd - word), word, fraction);
        return true;
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

// A character that looks like part of a number, or like nothing, in a word
// that is no number: named by its look and its code, since the player cannot
// tell it from what they meant.
struct LookAlike {
    std::uint32_t first, last;
    const char* what;  // "%s": the character as written, then "%04X" its code; invisible ones take the code only
    const char* fix;
    bool invisible = false;
};
constexpr LookAlike kLookAlikes[] = {
    {0x2212, 0x2212, "a typographic minus sign (%s, U+%04X), which looks like - but is another character",
     "type the minus key instead"},
    {0x2010, 0x2015, "a dash (%s, U+%04X), which looks like - but is another character", "type the minus key instead"},
    {0xFE63, 0xFE63, "a small hyphen (%s, U+%04X), which looks like - but is another character",
     "type the minus key instead"},
    {0xFF0D, 0xFF0D, "a full-width minus (%s, U+%04X), which looks like - but is another character",
     "type the minus key instead"},
    {0xFF10, 0xFF19, "a full-width digit (%s, U+%04X)", "type the digits with the keyboard in half-width mode"},
    {0xFF0E, 0xFF0E, "a full-width point (%s, U+%04X)", "type the point with the keyboard in half-width mode"},
    {0x00AD, 0x00AD, "an invisible soft hyphen (U+%04X)", "delete it: retype the number", true},
    {0x200C, 0x200F, "an invisible character (U+%04X)", "delete it: retype the number", true},
    {0x2060, 0x2064, "an invisible character (U+%04X)", "delete it: retype the number", true},
    {0x00B7, 0x00B7, "a middle dot (%s, U+%04X), which is no decimal point", "write a point"},
    {0x066B, 0x066B, "an Arabic decimal separator (%s, U+%04X)", "write a point"},
};

bool DescribeOddCharacter(const char* word, std::size_t length, char* out, std::size_t size) {
    for (std::size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(word[i]);
        if (c < 0x80) continue;
        const std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (n == 1 || i + n > length) return false;
        std::uint32_t code = c & (0x7Fu >> n);
        for (std::size_t k = 1; k < n; ++k) code = code << 6 | (static_cast<unsigned char>(word[i + k]) & 0x3Fu);
        char look[8];
        std::snprintf(look, sizeof look, "%.*s", static_cast<int>(n), word + i);
        char what[128];
        const char* fix = "write the number with the digits 0-9, a point and a minus only";
        bool known = false;
        for (const LookAlike& alike : kLookAlikes)
            if (code >= alike.first && code <= alike.last) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
                if (alike.invisible)
                    std::snprintf(what, sizeof what, alike.what, static_cast<unsigned>(code));
                else
                    std::snprintf(what, sizeof what, alike.what, look, static_cast<unsigned>(code));
#pragma GCC diagnostic pop
                fix = alike.fix;
                known = true;
                break;
            }
        if (!known)
            std::snprintf(what, sizeof what, "the character %s (U+%04X), which no number holds", look,
                          static_cast<unsigned>(code));
        // A description too long for `out` is cut, never overrun.
        return std::snprintf(out, size, "it %s %s: %s", i == 0 ? "starts with" : "holds", what, fix) > 0;
    }
    return false;
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
            if (k + 1 < parsed.labelLength && ConvertFloat(label + k + 1, end, ignored) == end &&
                shape.numbers + 1 == layout.values)
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
                  bool decimalCommasTold, Problems& problems) {
    const ProblemReporter problem(lineNumber, problems);
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
                    const char* written = line.text + parsed.numberBegin[i];
                    const std::size_t length = parsed.numberEnd[i] - parsed.numberBegin[i];
                    const std::size_t sign = *written == '-' || *written == '+' ? 1 : 0;
                    if (std::isinf(parsed.floats[i]) && length > sign &&
                        (IsDigit(written[sign]) || written[sign] == '.'))
                        problem(
                            "the %s number, %.*s, is too big for a game value (the largest is about 3.4e38): nothing "
                            "on this line is applied, so %s",
                            Ordinal(i + 1), static_cast<int>(length < 40 ? length : 40), written, nothing);
                    else
                        problem(
                            "the %s number is %s, which no game value can be: nothing on this line is applied, so %s",
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
    char fix[192];
    const char* word = line.text + parsed.stopWordBegin;
    const int shown = static_cast<int>(parsed.stopWordLength < 40 ? parsed.stopWordLength : 40);
    if (parsed.stopWordLength) {
        if (integer && IsOnOffWord(word, parsed.stopWordLength))
            problem("line 1 takes a whole number: 1 (on) or 0 (off); \"%.*s\" is not read, so %s", shown, word, kept);
        else if (decimalCommasTold && IsDecimalCommaNumber(word, parsed.stopWordLength))
            ;  // told once for the whole file
        else if (DescribeOddCharacter(word, parsed.stopWordLength, fix, sizeof fix) ||
                 SuggestNumber(word, parsed.stopWordLength, integer, parsed.converted == 0, fix, sizeof fix) ||
                 SuggestDigits(word, parsed.stopWordLength, integer, fix, sizeof fix))
            problem("the %s value, \"%.*s\", is not a number (%s): %s", Ordinal(parsed.converted + 1), shown, word, fix,
                    kept);
        else
            problem("the %s value, \"%.*s\", is not a number: %s", Ordinal(parsed.converted + 1), shown, word, kept);
    } else if (!parsed.hasLabel) {
        problem("the line is blank: %s", kept);
    } else if (parsed.converted == 0) {
        problem("no number after the label: %s", kept);
    } else if (parsed.converted < layout.values && parsed.commentBegin) {
        // "0.16;0.01;0.63": the mark right after a number ends the line.
        const char* mark = line.text + parsed.commentBegin;
        const int markLength = *mark == '/' ? 2 : 1;
        problem(
            "only %d of %d values read: the %.*s after %.*s starts a comment, which ends the line; put spaces, not "
            "%.*s, between the numbers: %s",
            parsed.converted, static_cast<int>(layout.values), markLength, mark,
            static_cast<int>(parsed.numberEnd[parsed.converted - 1] - parsed.numberBegin[parsed.converted - 1]),
            line.text + parsed.numberBegin[parsed.converted - 1], markLength, mark, kept);
    } else if (parsed.converted < layout.values) {
        problem("only %d of %d values read: %s", parsed.converted, static_cast<int>(layout.values), kept);
    }

    // More numbers than the line takes: the last ones are never read.
    if (parsed.converted == layout.values && shape.numbers > layout.values)
        problem("%d numbers where %d belong%s: the numbers after the first %d are ignored", shape.numbers,
                static_cast<int>(layout.values), layout.values == 1 ? "s" : "", static_cast<int>(layout.values));

    // A label that reads as a number whole was most likely meant as a value.
    float ignored;
    if (parsed.hasLabel && shape.numbers < layout.values &&
        ConvertFloat(label, label + parsed.labelLength, ignored) == label + parsed.labelLength)
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

void DiagnoseFile(int linesRead, bool linesAfterLast, bool limitReached, bool shifted, bool countTold,
                  Problems& problems) {
    const ProblemReporter problem(0, problems);
    if (limitReached) DiagnoseReadLimit(kMaxFileBytes, problems);
    if (countTold) return;  // the lines' count is what showed the shift, and was told with it
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

void DiagnoseReadLimit(std::size_t limit, Problems& problems) {
    ProblemReporter(0, problems)("the file is %u bytes or longer: nothing after its first %u bytes is read",
                                 static_cast<unsigned>(limit), static_cast<unsigned>(limit));
}

void DiagnoseDecimalCommas(int count, int firstLine, const char* word, Problems& problems) {
    if (count == 0) return;
    const ProblemReporter problem(0, problems);
    char fixed[64];
    std::snprintf(fixed, sizeof fixed, "%s", word);
    for (char& c : fixed)
        if (c == ',') c = '.';
    problem(
        "%d lines write numbers with a decimal comma, like \"%s\" on line %d: the decimal separator is a point, "
        "whatever Windows' region settings say: write %s, and the same for each comma between digits; each of "
        "those lines is read up to that number, and the rest keeps its value",
        count, word, firstLine, fixed);
}

void DiagnoseCtrlZ(int line, Problems& problems) {
    if (line == 0) return;
    const ProblemReporter problem(0, problems);
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

LineLabel LabelOf(const char* text, std::size_t length, const LineShape& shape) {
    LineLabel label;
    std::size_t begin = 0;
    while (begin < length && IsBlank(text[begin])) ++begin;
    std::size_t end = begin;
    while (end < length && text[end] != '\0' && !IsBlank(text[end])) ++end;
    if (begin == end) return label;
    if (shape.numbers == 0) {
        label.comment = text[begin] == ';' || text[begin] == '#' ||
                        (text[begin] == '/' && begin + 1 < length && text[begin + 1] == '/');
        return label;
    }
    for (int line = 1; line <= kLineCount; ++line) {
        const char* sample = kSampleLabels[line - 1];
        if (sample && std::strlen(sample) == end - begin && std::memcmp(sample, text + begin, end - begin) == 0) {
            label.samplePlace = line;
            break;
        }
    }
    return label;
}

namespace {

// The places the labels of lines [1, lines] show (0: none), a sample label
// on three lines or more being a label of the player's own pattern
// ("weapon22" on every weapon line), no evidence of a place; twice it may be
// a copied line. Only the 31 lines a load reads count its uses.
void PlacesOf(const LineLabel* labels, int lines, int (&places)[kLineCount + 2]) {
    for (int i = 0; i < lines; ++i) {
        const int place = labels[i].samplePlace;
        int uses = 0;
        for (int j = 0; j < lines && j < kLineCount; ++j) uses += labels[j].samplePlace == place ? 1 : 0;
        places[i + 1] = place && uses < 3 ? place : 0;
    }
}

// How many labelled lines in [from, to] carry the label of the line
// `offset` lines from them; -1 when one carries another.
int CountOffsetBy(const int (&places)[kLineCount + 2], int from, int to, int offset) {
    int agreeing = 0;
    for (int line = from; line <= to; ++line) {
        if (places[line] == 0) continue;
        if (places[line] != line + offset) return -1;
        ++agreeing;
    }
    return agreeing;
}
// Every labelled line in [from, to] carries the label of the line `offset`
// lines from it, and one at least does.
bool AllOffsetBy(const int (&places)[kLineCount + 2], int from, int to, int offset) {
    return CountOffsetBy(places, from, to, offset) > 0;
}

// The nearest labelled line above `line` and below it are in place (or
// there is none).
bool NeighboursInPlace(const int (&places)[kLineCount + 2], int line, int lines) {
    int above = line - 1;
    while (above >= 1 && places[above] == 0) --above;
    int below = line + 1;
    while (below <= lines && places[below] == 0) ++below;
    return (above < 1 || places[above] == above) && (below > lines || places[below] == below);
}

}  // namespace

LabelEvidence ReadLabelEvidence(const LineLabel* labels, int available, int textLines) {
    LabelEvidence evidence;
    const int lines = available < kLineCount + 1 ? available : kLineCount + 1;
    int places[kLineCount + 2] = {};
    PlacesOf(labels, lines, places);
    // The sample's labels, or most of them: a file of the player's own
    // labels says nothing of where its lines belong.
    int sampleLabels = 0, valueLines = 0;
    for (int line = 1; line <= lines && line <= kLineCount; ++line) {
        sampleLabels += places[line] ? 1 : 0;
        valueLines += kSampleLabels[line - 1] ? 1 : 0;
    }
    if (sampleLabels < 4 || 2 * sampleLabels <= valueLines) return evidence;
    evidence.evidence = true;

    int misplaced = 1;
    while (misplaced <= lines && (places[misplaced] == 0 || places[misplaced] == misplaced)) ++misplaced;
    if (misplaced > lines) return evidence;
    const int offset = places[misplaced] - misplaced;
    // A line missing (the labels below belong further down) or one too many,
    // where the labels below agree, or where the file is as many lines short
    // or long.
    // None below may be back in place: the count of lines alone only speaks
    // where no label below is left to agree.
    const int agreeing = CountOffsetBy(places, misplaced + 1, lines, offset);
    const bool agree = agreeing > 0;
    if (agree || (agreeing == 0 && kLineCount - textLines == offset)) {
        // The lines just above that carry no label of the sample's (a comment,
        // a blank line, an added line) are read off their places too.
        int first = misplaced;
        while (first > 1 && places[first - 1] == 0 && kSampleLabels[first - 2] != nullptr) --first;
        evidence.shift.shift = Shift{offset > 0 ? Shift::Kind::Missing : Shift::Kind::Extra, first, first};
        evidence.shift.labelLine = misplaced;
        evidence.shift.belongsOn = places[misplaced];
        evidence.shift.labelsAgree = agree;
        return evidence;
    }
    // No line missing: name what the labels show, line by line, within the
    // lines a load reads.
    const int last = lines < kLineCount ? lines : kLineCount;
    for (int line = misplaced; line <= last && evidence.findings < LabelEvidence::kMaxFindings;) {
        const int place = places[line];
        if (place == 0 || place == line) {
            ++line;
            continue;
        }
        LabelFinding finding;
        finding.line = line;
        int end = line;
        int below = 0;  // the line whose label is this line's, further down
        for (int k = line + 1; k <= last && !below; ++k) below = places[k] == line ? k : 0;
        if (place > line && place <= last && AllOffsetBy(places, line + 1, place, -1)) {
            // Line `place`'s line moved up to `line`: those between moved down by one.
            finding.kind = place == line + 1 ? LabelFinding::Kind::Swapped : LabelFinding::Kind::MovedUp;
            finding.from = place;
            finding.to = line;
            end = place;
        } else if (below && AllOffsetBy(places, line, below - 1, 1)) {
            finding.kind = below == line + 1 ? LabelFinding::Kind::Swapped : LabelFinding::Kind::MovedDown;
            finding.from = line;
            finding.to = below;
            end = below;
        } else if (NeighboursInPlace(places, line, last)) {
            finding.kind = LabelFinding::Kind::Odd;
            finding.from = place;
        } else {
            // One of a run of labels that agree on their own numbering
            // (aimRow1 to aimRow4): the player's scheme, nothing to say.
            ++line;
            continue;
        }
        if (finding.kind == LabelFinding::Kind::Swapped) {
            finding.from = line;
            finding.to = end;
        }
        evidence.found[evidence.findings++] = finding;
        line = end + 1;
    }
    return evidence;
}

namespace {

// What file line `line` sets, in a player's words ("weapon 32's offset",
// "host value 1", "aim row 0").
const char* WhatLineSets(int line, char (&out)[48]) {
    char role[32];
    const char* what = LineRole(line, role);
    const LineLayout& layout = kLayout[line - 1];
    std::snprintf(out, sizeof out, "%s%s", what,
                  layout.kind == LineKind::WeaponOffset && layout.index != 0 ? "'s offset" : "");
    return out;
}

// "line 5", "lines 5 and 6", "lines 5 to 9".
const char* LinesFromTo(int first, int last, char (&out)[32]) {
    if (first == last)
        std::snprintf(out, sizeof out, "line %d", first);
    else
        std::snprintf(out, sizeof out, last == first + 1 ? "lines %d and %d" : "lines %d to %d", first, last);
    return out;
}

}  // namespace

void DiagnoseLabelFinding(const LabelFinding& finding, Problems& problems) {
    const ProblemReporter problem(finding.line, problems);
    char sets[48], otherSets[48], between[32];
    switch (finding.kind) {
        case LabelFinding::Kind::Odd:
            problem(
                "line %d is labelled %s, like line %d in the sample: a line's place, not its label, says what it "
                "sets, so line %d sets %s",
                finding.line, kSampleLabels[finding.from - 1], finding.from, finding.line,
                WhatLineSets(finding.line, sets));
            return;
        case LabelFinding::Kind::Swapped:
            problem(
                "lines %d and %d carry each other's labels (%s and %s): were they swapped? A line's place, not its "
                "label, says what it sets: line %d sets %s, line %d %s; if you swapped them, swap them back",
                finding.from, finding.to, kSampleLabels[finding.to - 1], kSampleLabels[finding.from - 1], finding.from,
                WhatLineSets(finding.from, sets), finding.to, WhatLineSets(finding.to, otherSets));
            return;
        case LabelFinding::Kind::MovedUp:
        case LabelFinding::Kind::MovedDown: {
            // Line `from`'s line stands on line `to`; the lines between moved by one the other way.
            const bool up = finding.kind == LabelFinding::Kind::MovedUp;
            const int first = up ? finding.to : finding.from, last = up ? finding.from : finding.to;
            problem(
                "line %d carries %s, line %d's label, and %s the label of the line %s each: was line %d moved %s to "
                "line %d? A line's place, not its label, says what it sets: line %d sets %s, line %d %s; if you "
                "moved it, put it back on line %d",
                finding.to, kSampleLabels[finding.from - 1], finding.from,
                LinesFromTo(up ? first + 1 : first, up ? last : last - 1, between), up ? "above" : "below",
                finding.from, up ? "up" : "down", finding.to, first, WhatLineSets(first, sets), last,
                WhatLineSets(last, otherSets), finding.from);
            return;
        }
    }
}

Shift DetectWeaponLineCount(const LineShape* shapes, int available, int textLines) {
    if (textLines != kLineCount - 1 && textLines != kLineCount + 1) return Shift{};
    const int firstWeapon = LineOf(LineKind::WeaponOffset, 0);
    if (available < textLines) return Shift{};
    for (int line = firstWeapon; line <= textLines; ++line) {
        const LineShape& shape = shapes[line - 1];
        if (!shape.clean || shape.numbers != kLayout[firstWeapon - 1].values) return Shift{};
    }
    return Shift{textLines < kLineCount ? Shift::Kind::Missing : Shift::Kind::Extra, firstWeapon, textLines, true};
}

void DiagnoseShift(const Shift& shift, const LabelShift* byLabel, const LineLabel* labels, Problems& problems) {
    if (shift.kind == Shift::Kind::None) return;
    const ProblemReporter problem(shift.first, problems);
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
    if (shift.byCount) {
        const int weapons = kLineCount - LineOf(LineKind::WeaponOffset, 0) + 1;
        if (shift.kind == Shift::Kind::Missing)
            problem(
                "the file has %d lines where %d belong, and its weapon lines (%d to %d) all look alike: one of the %d "
                "weapon lines seems missing, and every weapon below it would take the next one's offset; nothing from "
                "line %d on is applied (those weapons keep their offsets): put the missing line back",
                shift.last, kLineCount, shift.first, shift.last, weapons, shift.first);
        else
            problem(
                "the file has %d lines where %d belong, and its weapon lines (%d to %d) all look alike: one of them "
                "seems to be there twice (a copied line?), and every weapon below it would take the offset of the one "
                "above; nothing from line %d on is applied (those weapons keep their offsets): delete the extra line",
                shift.last, kLineCount, shift.first, shift.last, shift.first);
        return;
    }
    if (byLabel && byLabel->labelLine) {
        const int line = byLabel->labelLine;
        const char* label = kSampleLabels[byLabel->belongsOn - 1];
        const int off = byLabel->belongsOn > line ? byLabel->belongsOn - line : line - byLabel->belongsOn;
        const char* firstLabel = kSampleLabels[shift.first - 1] ? kSampleLabels[shift.first - 1] : "a heading";
        char lines[96];
        if (off > 1 && shift.kind == Shift::Kind::Missing)
            std::snprintf(lines, sizeof lines, "%d lines above it (from %s's on) seem", off, firstLabel);
        else if (shift.kind == Shift::Kind::Missing)
            std::snprintf(lines, sizeof lines, "a line above it (%s's) seems", firstLabel);
        else
            std::snprintf(lines, sizeof lines, off > 1 ? "%d lines above it seem" : "a line above it seems", off);
        char why[64] = "the labels below agree";
        if (!byLabel->labelsAgree)
            std::snprintf(why, sizeof why, "the file has %d lines", kLineCount - (byLabel->belongsOn - line));
        if (shift.kind == Shift::Kind::Missing)
            problem("line %d is labelled %s, which belongs on line %d, and %s: %s missing; %s", line, label,
                    byLabel->belongsOn, why, lines, meanwhile);
        else
            problem(
                "line %d is labelled %s, which belongs on line %d, and %s: %s to be one too many (a copied or "
                "added line?); %s",
                line, label, byLabel->belongsOn, why, lines, meanwhile);
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
