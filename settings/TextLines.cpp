#include "settings/TextLines.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace settings {
namespace {

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

// The spaces that pasting from a web page, a word processor or an East Asian
// input method brings, in UTF-8 (as UTF-16 text is turned into): every space
// separator of Unicode (the no-break, en, em, thin, ideographic spaces and
// the rest), the zero-width space (U+200B) and a byte-order mark inside the
// text (U+FEFF, a zero-width no-break space), and the no-break space as the
// Windows code page writes it, a lone byte 0xA0. Each becomes a plain space,
// so that the words a player sees apart, or that look like one word, are
// read as they were typed: a label, then numbers.
bool IsPastedSpace(const unsigned char* c, std::size_t size) {
    switch (size) {
        case 1:
            return c[0] == 0xA0;
        case 2:
            return c[0] == 0xC2 && c[1] == 0xA0;  // U+00A0
        case 3: {
            const std::uint32_t code = (c[0] & 0x0Fu) << 12 | (c[1] & 0x3Fu) << 6 | (c[2] & 0x3Fu);
            return code == 0x1680 || (code >= 0x2000 && code <= 0x200B) || code == 0x202F || code == 0x205F ||
                   code == 0x3000 || code == 0xFEFF;
        }
        default:
            return false;
    }
}

std::size_t PlainSpaces(char* text, std::size_t length) {
    const auto byte = [text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    std::size_t out = 0;
    for (std::size_t i = 0; i < length;) {
        const unsigned char c = byte(i);
        std::size_t size = 1;
        if (c >= 0xC2 && c <= 0xF4) size = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        bool whole = size > 1 && i + size <= length;
        for (std::size_t k = 1; whole && k < size; ++k) whole = (byte(i + k) & 0xC0) == 0x80;
        if (!whole) size = 1;
        if (IsPastedSpace(reinterpret_cast<const unsigned char*>(text + i), size)) {
            text[out++] = ' ';
        } else {
            for (std::size_t k = 0; k < size; ++k) text[out++] = text[i + k];
        }
        i += size;
    }
    return out;
}

// Fills a Line from pieces of text: what does not fit the buffer is counted,
// not kept.
class LineBuilder {
public:
    explicit LineBuilder(Line& line) : line_(line) {
        line_.length = 0;
        line_.truncated = false;
    }
    void Append(const char* text, std::size_t size) {
        if (size == 0) return;
        const std::size_t room = kLineBufferSize - 1 - line_.length;
        const std::size_t kept = size < room ? size : room;
        std::memcpy(line_.text + line_.length, text, kept);
        line_.length += kept;
        if (size > kept) {
            dropped_ += size - kept;
            droppedEndsInCr_ = text[size - 1] == '\r';
        }
    }
    // `lineEnd`: the line ended in LF, not at the end of the text. The CR of
    // a CR LF line end belongs to the end, not to the line: a line of 511
    // characters saved with CR LF is whole.
    void Finish(bool lineEnd) {
        if (lineEnd) {
            if (dropped_ == 0 && line_.length > 0 && line_.text[line_.length - 1] == '\r') --line_.length;
            if (dropped_ == 1 && droppedEndsInCr_) dropped_ = 0;
        }
        line_.truncated = dropped_ > 0;
        line_.length = PlainSpaces(line_.text, line_.length);
        line_.text[line_.length] = '\0';
    }

private:
    Line& line_;
    std::size_t dropped_ = 0;
    bool droppedEndsInCr_ = false;
};

}  // namespace

namespace {

// UTF-16 without a byte-order mark, told by the whole text's pattern. A
// settings file is mostly digits, points, blanks and line ends, whatever the
// script of its labels and headings: as UTF-16 each of those is a unit with
// one byte zero, always on the same side of the pair (the high byte's). So
// the text is UTF-16 of one byte order when at least four units are such
// characters and those that are not (a zero on the other side, as U+0400
// has, or a control character, which text has none of besides tab and line
// ends) are rare. Cyrillic, Greek or Chinese labels change nothing; plain
// text has no zero bytes at all.
Encoding MarklessUtf16(const char* bytes, std::size_t size) {
    if (!std::memchr(bytes, 0, size)) return Encoding::Plain;
    for (const bool little : {true, false}) {
        std::size_t ascii = 0, otherSide = 0, controls = 0;
        for (std::size_t i = 0; i + 1 < size; i += 2) {
            const auto low = static_cast<unsigned char>(bytes[little ? i : i + 1]);
            const auto high = static_cast<unsigned char>(bytes[little ? i + 1 : i]);
            const unsigned unit = static_cast<unsigned>(high) << 8 | low;
            if (unit < 0x20 && unit != '\t' && unit != '\r' && unit != '\n' && unit != 0x1A)
                ++controls;
            else if (high == 0)
                ++ascii;
            else if (low == 0)
                ++otherSide;
        }
        if (ascii >= 4 && 8 * (otherSide + controls) <= ascii)
            return little ? Encoding::Utf16LittleEndianWithoutMark : Encoding::Utf16BigEndianWithoutMark;
    }
    return Encoding::Plain;
}

constexpr char kCtrlZ = 0x1A;

}  // namespace

TextLines::TextLines(const char* bytes, std::size_t size)
    : at_(bytes), end_(bytes + (size < kMaxFileBytes ? size : kMaxFileBytes)), limitReached_(size >= kMaxFileBytes) {
    const auto byte = [&](std::size_t i) { return i < size ? static_cast<unsigned char>(bytes[i]) : 0u; };
    if (byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
        encoding_ = Encoding::Utf8WithMark;
        at_ += 3;
    } else if ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF)) {
        encoding_ = byte(0) == 0xFF ? Encoding::Utf16LittleEndian : Encoding::Utf16BigEndian;
        at_ += 2;
    } else {
        encoding_ = MarklessUtf16(at_, static_cast<std::size_t>(end_ - at_));
    }
    // Ctrl-Z ends the text (for UTF-16, as a unit of its own; see NextUtf16),
    // and text after it is text the player meant: its line is named. Lines
    // that end in CR alone (as old Mac editors save them) outnumber the LFs:
    // then CR, LF and CR LF each end a line, so a CR LF that a paste or
    // another editor left in such a file is one line end, not the only one.
    // Both are told by the characters, in either encoding alike.
    const std::size_t step = Utf16() ? 2 : 1;
    const bool little = encoding_ == Encoding::Utf16LittleEndian || encoding_ == Encoding::Utf16LittleEndianWithoutMark;
    const auto character = [&](const char* p) -> std::uint32_t {
        const auto a = static_cast<unsigned char>(p[0]);
        if (step == 1) return a;
        const auto b = static_cast<unsigned char>(p[1]);
        return little ? static_cast<std::uint32_t>(a | (b << 8)) : static_cast<std::uint32_t>((a << 8) | b);
    };
    const char* textEnd = at_ + (static_cast<std::size_t>(end_ - at_) / step) * step;
    int lfs = 0, crs = 0, crLfs = 0;
    std::uint32_t previous = 0;
    const char* p = at_;
    if (step == 1) {  // plain text: up to its first Ctrl-Z at once
        const void* ctrlZ = std::memchr(at_, kCtrlZ, static_cast<std::size_t>(textEnd - at_));
        p = ctrlZ ? static_cast<const char*>(ctrlZ) : textEnd;
        lfs = static_cast<int>(std::count(at_, p, '\n'));
        crs = static_cast<int>(std::count(at_, p, '\r'));
        for (const char* q = at_;
             crs && (q = static_cast<const char*>(std::memchr(q, '\r', static_cast<std::size_t>(p - q))));)
            if (++q != p && *q == '\n') ++crLfs;
    }
    const auto crEnds = [&] { return crs - crLfs > lfs; };
    for (; p != textEnd; p += step) {
        const std::uint32_t c = character(p);
        if (c == static_cast<std::uint32_t>(kCtrlZ)) {
            for (const char* q = p + step; q != textEnd && !ctrlZLine_; q += step) {
                const std::uint32_t after = character(q);
                if (after != static_cast<std::uint32_t>(kCtrlZ) && !(after < 0x80 && IsBlank(static_cast<char>(after))))
                    ctrlZLine_ = 1 + lfs + (crEnds() ? crs - crLfs : 0);
            }
            if (!Utf16()) {
                end_ = p;
                limitReached_ = false;
            }
            break;
        }
        lfs += c == '\n' ? 1 : 0;
        crs += c == '\r' ? 1 : 0;
        crLfs += c == '\n' && previous == '\r' ? 1 : 0;
        previous = c;
    }
    crEnds_ = crEnds();
}

