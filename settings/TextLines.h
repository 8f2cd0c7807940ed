// The bytes of aimingSets.dat as lines of text: the byte-order mark and
// UTF-16 of Windows editors, line ends in LF or CR LF, the size of the line
// buffer and the cap on what is read at all. No number is looked at here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/SettingsLayout.h"

namespace settings {

// The most a load reads of the file: 31 lines of 511 characters, their line
// ends, and room to spare four times over. A device, a pipe or a giant line
// can then neither hold a load nor make every frame slow.
constexpr std::size_t kMaxFileBytes = 64 * 1024;

// The blanks of the C locale, which formatted input skips.
constexpr bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// What the byte-order mark said.
enum class Encoding : std::uint8_t {
    Plain,
    Utf8WithMark,
    Utf16LittleEndian,
    Utf16BigEndian,
    Utf16LittleEndianWithoutMark,  // no mark, but three in four units of the text have one byte zero
    Utf16BigEndianWithoutMark,
};

// The encoding in a player's words ("UTF-16, little endian (Windows
// \"Unicode\"), read as the text it holds").
const char* EncodingName(Encoding encoding);

// One line of the file as the reader keeps it.
struct Line {
    char text[kLineBufferSize];  // NUL-terminated; may hold NUL bytes of its own
    std::size_t length;          // characters kept, at most kLineBufferSize - 1
    bool truncated;              // the line held more; the rest was dropped
};

// Cuts bytes into lines ending in LF or CR LF (or in CR alone, in a file
// where those outnumber the LFs, as old Mac editors save it). One line of the input is one
// line however long it is: what does not fit the line buffer is dropped,
// never carried into the next line. Nothing past the first kMaxFileBytes
// bytes is read.
//
// Text as Windows tools save it: a UTF-8 byte-order mark is skipped, and
// bytes that start with a UTF-16 byte-order mark (little or big endian), or
// whose units mostly have a zero in every second byte, are read as the text
// they hold, turned into UTF-8; a unit that pairs with nothing, or half a
// unit at the end, becomes U+FFFD. The spaces of a forum paste (no-break,
// thin and narrow no-break spaces, and the Windows code page's no-break
// space) become plain spaces. A Ctrl-Z (0x1A) ends the text, as it does
// for Windows programs that read files in text mode (copy /a and old DOS
// editors write one at the end).
class TextLines {
public:
    // `bytes` must outlive the object.
    TextLines(const char* bytes, std::size_t size);

    // Reads the next line; false when the bytes have no more.
    bool Next(Line& line);
    // Reads the lines not read yet; returns how many of them there are up to
    // the last that holds anything but blanks (0: none holds any). A blank
    // line or two after the last line a load reads is no mistake.
    int LinesToLastText();
    // True when the bytes reached kMaxFileBytes: whatever followed is not read.
    bool LimitReached() const { return limitReached_; }
    Encoding TextEncoding() const { return encoding_; }
    // The line that holds a Ctrl-Z with text after it (0: none).
    int CtrlZLine() const { return ctrlZLine_; }

private:
    bool Utf16() const { return encoding_ != Encoding::Plain && encoding_ != Encoding::Utf8WithMark; }
    // The next character of the text as UTF-8, into `out`; 0 at the end.
    std::size_t NextUtf16(char* out);

    const char* at_;
    const char* end_;
    bool limitReached_;
    Encoding encoding_ = Encoding::Plain;
    int ctrlZLine_ = 0;
    bool crEnds_ = false;  // CR, LF and CR LF each end a line
};

}  // namespace settings
