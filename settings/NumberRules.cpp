#include "settings/NumberRules.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <system_error>

#include "settings/TextLines.h"

namespace settings {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
const char* SkipBlanks(const char* p, const char* end) {
    while (p != end && IsBlank(*p)) ++p;
    return p;
}

// Whether a number that std::from_chars found out of a float's range is too
// large (it then reads as infinity) rather than too small (zero): the place
// of its first significant digit plus its exponent tells.
bool Overflows(const char* begin, const char* end) {
    long position = 0;  // decimal places of the first significant digit, left of the point
    bool seenPoint = false, seenDigit = false;
    const char* p = begin;
    for (; p != end && (IsDigit(*p) || *p == '.'); ++p) {
        if (*p == '.') {
            seenPoint = true;
        } else if (!seenDigit && *p == '0') {
            if (seenPoint) --position;
        } else {
            if (!seenDigit && seenPoint) --position;
            seenDigit = true;
            if (!seenPoint) ++position;
        }
    }
    long exponent = 0;
    if (p != end && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool negative = p != end && *p == '-';
        if (p != end && (*p == '+' || *p == '-')) ++p;
        for (; p != end && IsDigit(*p); ++p)
            if (exponent < 100000) exponent = exponent * 10 + (*p - '0');
        if (negative) exponent = -exponent;
    }
    return position + exponent > 0;
}

// How a number's word ends, as the plain C reading of old files took it.
struct WordEnd {
    const char* next = nullptr;  // where the next word may begin; null: no number
    bool comment = false;        // a comment mark followed: the line ends here
};

// A number is a whole word: after it comes a blank or the end of the line.
// One 'f' or 'F' right after a decimal number, as C programmers write it
// (0.5f), belongs to the number. So does a comma that ends the word
// (0.10, 0.00, 0.60), and a comment mark right after it (0.5;wide  1#x
// 2//x), which ends the line. Anything else makes the word no number
// (0,75  0x3F8C  1.#INF  12abc).
WordEnd EndOfWord(const char* numberBegin, const char* numberEnd, const char* end) {
    const char* p = numberEnd;
    const char first = *numberBegin == '+' || *numberBegin == '-' ? numberBegin[1] : *numberBegin;
    if (p != end && (*p == 'f' || *p == 'F') && (IsDigit(first) || first == '.')) ++p;
    WordEnd word;
    const auto endsHere = [end](const char* q) { return q == end || IsBlank(*q); };
    if (endsHere(p)) {
        word.next = p;
    } else if (*p == ',' && endsHere(p + 1)) {
        word.next = p + 1;
    } else if (*p == ';' || (*p == '#' && p[-1] != '.') || (*p == '/' && p + 1 != end && p[1] == '/')) {
        // (1.#INF and 1.#IND are how some C libraries print infinity and NaN: no comment.)
        word.next = p;
        word.comment = true;
    }
    return word;
}

// A line's text up to its end (its first NUL, or `length`), split at the end
// of its label: the words come after it.
struct LabelledLine {
    const char* labelBegin;
    const char* labelEnd;  // where the words begin
    const char* end;
    bool blank;
};
LabelledLine SplitLabel(const char* text, std::size_t length) {
    const char* end = static_cast<const char*>(std::memchr(text, '\0', length));
    if (!end) end = text + length;
    LabelledLine line{SkipBlanks(text, end), nullptr, end, false};
    line.blank = line.labelBegin == end;
    const char* p = line.labelBegin;
    while (p != end && !IsBlank(*p)) ++p;
    line.labelEnd = p;
    return line;
}

// The next word from `p`, read as a number: the line's whole number when
// `integer` (into `whole`), a float otherwise (into `value`).
struct NumberWord {
    const char* begin;                // the word; the line's end when none is left
    const char* numberEnd = nullptr;  // where its number ends
    WordEnd end;                      // end.next null: the word is no number
};
NumberWord ReadNumberWord(const char* p, const char* end, bool integer, std::int32_t& whole, float& value) {
    NumberWord word{SkipBlanks(p, end), nullptr, WordEnd{}};
    if (word.begin == end) return word;
    if (integer) {
        word.numberEnd = ConvertInt(word.begin, end, whole);
        // "%d" reads the whole part of 1.9; the fraction is no other word.
        const char* next = word.numberEnd;
        if (next && next != end && *next == '.')
            for (++next; next != end && IsDigit(*next);) ++next;
        if (next) word.end = EndOfWord(word.begin, next, end);
    } else if ((word.numberEnd = ConvertFloat(word.begin, end, value))) {
        word.end = EndOfWord(word.begin, word.numberEnd, end);
    }
    return word;
}

}  // namespace

LineShape ShapeOf(const char* text, std::size_t length) {
    LineShape shape;
    const LabelledLine line = SplitLabel(text, length);
    if (line.blank) return shape;
    shape.blank = false;
    std::int32_t unused = 0;
    float ignored = 0;
    for (const char* p = line.labelEnd;;) {
        const NumberWord word = ReadNumberWord(p, line.end, false, unused, ignored);
        if (word.begin == line.end) break;
        if (!word.end.next) {
            shape.clean = false;
            const char* q = word.begin;
            while (q != line.end && !IsBlank(*q)) ++q;
            shape.decimalComma = IsDecimalCommaNumber(word.begin, static_cast<std::size_t>(q - word.begin));
            break;
        }
        if (shape.numbers++ == 0) {
            const char* q = word.begin + (*word.begin == '+' || *word.begin == '-' ? 1 : 0);
            while (q != word.numberEnd && IsDigit(*q)) ++q;
            shape.firstIsWhole = q == word.numberEnd && q != word.begin;
        }
        if (word.end.comment) break;
        p = word.end.next;
    }
    return shape;
}

