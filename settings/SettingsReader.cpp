#include "settings/SettingsReader.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <system_error>

namespace settings {
namespace {

// The blanks of the C locale, which formatted input skips.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
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

// Writes `code` as UTF-8; returns the bytes written (1 to 4).
std::size_t EncodeUtf8(std::uint32_t code, char* out) {
    if (code < 0x80) {
        out[0] = static_cast<char>(code);
        return 1;
    }
    if (code < 0x800) {
        out[0] = static_cast<char>(0xC0 | (code >> 6));
        out[1] = static_cast<char>(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (code >> 12));
        out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (code & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (code >> 18));
    out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (code & 0x3F));
    return 4;
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

std::size_t LineReader::ReadRaw(char* buffer, std::size_t size) {
    const std::size_t room = kMaxFileBytes - total_;
    if (room == 0) return 0;
    std::size_t got = read_(context_, buffer, size < room ? size : room);
    if (got > room) got = room;  // a source that gives more than asked
    total_ += got;
    return got;
}

bool LineReader::Fill() {
    if (exhausted_) return false;
    begin_ = end_ = 0;
    if (!started_) {
        started_ = true;
        // Enough bytes to see a byte-order mark, however small the reads.
        while (end_ < 3) {
            const std::size_t got = ReadRaw(chunk_ + end_, sizeof chunk_ - end_);
            if (got == 0) break;
            end_ += got;
        }
        const auto byte = [this](std::size_t i) { return i < end_ ? static_cast<unsigned char>(chunk_[i]) : 0u; };
        if (byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
            encoding_ = Encoding::Utf8WithMark;
            begin_ = 3;
        } else if ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF)) {
            encoding_ = byte(0) == 0xFF ? Encoding::Utf16LittleEndian : Encoding::Utf16BigEndian;
            rawEnd_ = end_ - 2;
            std::memcpy(raw_, chunk_ + 2, rawEnd_);
            end_ = 0;
        }
        if (begin_ < end_) return true;
    }
    if (encoding_ == Encoding::Utf16LittleEndian || encoding_ == Encoding::Utf16BigEndian) return FillFromUtf16();
    begin_ = 0;
    end_ = ReadRaw(chunk_, sizeof chunk_);
    if (end_ == 0) exhausted_ = true;
    return end_ != 0;
}

// UTF-16 as Notepad's "Unicode" and PowerShell 5 save it, turned into the
// UTF-8 the rest of the reader takes: ASCII stays ASCII, so every number and
// line end is where it was. A unit that pairs with nothing becomes U+FFFD.
bool LineReader::FillFromUtf16() {
    const bool little = encoding_ == Encoding::Utf16LittleEndian;
    std::size_t out = 0;
    while (out + 4 <= sizeof chunk_) {
        if (rawEnd_ - rawBegin_ < 4 && !rawExhausted_) {
            std::memmove(raw_, raw_ + rawBegin_, rawEnd_ - rawBegin_);
            rawEnd_ -= rawBegin_;
            rawBegin_ = 0;
            const std::size_t got = ReadRaw(raw_ + rawEnd_, sizeof raw_ - rawEnd_);
            if (got == 0) rawExhausted_ = true;
            rawEnd_ += got;
            continue;
        }
        const std::size_t available = rawEnd_ - rawBegin_;
        if (available == 0) break;
        if (available == 1) {  // half a unit at the end
            rawBegin_ = rawEnd_;
            out += EncodeUtf8(0xFFFD, chunk_ + out);
            break;
        }
        const auto unit = [&](std::size_t at) {
            const auto a = static_cast<unsigned char>(raw_[at]), b = static_cast<unsigned char>(raw_[at + 1]);
            return little ? static_cast<std::uint32_t>(a | (b << 8)) : static_cast<std::uint32_t>((a << 8) | b);
        };
        std::uint32_t code = unit(rawBegin_);
        rawBegin_ += 2;
        if (code >= 0xD800 && code <= 0xDBFF && rawEnd_ - rawBegin_ >= 2 && unit(rawBegin_) >= 0xDC00 &&
            unit(rawBegin_) <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unit(rawBegin_) - 0xDC00);
            rawBegin_ += 2;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        out += EncodeUtf8(code, chunk_ + out);
    }
    begin_ = 0;
    end_ = out;
    if (out == 0) exhausted_ = true;
    return out != 0;
}

bool LineReader::Next(Line& line) {
    line.length = 0;
    line.truncated = false;
    bool any = false;
    std::size_t dropped = 0;  // characters beyond the buffer
    bool droppedEndsInCr = false;
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
        if (take > kept) {
            dropped += take - kept;
            droppedEndsInCr = start[take - 1] == '\r';
        }
        begin_ += take;
        if (newline) {
            ++begin_;  // the line end
            // The CR of a CR LF line end belongs to the end, not to the line:
            // a line of 511 characters saved with CR LF is whole.
            if (dropped == 0 && line.length > 0 && line.text[line.length - 1] == '\r') --line.length;
            if (dropped == 1 && droppedEndsInCr) dropped = 0;
            break;
        }
    }
    line.truncated = dropped > 0;
    line.text[line.length] = '\0';
    return any;
}

bool HasMoreText(LineReader& reader) {
    Line line;
    while (reader.Next(line))
        for (std::size_t i = 0; i < line.length; ++i)
            if (!IsBlank(line.text[i])) return true;
    return false;
}

int ApplySettings(LineReader& reader, SettingsSink& sink) {
    Line line;
    int lineNumber = 0;
    int aimRowsRead = 0;
    int aimValuesRead = 0;
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
                aimValuesRead += parsed.converted;
                if (aimRowsRead == kAimRowCount && aimValuesRead > 0) sink.PublishAimRows(aimRowsRead);
                break;
            case LineKind::WeaponOffset:
                sink.SetWeaponOffset(layout.index, parsed.floats, parsed.converted);
                break;
        }
        sink.LineRead(lineNumber, line, parsed);
    }
    // A file that ends inside the aim rows publishes the rows it has. Aim
    // lines that gave no number at all publish nothing.
    if (aimRowsRead > 0 && aimRowsRead < kAimRowCount && aimValuesRead > 0) sink.PublishAimRows(aimRowsRead);
    return lineNumber;
}

}  // namespace settings