// UTF-16 as Notepad's "Unicode" and PowerShell 5 save it. ASCII stays
// ASCII, so every number and line end is where it was.
std::size_t TextLines::NextUtf16(char* out) {
    const std::size_t available = static_cast<std::size_t>(end_ - at_);
    if (available == 0) return 0;
    if (available == 1) {
        at_ = end_;
        return EncodeUtf8(0xFFFD, out);
    }
    const bool little = encoding_ == Encoding::Utf16LittleEndian || encoding_ == Encoding::Utf16LittleEndianWithoutMark;
    const auto unit = [little](const char* p) {
        const auto a = static_cast<unsigned char>(p[0]), b = static_cast<unsigned char>(p[1]);
        return little ? static_cast<std::uint32_t>(a | (b << 8)) : static_cast<std::uint32_t>((a << 8) | b);
    };
    std::uint32_t code = unit(at_);
    if (code == static_cast<std::uint32_t>(kCtrlZ)) {
        at_ = end_;
        limitReached_ = false;
        return 0;
    }
    at_ += 2;
    if (code >= 0xD800 && code <= 0xDBFF && end_ - at_ >= 2 && unit(at_) >= 0xDC00 && unit(at_) <= 0xDFFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (unit(at_) - 0xDC00);
        at_ += 2;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
        code = 0xFFFD;
    }
    return EncodeUtf8(code, out);
}

