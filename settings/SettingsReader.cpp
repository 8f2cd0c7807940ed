#include "settings/SettingsReader.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace settings {
namespace {

// The blanks of the C locale, which formatted input skips.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithWord(const char* p, const char* end, const char* word) {
    for (; *word; ++word, ++p)
        if (p == end || Lower(*p) != *word) return false;
    return true;
}

const char* SkipBlanks(const char* p, const char* end) {
    while (p != end && IsBlank(*p)) ++p;
    return p;
}

// Exact powers of ten in a double: 10^0 .. 10^22.
constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The slow path: the C library's correctly rounded strtof on a copy of the
// number spelled with the decimal separator of whatever locale is in force.
float LibraryConvert(const char* begin, const char* end, bool negative) {
    char buffer[kLineBufferSize + 8];
    std::size_t n = 0;
    const char point = *std::localeconv()->decimal_point;
    for (const char* p = begin; p != end && n + 1 < sizeof buffer; ++p) buffer[n++] = (*p == '.') ? point : *p;
    buffer[n] = '\0';
    const float magnitude = std::strtof(buffer, nullptr);
    return negative ? -magnitude : magnitude;
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

    if (p != end && (Lower(*p) == 'i' || Lower(*p) == 'n')) {
        if (StartsWithWord(p, end, "infinity"))
            p += 8;
        else if (StartsWithWord(p, end, "inf"))
            p += 3;
        else if (StartsWithWord(p, end, "nan")) {
            p += 3;
            // nan(n-char-sequence): taken only when the parenthesis closes.
            if (p != end && *p == '(') {
                const char* q = p + 1;
                while (q != end && (IsDigit(*q) || (Lower(*q) >= 'a' && Lower(*q) <= 'z') || *q == '_')) ++q;
                if (q != end && *q == ')') p = q + 1;
            }
            value = negative ? -std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::quiet_NaN();
            return p;
        } else {
            return nullptr;
        }
        value = negative ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity();
        return p;
    }

    // Digits, up to 19 significant ones kept exactly; the rest only count.
    const char* numberBegin = p;
    std::uint64_t mantissa = 0;
    int kept = 0;
    bool droppedNonZero = false;
    int exponent = 0;  // decimal exponent applied to mantissa
    int digits = 0;
    for (; p != end && IsDigit(*p); ++p, ++digits) {
        if (mantissa == 0 && *p == '0') continue;  // leading zeros
        if (kept < 19) {
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
            ++kept;
        } else {
            ++exponent;
            droppedNonZero |= (*p != '0');
        }
    }
    if (p != end && *p == '.') {
        const char* afterPoint = p + 1;
        const char* q = afterPoint;
        for (; q != end && IsDigit(*q); ++q, ++digits) {
            if (mantissa == 0 && *q == '0') {
                --exponent;
                continue;
            }
            if (kept < 19) {
                mantissa = mantissa * 10 + static_cast<std::uint64_t>(*q - '0');
                ++kept;
                --exponent;
            } else {
                droppedNonZero |= (*q != '0');
            }
        }
        if (digits > 0) p = q;  // a lone point is no number
    }
    if (digits == 0) return nullptr;

    // Exponent: taken only when at least one digit follows the (signed) e.
    if (p != end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool negativeExponent = false;
        if (q != end && (*q == '+' || *q == '-')) negativeExponent = (*q++ == '-');
        if (q != end && IsDigit(*q)) {
            int e = 0;
            for (; q != end && IsDigit(*q); ++q)
                if (e < 100000) e = e * 10 + (*q - '0');
            exponent += negativeExponent ? -e : e;
            p = q;
        }
    }

    if (mantissa == 0) {
        value = negative ? -0.0f : 0.0f;
        return p;
    }
    // Exact fast path: mantissa and 10^|exponent| are exact doubles, so one
    // IEEE multiplication or division rounds once to double; a double result
    // rounded to float is then the correctly rounded float as well, since
    // double carries more than 2 x 24 + 2 bits.
    if (!droppedNonZero && mantissa < (1ull << 53) && exponent >= -22 && exponent <= 22) {
        double d = static_cast<double>(mantissa);
        d = exponent >= 0 ? d * kPowersOfTen[exponent] : d / kPowersOfTen[-exponent];
        const float magnitude = static_cast<float>(d);
        value = negative ? -magnitude : magnitude;
        return p;
    }
    value = LibraryConvert(numberBegin, p, negative);
    return p;
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

    if (integer) {
        if (const char* next = ConvertInt(p, end, parsed.integer)) {
            parsed.converted = 1;
            parsed.stop = static_cast<std::size_t>(next - text);
        }
        return parsed;
    }
    for (int i = 0; i < count && i < kMaxValuesPerLine; ++i) {
        const char* next = ConvertFloat(p, end, parsed.floats[i]);
        if (!next) break;
        p = next;
        ++parsed.converted;
        parsed.stop = static_cast<std::size_t>(p - text);
    }
    return parsed;
}

