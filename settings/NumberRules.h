// How a value line reads: the label, then numbers as whole words, converted
// without the locale and correctly rounded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/SettingsLayout.h"

namespace settings {

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

}  // namespace settings