bool TextLines::Next(Line& line) {
    LineBuilder builder(line);
    if (at_ == end_) {
        builder.Finish(false);
        return false;
    }
    if (Utf16()) {
        char character[4];
        std::size_t size = NextUtf16(character);
        if (size == 0) {  // a Ctrl-Z where the line would begin
            builder.Finish(false);
            return false;
        }
        for (; size; size = NextUtf16(character)) {
            if (size == 1 && character[0] == '\r' && crEnds_) {
                const char* const next = at_;
                char after[4];
                if (NextUtf16(after) != 1 || after[0] != '\n') at_ = next;
                builder.Finish(false);
                return true;
            }
            if (size == 1 && character[0] == '\n') {
                builder.Finish(true);
                return true;
            }
            builder.Append(character, size);
        }
        builder.Finish(false);
        return true;
    }
    const auto* newline = static_cast<const char*>(std::memchr(at_, '\n', static_cast<std::size_t>(end_ - at_)));
    if (crEnds_) {
        const auto* cr = static_cast<const char*>(std::memchr(at_, '\r', static_cast<std::size_t>(end_ - at_)));
        if (cr && (!newline || cr < newline)) {
            builder.Append(at_, static_cast<std::size_t>(cr - at_));
            at_ = cr + 1 != end_ && cr[1] == '\n' ? cr + 2 : cr + 1;
            builder.Finish(false);
            return true;
        }
    }
    const char* lineEnd = newline ? newline : end_;
    builder.Append(at_, static_cast<std::size_t>(lineEnd - at_));
    at_ = newline ? newline + 1 : end_;
    builder.Finish(newline != nullptr);
    return true;
}

int TextLines::LinesToLastText() {
    Line line;
    int read = 0, last = 0;
    while (Next(line)) {
        ++read;
        for (std::size_t i = 0; i < line.length; ++i)
            if (!IsBlank(line.text[i])) {
                last = read;
                break;
            }
    }
    return last;
}

const char* EncodingName(Encoding encoding) {
    switch (encoding) {
        case Encoding::Utf8WithMark:
            return "UTF-8 with a byte-order mark";
        case Encoding::Utf16LittleEndian:
            return "UTF-16, little endian (Windows \"Unicode\"), read as the text it holds";
        case Encoding::Utf16BigEndian:
            return "UTF-16, big endian, read as the text it holds";
        case Encoding::Utf16LittleEndianWithoutMark:
            return "UTF-16, little endian, without a byte-order mark, read as the text it holds";
        case Encoding::Utf16BigEndianWithoutMark:
            return "UTF-16, big endian, without a byte-order mark, read as the text it holds";
        case Encoding::Plain:
            break;
    }
    return "plain text (ASCII or UTF-8)";
}

}  // namespace settings