bool LineReader::Fill() {
    if (exhausted_ || total_ == kMaxFileBytes) return false;
    const std::size_t room = kMaxFileBytes - total_;
    begin_ = 0;
    end_ = read_(context_, chunk_, room < sizeof chunk_ ? room : sizeof chunk_);
    if (end_ > room) end_ = room;  // a source that gives more than asked
    total_ += end_;
    if (end_ == 0) exhausted_ = true;
    return end_ != 0;
}

bool LineReader::Next(Line& line) {
    line.length = 0;
    line.truncated = false;
    bool any = false;
    for (;;) {
        if (begin_ == end_ && !Fill()) break;
        any = true;
        const char* start = chunk_ + begin_;
        const std::size_t available = end_ - begin_;
        const char* newline = static_cast<const char*>(std::memchr(start, '\n', available));
        const std::size_t take = newline ? static_cast<std::size_t>(newline - start) : available;
        const std::size_t room = kLineBufferSize - 1 - line.length;
        const std::size_t kept = take < room ? take : room;
        std::memcpy(line.text + line.length, start, kept);
        line.length += kept;
        if (take > kept) line.truncated = true;
        begin_ += take;
        if (newline) {
            ++begin_;  // the line end
            break;
        }
    }
    line.text[line.length] = '\0';
    return any;
}

int ApplySettings(LineReader& reader, SettingsSink& sink) {
    Line line;
    int lineNumber = 0;
    int aimRowsRead = 0;
    while (lineNumber < kLineCount && reader.Next(line)) {
        const LineLayout& layout = kLayout[lineNumber];
        ++lineNumber;
        ParsedLine parsed;
        if (layout.kind != LineKind::FreeText)
            parsed = ParseValueLine(line.text, line.length, layout.kind == LineKind::ReloadSwitch, layout.values);
        switch (layout.kind) {
            case LineKind::FreeText:
                break;
            case LineKind::ReloadSwitch:
                if (parsed.converted) sink.SetReloadEveryFrame(parsed.integer);
                break;
            case LineKind::HostValue:
                if (parsed.converted) sink.SetHostValue(layout.index, parsed.floats[0]);
                break;
            case LineKind::CodeConstant:
                // Nothing converted: the host's code keeps its constant.
                if (parsed.converted) {
                    std::uint32_t bits;
                    std::memcpy(&bits, &parsed.floats[0], 4);
                    sink.SetCodeConstant(bits);
                }
                break;
            case LineKind::AimRow:
                sink.StageAimRow(layout.index, parsed.floats, parsed.converted);
                aimRowsRead = layout.index + 1;
                if (aimRowsRead == kAimRowCount) sink.PublishAimRows(aimRowsRead);
                break;
            case LineKind::WeaponOffset:
                sink.SetWeaponOffset(layout.index, parsed.floats, parsed.converted);
                break;
        }
        sink.LineRead(lineNumber, line, parsed);
    }
    // A file that ends inside the aim rows publishes the rows it has.
    if (aimRowsRead > 0 && aimRowsRead < kAimRowCount) sink.PublishAimRows(aimRowsRead);
    return lineNumber;
}

}  // namespace settings
