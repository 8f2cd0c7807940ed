// Reading and converting the lines of aimingSets.dat, with no dependency on
// Windows: the plugin's loader, the settings checker, the native tests and the
// fuzzer all run this same code.
//
// The file is positional: line n means what kLayout[n - 1] says, whatever its
// label. A value line is a label (the whole first run of non-blank
// characters, never looked at) followed by blank-separated numbers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/HostInterface.h"

namespace settings {

constexpr int kLineCount = 31;
constexpr std::size_t kLineBufferSize = 512;   // at most 511 characters of a line are kept
constexpr std::size_t kLabelBufferSize = 128;  // labels longer than 127 characters are reported
constexpr int kMaxValuesPerLine = 7;
constexpr int kAimRowCount = 4;
constexpr int kAimRowLength = 7;
constexpr int kWeaponOffsetRows = 16;

enum class LineKind : std::uint8_t {
    ReloadSwitch,  // "%s %d"  -> reloadEveryFrame
    FreeText,      // read and discarded
    HostFloat,     // "%s %f"  -> host data word `address`
    CodeConstant,  // "%s %f"  -> 4 code bytes at `address` (moved to the loaded image)
    AimRow,        // "%s %f x7" -> aimRows[index], then the host block
    WeaponOffset,  // "%s %f x3" -> weaponOffsets[index]
};

struct LineLayout {
    LineKind kind;
    std::uint8_t values;  // numbers the line converts
    std::uint8_t index;   // row, for AimRow and WeaponOffset
    host::Address address;
};

constexpr LineLayout kLayout[kLineCount] = {
    {LineKind::ReloadSwitch, 1, 0, 0},
    {LineKind::FreeText, 0, 0, 0},
    {LineKind::HostFloat, 1, 0, host::kAimFloat8CC4B4},
    {LineKind::HostFloat, 1, 0, host::kAimFloat8CC4B8},
    {LineKind::CodeConstant, 1, 0, host::kAimCodeConstant},
    {LineKind::HostFloat, 1, 0, host::kAimFloat8CC4B0},
    {LineKind::HostFloat, 1, 0, host::kAimFloat8CC4AC},
    {LineKind::HostFloat, 1, 0, host::kAimFloat8CC4A8},
    {LineKind::HostFloat, 1, 0, host::kAimFloat8CC4A0},
    {LineKind::FreeText, 0, 0, 0},
    {LineKind::AimRow, 7, 0, 0},
    {LineKind::AimRow, 7, 1, 0},
    {LineKind::AimRow, 7, 2, 0},
    {LineKind::AimRow, 7, 3, 0},
    {LineKind::FreeText, 0, 0, 0},
    {LineKind::WeaponOffset, 3, 0, 0},
    {LineKind::WeaponOffset, 3, 1, 0},
    {LineKind::WeaponOffset, 3, 2, 0},
    {LineKind::WeaponOffset, 3, 3, 0},
    {LineKind::WeaponOffset, 3, 4, 0},
    {LineKind::WeaponOffset, 3, 5, 0},
    {LineKind::WeaponOffset, 3, 6, 0},
    {LineKind::WeaponOffset, 3, 7, 0},
    {LineKind::WeaponOffset, 3, 8, 0},
    {LineKind::WeaponOffset, 3, 9, 0},
    {LineKind::WeaponOffset, 3, 10, 0},
    {LineKind::WeaponOffset, 3, 11, 0},
    {LineKind::WeaponOffset, 3, 12, 0},
    {LineKind::WeaponOffset, 3, 13, 0},
    {LineKind::WeaponOffset, 3, 14, 0},
    {LineKind::WeaponOffset, 3, 15, 0},
};

// One line of the file as the reader keeps it.
struct Line {
    char text[kLineBufferSize];  // NUL-terminated; may hold NUL bytes of its own
    std::size_t length;          // characters kept, at most kLineBufferSize - 1
    bool truncated;              // the line held more; the rest was dropped
};

// Splits a byte stream into lines ending in LF (a CR before it is a blank).
// One line of the input is one line however long it is: what does not fit
// the line buffer is dropped, never carried into the next line.
class LineReader {
public:
    // Fills up to `size` bytes; returns how many, 0 at the end or on error.
    using ReadFn = std::size_t (*)(void* context, char* buffer, std::size_t size);

    LineReader(ReadFn read, void* context) : read_(read), context_(context) {}
    // Reads the next line; false when the input has no more.
    bool Next(Line& line);

private:
    bool Fill();

    ReadFn read_;
    void* context_;
    char chunk_[4096];
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool exhausted_ = false;
};

// What one value line yielded.
struct ParsedLine {
    bool hasLabel = false;
    std::size_t labelBegin = 0;   // offset of the label in the line
    std::size_t labelLength = 0;  // the whole first token
    int converted = 0;            // numbers converted, from the first on
    std::size_t stop = 0;         // offset in the line just past the last number converted
    std::int32_t integer = 0;     // for "%d" lines
    float floats[kMaxValuesPerLine] = {};
};

// Converts `text` (up to its first NUL or `length`) as "%s %d" (integer) or
// "%s %f..." with `count` numbers. Conversion stops at the first token that is
// not a number of the expected form; tokens after the last number are ignored.
ParsedLine ParseValueLine(const char* text, std::size_t length, bool integer, int count);

// Locale-free conversions used by ParseValueLine. Each reads the longest
// prefix of [p, end) that forms a number (after optional blanks), stores it in
// `value` and returns the position after it, or null when there is none.
//   integer: [+-]digits; saturates at the 32-bit limits; "1.9" reads 1.
//   float:   [+-](digits[.digits]|.digits)[(e|E)[+-]digits], "inf",
//            "infinity", "nan", "nan(...)"; the point is always the decimal
//            separator; rounded once to the nearest float.
const char* ConvertInt(const char* p, const char* end, std::int32_t& value);
const char* ConvertFloat(const char* p, const char* end, float& value);

// Where a load puts its values. The host addresses of kLayout are resolved
// through the callbacks, so the same code serves the plugin (host memory) and
// native tools (plain memory).
struct SettingsTarget {
    std::int32_t* reloadEveryFrame;
    float (*aimRows)[kAimRowLength];  // kAimRowCount rows, staged
    float (*weaponOffsets)[3];        // kWeaponOffsetRows rows
    float* (*hostFloat)(host::Address address, void* context);
    void (*writeCodeConstant)(std::uint32_t bits, void* context);
    // Publishes rows [0, rows) of aimRows (all four once the fourth row line
    // has been read, fewer when the file ends inside the section).
    void (*publishAimRows)(const float (*rows)[kAimRowLength], int rowCount, void* context);
    void* context;
    // Optional: told about every line read, after it has been applied.
    void (*observeLine)(int lineNumber, const Line& line, const ParsedLine& parsed, void* context);
};

// Reads at most kLineCount lines and applies each as it is read; a
// destination whose value the file does not provide keeps its value.
// Returns the number of lines read.
int ApplySettings(LineReader& reader, const SettingsTarget& target);

}  // namespace settings