const char* ConvertInt(const char* p, const char* end, std::int32_t& value) {
    p = SkipBlanks(p, end);
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) negative = (*p++ == '-');
    if (p == end || !IsDigit(*p)) return nullptr;
    // Magnitude up to 2^31, saturated beyond it.
    constexpr std::uint64_t kLimit = 0x80000000ull;
    std::uint64_t magnitude = 0;
    for (; p != end && IsDigit(*p); ++p) {
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(*p - '0');
        if (magnitude > kLimit) magnitude = kLimit + 1;
    }
    if (negative)
        value = magnitude >= kLimit ? std::numeric_limits<std::int32_t>::min() : -static_cast<std::int32_t>(magnitude);
    else
        value = magnitude >= kLimit ? std::numeric_limits<std::int32_t>::max() : static_cast<std::int32_t>(magnitude);
    return p;
}

bool IsDecimalCommaNumber(const char* word, std::size_t length) {
    char fixed[64];
    const char* comma = static_cast<const char*>(std::memchr(word, ',', length));
    if (!comma || length >= sizeof fixed ||
        std::memchr(comma + 1, ',', length - static_cast<std::size_t>(comma + 1 - word)))
        return false;
    std::memcpy(fixed, word, length);
    fixed[comma - word] = '.';
    float ignored = 0;
    return ConvertFloat(fixed, fixed + length, ignored) == fixed + length &&
           std::memchr(fixed, '.', length) == fixed + (comma - word);
}

const char* ConvertFloat(const char* p, const char* end, float& value) {
    p = SkipBlanks(p, end);
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) negative = (*p++ == '-');
    if (p == end || *p == '+' || *p == '-') return nullptr;  // from_chars would take a second sign
    // Correctly rounded, and blind to the locale's decimal separator.
    float magnitude = 0;
    const std::from_chars_result result = std::from_chars(p, end, magnitude, std::chars_format::general);
    if (result.ec == std::errc::invalid_argument) return nullptr;
    if (result.ec == std::errc::result_out_of_range)
        magnitude = Overflows(p, result.ptr) ? std::numeric_limits<float>::infinity() : 0.0f;
    value = negative ? -magnitude : magnitude;
    return result.ptr;
}

ParsedLine ParseValueLine(const char* text, std::size_t length, bool integer, int count) {
    ParsedLine parsed;
    const LabelledLine line = SplitLabel(text, length);
    if (line.blank) return parsed;
    parsed.hasLabel = true;
    parsed.labelBegin = static_cast<std::size_t>(line.labelBegin - text);
    parsed.labelLength = static_cast<std::size_t>(line.labelEnd - line.labelBegin);

    const int wanted = integer ? 1 : (count < kMaxValuesPerLine ? count : kMaxValuesPerLine);
    for (const char* p = line.labelEnd; parsed.converted < wanted;) {
        float ignored = 0;
        float& value = integer ? ignored : parsed.floats[parsed.converted];
        const NumberWord word = ReadNumberWord(p, line.end, integer, parsed.integer, value);
        if (word.begin == line.end) break;
        if (!word.end.next) {
            // Not a number: the line stops here, and the word is kept for the report.
            const char* q = word.begin;
            while (q != line.end && !IsBlank(*q)) ++q;
            parsed.stopWordBegin = static_cast<std::size_t>(word.begin - text);
            parsed.stopWordLength = static_cast<std::size_t>(q - word.begin);
            if (!integer) parsed.floats[parsed.converted] = 0.0f;
            break;
        }
        p = word.end.next;
        if (parsed.converted < kMaxValuesPerLine) {
            parsed.numberBegin[parsed.converted] = static_cast<std::size_t>(word.begin - text);
            parsed.numberEnd[parsed.converted] = static_cast<std::size_t>(word.numberEnd - text);
        }
        ++parsed.converted;
        parsed.stop = static_cast<std::size_t>(word.numberEnd - text);
        if (word.end.comment) {
            parsed.commentBegin = static_cast<std::size_t>(p - text);
            break;
        }
    }
    if (integer && parsed.converted == 0) parsed.integer = 0;
    return parsed;
}

std::size_t FormatNumber(float value, char (&out)[kNumberTextSize]) {
    char* const end = out + kNumberTextSize - 1;
    std::to_chars_result result = std::to_chars(out, end, value, std::chars_format::fixed);
    if (result.ec != std::errc() || static_cast<std::size_t>(result.ptr - out) > kPlainNumberLength)
        result = std::to_chars(out, end, value, std::chars_format::scientific);
    const std::size_t length = result.ec == std::errc() ? static_cast<std::size_t>(result.ptr - out) : 0;
    out[length] = '\0';
    return length;
}

}  // namespace settings
