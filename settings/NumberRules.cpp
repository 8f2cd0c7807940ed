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

// A number is a whole word: after it comes a blank or the end of the line.
// One 'f' or 'F' right after a decimal number, as C programmers write it
// (0.5f), belongs to the number. Returns the end of the word, or null when
// the word goes on with anything else (0,75  0x3F8C  1.#INF  12abc).
const char* WholeWord(const char* numberBegin, const char* numberEnd, const char* end) {
    const char* p = numberEnd;
    const char first = *numberBegin == '+' || *numberBegin == '-' ? numberBegin[1] : *numberBegin;
    if (p != end && (*p == 'f' || *p == 'F') && (IsDigit(first) || first == '.')) ++p;
    return p == end || IsBlank(*p) ? p : nullptr;
}

}  // namespace

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
    const char* end = static_cast<const char*>(std::memchr(text, '\0', length));
    if (!end) end = text + length;

    const char* p = SkipBlanks(text, end);
    if (p == end) return parsed;
    const char* labelBegin = p;
    while (p != end && !IsBlank(*p)) ++p;
    parsed.hasLabel = true;
    parsed.labelBegin = static_cast<std::size_t>(labelBegin - text);
    parsed.labelLength = static_cast<std::size_t>(p - labelBegin);

    const int wanted = integer ? 1 : (count < kMaxValuesPerLine ? count : kMaxValuesPerLine);
    while (parsed.converted < wanted) {
        const char* word = SkipBlanks(p, end);
        if (word == end) break;
        const char* wordEnd = nullptr;
        const char* numberEnd = nullptr;
        if (integer) {
            numberEnd = ConvertInt(word, end, parsed.integer);
            // "%d" reads the whole part of 1.9; the fraction is no other word.
            const char* next = numberEnd;
            if (next && next != end && *next == '.')
                for (++next; next != end && IsDigit(*next);) ++next;
            if (next && (next == end || IsBlank(*next))) wordEnd = next;
        } else if ((numberEnd = ConvertFloat(word, end, parsed.floats[parsed.converted]))) {
            wordEnd = WholeWord(word, numberEnd, end);
        }
        if (!wordEnd) {
            // Not a number: the line stops here, and the word is kept for the report.
            const char* q = word;
            while (q != end && !IsBlank(*q)) ++q;
            parsed.stopWordBegin = static_cast<std::size_t>(word - text);
            parsed.stopWordLength = static_cast<std::size_t>(q - word);
            if (!integer) parsed.floats[parsed.converted] = 0.0f;
            break;
        }
        p = wordEnd;
        ++parsed.converted;
        parsed.stop = static_cast<std::size_t>(numberEnd - text);
    }
    if (integer && parsed.converted == 0) parsed.integer = 0;
    return parsed;
}

}  // namespace settings
