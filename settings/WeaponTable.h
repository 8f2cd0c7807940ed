// Which row of weaponOffsets serves which weapon-type code.
#pragma once

#include <cstdint>

namespace weapons {

constexpr std::uint32_t kFirstCode = 19;
constexpr std::int8_t kNone = -1;
constexpr std::int8_t kZeroVector = 0;  // row 0 serves no code: 0 marks code 59, the zero offset
// The outcome for the codes 19..59: a row of weaponOffsets, the zero vector or none.
// clang-format off
constexpr std::int8_t kRowByCode[41] = {
    13, 14, kNone, 1, 2, 3, 4, 5, 6, 7, 8,  // 19..29
    10, 11, 9, 12,                          // 30..33 (30 -> row 10, 32 -> row 9)
    kNone, kNone, kNone, 15,                // 34..37
    kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,  // 38..47
    kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,  // 48..57
    kNone, kZeroVector,                     // 58, 59
};
// clang-format on

// The row for `code`: 1..15, kZeroVector (code 59) or kNone. Codes below 19
// wrap past the table as unsigned values.
constexpr int OffsetRow(std::uint32_t code) {
    const std::uint32_t index = code - kFirstCode;
    return index < sizeof kRowByCode ? kRowByCode[index] : kNone;
}

// The code served by `row` (1..15), or 0 for row 0.
constexpr std::uint32_t CodeOfRow(int row) {
    for (std::uint32_t i = 0; i < sizeof kRowByCode; ++i)
        if (row > 0 && kRowByCode[i] == row) return kFirstCode + i;
    return 0;
}

}  // namespace weapons
