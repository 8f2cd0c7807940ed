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
    std::size_t commentBegin = 0;    // a comment mark right after the last number (0: none)
    std::int32_t integer = 0;        // for "%d" lines
    float floats[kMaxValuesPerLine] = {};
    std::size_t numberBegin[kMaxValuesPerLine] = {};  // where each number converted is written
    std::size_t numberEnd[kMaxValuesPerLine] = {};
};

// Converts `text` (up to its first NUL or `length`) as "%s %d" (integer) or
// "%s %f..." with `count` numbers. A number is a whole word (see ConvertFloat
// for its spelling): one that goes on with anything but a blank is no number
// (0,75  0x3F8C  1.#INF  12abc), except one 'f' after a decimal (0.5f), a
// comma that ends the word (0.10, 0.00), for "%d" a fraction after the point
// (1.9 reads 1), and a comment mark (; # //) right after the number, which
// ends the line (0.5;wide). Conversion stops at the first word that is not a
// number; words after the last number are ignored.
ParsedLine ParseValueLine(const char* text, std::size_t length, bool integer, int count);

// What a line looks like, whatever its place in the file: is it blank, and
// how many numbers follow its label (counted as ParseValueLine reads them,
// however many). `clean`: nothing but numbers follows the label (a comment
// after the last one aside).
struct LineShape {
    bool blank = true;
    int numbers = 0;
    bool clean = true;
    bool firstIsWhole = false;  // the first number is written without a point or exponent (25, not 25.0)
    bool decimalComma = false;  // the word after the numbers is a number written with a decimal comma (1,0)
};
LineShape ShapeOf(const char* text, std::size_t length);

// Locale-free conversions used by ParseValueLine. Each reads the longest
// prefix of [p, end) that forms a number (after optional blanks), stores it in
// `value` and returns the position after it, or null when there is none.
//   integer: [+-]digits; saturates at the 32-bit limits.
//   float:   [+-](digits[.digits]|.digits)[(e|E)[+-]digits], "inf",
//            "infinity", "nan", "nan(...)" in any case; the point is always
//            the decimal separator; correctly rounded (std::from_chars), to
//            infinity or zero beyond a float's range.
const char* ConvertInt(const char* p, const char* end, std::int32_t& value);
// Whether `word` is a number written with one decimal comma for the point
// (1,0  -0,25  ,5  1,5e3), as a locale with a decimal comma writes it.
bool IsDecimalCommaNumber(const char* word, std::size_t length);
const char* ConvertFloat(const char* p, const char* end, float& value);

// A value as the log and the checker print it, alike: the shortest spelling
// that reads back to the same float, in plain decimals where that takes at
// most kPlainNumberLength characters ("100000", "0.0001", "123456792"),
// with an exponent otherwise ("1e-40", "3.4028235e+38"); "nan", "inf",
// "-inf". Writes it and a terminating NUL into `out`; returns its length.
constexpr std::size_t kPlainNumberLength = 12;
constexpr std::size_t kNumberTextSize = 32;  // room enough for any float
std::size_t FormatNumber(float value, char (&out)[kNumberTextSize]);

}  // namespace settings
