// Reading and converting the lines of aimingSets.dat, with no dependency on
// Windows or on the host: the plugin's loader, the settings checker, the
// native tests and the fuzzer all run this same code.
//
// The file is positional: line n means what kLayout[n - 1] says, whatever its
// label. A value line is a label (the whole first run of non-blank
// characters, never looked at) followed by blank-separated numbers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/SettingsLayout.h"

namespace settings {

// One line of the file as the reader keeps it.
struct Line {
    char text[kLineBufferSize];  // NUL-terminated; may hold NUL bytes of its own
    std::size_t length;          // characters kept, at most kLineBufferSize - 1
    bool truncated;              // the line held more; the rest was dropped
};

// The most a load reads of the file: 31 lines of 511 characters, their line
// ends, and room to spare four times over. A device, a pipe or a giant line
// can then neither hold a load nor make every frame slow.
constexpr std::size_t kMaxFileBytes = 64 * 1024;

// Splits a byte stream into lines ending in LF or CR LF.
// One line of the input is one line however long it is: what does not fit
// the line buffer is dropped, never carried into the next line. Nothing past
// the first kMaxFileBytes bytes is read.
//
// Text as Windows tools save it: a UTF-8 byte-order mark is skipped, and a
// file that starts with a UTF-16 byte-order mark (little or big endian) is
// read as the text it holds, turned into UTF-8.
class LineReader {
public:
    // Fills up to `size` bytes; returns how many, 0 at the end or on error.
    using ReadFn = std::size_t (*)(void* context, char* buffer, std::size_t size);

    enum class Encoding : std::uint8_t { Plain, Utf8WithMark, Utf16LittleEndian, Utf16BigEndian };

    LineReader(ReadFn read, void* context) : read_(read), context_(context) {}
    // Reads the next line; false when the input has no more.
    bool Next(Line& line);
    // True once kMaxFileBytes bytes have been read: whatever follows is not.
    bool LimitReached() const { return total_ == kMaxFileBytes; }
    // What the byte-order mark said, once the first line has been read.
    Encoding TextEncoding() const { return encoding_; }

private:
    bool Fill();
    bool FillFromUtf16();
    std::size_t ReadRaw(char* buffer, std::size_t size);

    ReadFn read_;
    void* context_;
    char chunk_[4096];
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::size_t total_ = 0;
    bool started_ = false;
    bool exhausted_ = false;
    Encoding encoding_ = Encoding::Plain;
    char raw_[sizeof chunk_];  // UTF-16 bytes not yet decoded: at first all of the first read but its mark
    std::size_t rawBegin_ = 0;
    std::size_t rawEnd_ = 0;
    bool rawExhausted_ = false;
};

// What one value line yielded.
struct ParsedLine {
    bool hasLabel = false;
    std::size_t labelBegin = 0;      // offset of the label in the line
    std::size_t labelLength = 0;     // the whole first token
    int converted = 0;               // numbers converted, from the first on
    std::size_t stop = 0;            // offset in the line just past the last number converted (its digits)
    std::size_t stopWordBegin = 0;   // the word that stopped the conversion, if one did
    std::size_t stopWordLength = 0;  //   (0: the line ended, or all numbers were read)
    std::int32_t integer = 0;        // for "%d" lines
    float floats[kMaxValuesPerLine] = {};
};

// Converts `text` (up to its first NUL or `length`) as "%s %d" (integer) or
// "%s %f..." with `count` numbers. A number is a whole word (see ConvertFloat
// for its spelling): one that goes on with anything but a blank is no number
// (0,75  0x3F8C  1.#INF  12abc), except one 'f' after a decimal (0.5f), and
// for "%d" a fraction after the point (1.9 reads 1). Conversion stops at the
// first word that is not a number; words after the last number are ignored.
ParsedLine ParseValueLine(const char* text, std::size_t length, bool integer, int count);

// Locale-free conversions used by ParseValueLine. Each reads the longest
// prefix of [p, end) that forms a number (after optional blanks), stores it in
// `value` and returns the position after it, or null when there is none.
//   integer: [+-]digits; saturates at the 32-bit limits.
//   float:   [+-](digits[.digits]|.digits)[(e|E)[+-]digits], "inf",
//            "infinity", "nan", "nan(...)" in any case; the point is always
//            the decimal separator; correctly rounded (std::from_chars), to
//            infinity or zero beyond a float's range.
const char* ConvertInt(const char* p, const char* end, std::int32_t& value);
const char* ConvertFloat(const char* p, const char* end, float& value);

// Where a load puts its values: one member per kind of destination. The
// plugin's sink writes into the host, the checker's into a report, the
// tests' and the fuzzer's into plain memory.
class SettingsSink {
public:
    virtual ~SettingsSink() = default;

    // Line 1.
    virtual void SetReloadEveryFrame(std::int32_t value) = 0;
    // Host value `index` (0 to kHostValueCount - 1: host values 1 to 6).
    virtual void SetHostValue(int index, float value) = 0;
    // The float constant in the host's code, as its bit pattern.
    virtual void SetCodeConstant(std::uint32_t bits) = 0;
    // The first `count` values of aim row `row`, staged until published over
    // what the host's block holds now: an element no file gives keeps the
    // host's own value.
    virtual void StageAimRow(int row, const float* values, int count) = 0;
    // Sends staged rows [0, rowCount) to the host's aim block: all four once
    // the fourth row line has been read, fewer when the file ends inside them;
    // never when no aim line gave a number.
    virtual void PublishAimRows(int rowCount) = 0;
    // The first `count` values of weapon offset row `row` (0: the line gave
    // none, and the row keeps what it had: the host's own point until a file
    // has given the row once).
    virtual void SetWeaponOffset(int row, const float* values, int count) = 0;
    // Told about every line read, after it has been applied.
    virtual void LineRead(int lineNumber, const Line& line, const ParsedLine& parsed) {
        (void)lineNumber;
        (void)line;
        (void)parsed;
    }
};

// Whether the lines `reader` has left hold anything but blanks (a blank line
// or two after the last one a load reads is no mistake).
bool HasMoreText(LineReader& reader);

// Reads at most kLineCount lines and applies each as it is read; a
// destination whose value the file does not provide keeps its value.
// Returns the number of lines read.
int ApplySettings(LineReader& reader, SettingsSink& sink);

}  // namespace settings
