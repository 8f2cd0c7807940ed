#include "settings_cases.h"

#include <limits>
#include <random>

namespace settings_cases {
namespace {

// The reference snapshot with the destinations of `keep` lines left as before.
Snapshot ReferenceExcept(std::initializer_list<int> keep) {
    Snapshot s = Initial();
    for (int line = 1; line <= 31; ++line) {
        bool kept = false;
        for (int k : keep) kept |= (k == line);
        if (!kept) ApplyReferenceLine(s, line);
    }
    return s;
}

// Only lines 1..n of the reference were read.
Snapshot ReferenceUpTo(int n) {
    Snapshot s = Initial();
    for (int line = 1; line <= n; ++line) ApplyReferenceLine(s, line);
    return s;
}

std::string Repeat(char c, std::size_t n) {
    return std::string(n, c);
}

}  // namespace

std::vector<Case> WellFormedCases() {
    return {
        {"reference", [] { return Join(ReferenceLines()); }, [] { return Reference(); }},
        {"crlf_line_ends", [] { return Join(ReferenceLines(), "\r\n"); }, [] { return Reference(); }},
        {"no_final_line_end",
         [] {
             std::string t = Join(ReferenceLines());
             t.pop_back();
             return t;
         },
         [] { return Reference(); }},
        {"same_label_everywhere",
         [] {
             std::vector<std::string> lines = ReferenceLines();
             for (std::size_t i = 0; i < lines.size(); ++i)
                 if (i != 1 && i != 9 && i != 14) lines[i] = "x" + lines[i].substr(lines[i].find(' '));
             return Join(lines);
         },
         [] { return Reference(); }},
        {"tabs_and_leading_blanks",
         [] {
             return ReferenceWith({{3, " \t a\t\t3.5  "}, {17, "\tw1 17.0\t17.25 \t17.5"}});
         },
         [] { return Reference(); }},
        {"trailing_tokens_ignored",
         [] {
             return ReferenceWith({{3, "a 3.5 junk 99"}, {16, "w0 16.0 16.25 16.5 7 8 9"}});
         },
         [] { return Reference(); }},
        {"exponents_and_signs",
         [] {
             return ReferenceWith({{3, "a +0.35E+1"}, {4, "b -45e-1"}, {6, "c 6.5e0"}, {7, "d .75e1"}, {8, "e 80E-1"}});
         },
         [] {
             Snapshot s = Reference();
             s.hostValues[0] = Bits(3.5f);
             s.hostValues[1] = Bits(-4.5f);
             s.hostValues[3] = Bits(7.5f);
             s.hostValues[4] = Bits(8.0f);
             return s;
         }},
        {"integer_stops_at_point",
         [] {
             return ReferenceWith({{1, "reload 1.9"}});
         },
         [] {
             Snapshot s = Reference();
             s.reload = 1;
             return s;
         }},
        {"negative_reload",
         [] {
             return ReferenceWith({{1, "reload -3"}});
         },
         [] {
             Snapshot s = Reference();
             s.reload = -3;
             return s;
         }},
        {"number_in_place_of_label",
         [] {
             return ReferenceWith({{4, "4.5 9.75"}, {12, "1.5 2.5 3.5"}, {18, "7.5 8.5"}});
         },
         [] {
             // The number is the label; the rest fill the line's first destinations.
             Snapshot s = Reference();
             s.hostValues[1] = Bits(9.75f);
             s.block[1][0] = Bits(2.5f);
             s.block[1][1] = Bits(3.5f);
             for (int i = 2; i < 7; ++i) s.block[1][i] = 0;  // staged zeros reach the host block
             s.offsets[2][0] = Bits(8.5f);
             s.offsets[2][1] = 0;
             s.offsets[2][2] = 0;
             return s;
         }},
        {"blank_value_lines",
         [] {
             return ReferenceWith({{3, ""}, {6, "   \t"}, {13, ""}, {20, ""}});
         },
         [] {
             Snapshot s = ReferenceExcept({3, 6, 20});
             for (auto& f : s.block[2]) f = 0;  // the row stays as staged: zero before any load
             return s;
         }},
        {"three_number_aim_row",
         [] {
             return ReferenceWith({{11, "row0 1.25 2.25 3.25"}});
         },
         [] {
             Snapshot s = Reference();
             s.block[0][0] = Bits(1.25f);
             s.block[0][1] = Bits(2.25f);
             s.block[0][2] = Bits(3.25f);
             for (int i = 3; i < 7; ++i) s.block[0][i] = 0;
             return s;
         }},
        {"free_text_lines_hold_numbers",
         [] {
             return ReferenceWith({{2, "1 2 3"}, {10, "4.5 4.5"}, {15, "x 9"}});
         },
         [] { return Reference(); }},
        {"lines_after_31_never_read",
         [] { return Join(ReferenceLines()) + "extra 1 2 3\nreload 1\n" + Join(ReferenceLines()); },
         [] { return Reference(); }},
        {"partial_row_conversion",
         [] {
             return ReferenceWith({{17, "w1 1.5 oops 2.5"}, {14, "row3 1 2 x 4"}});
         },
         [] {
             Snapshot s = Reference();
             s.offsets[1][0] = Bits(1.5f);
             s.offsets[1][1] = 0;
             s.offsets[1][2] = 0;
             s.block[3][0] = Bits(1.0f);
             s.block[3][1] = Bits(2.0f);
             for (int i = 2; i < 7; ++i) s.block[3][i] = 0;
             return s;
         }},
    };
}

std::vector<Case> HostileCases() {
    const float inf = std::numeric_limits<float>::infinity();
    return {
        {"missing_file", nullptr, [] { return Initial(); }},
        {"empty_file", [] { return std::string(); }, [] { return Initial(); }},
        {"cut_after_line_12",
         [] {
             std::vector<std::string> lines = ReferenceLines();
             lines.resize(12);
             return Join(lines);
         },
         [] { return ReferenceUpTo(12); }},  // block rows 2 and 3 keep the host's values
        {"cut_inside_line_5",
         [] { return Join(ReferenceLines()).substr(0, Join(ReferenceLines()).find("code 5.5") + 6); },
         [] {
             Snapshot s = ReferenceUpTo(4);  // the file ends in "code 5": line 5 reads 5.0
             s.codeConstant = Bits(5.0f);
             return s;
         }},
        {"line_5_without_number",
         [] {
             return ReferenceWith({{5, "code"}});
         },
         [] { return ReferenceExcept({5}); }},
        {"line_5_not_a_number",
         [] {
             return ReferenceWith({{5, "code x5.5"}});
         },
         [] { return ReferenceExcept({5}); }},
        {"label_longer_than_127",
         [] {
             return ReferenceWith({{3, Repeat('L', 300) + " 3.5"}, {16, Repeat('M', 128) + " 16.0 16.25 16.5"}});
         },
         [] { return Reference(); }},
        {"long_free_text_line",
         [] {
             return ReferenceWith({{2, Repeat('#', 5000)}});
         },
         [] { return Reference(); }},
        {"long_value_line",
         [] {
             return ReferenceWith({{3, "a 3.5 " + Repeat('z', 2000)}, {12, "row1" + Repeat(' ', 600) + "1 2 3"}});
         },
         [] {
             Snapshot s = Reference();  // the numbers of line 12 lie beyond the buffer
             for (auto& f : s.block[1]) f = 0;
             return s;
         }},
        {"line_of_exactly_511",
         [] {
             return ReferenceWith({{3, "a 3.5" + Repeat(' ', 506)}, {4, "b 4.5" + Repeat(' ', 507)}});
         },
         [] { return Reference(); }},
        {"nul_bytes",
         [] {
             return ReferenceWith({{3, std::string("a\0 3.5", 6)}, {4, std::string("b 4.5\0 junk", 11)}});
         },
         [] { return ReferenceExcept({3}); }},
        {"utf8_byte_order_mark",
         [] {
             return "\xEF\xBB\xBF" + ReferenceWith({{1, "reload 7"}});
         },
         [] {
             Snapshot s = Reference();
             s.reload = 7;
             return s;
         }},
        {"numbers_too_large_for_a_float",
         [] {
             return ReferenceWith(
                 {{3, "a 1e39"}, {4, "b -3.5e38"}, {6, "c 1e-50"}, {7, "d 99999999999999999999999999999999999999999"}});
         },
         [=] {
             Snapshot s = Reference();
             s.hostValues[0] = Bits(inf);
             s.hostValues[1] = Bits(-inf);
             s.hostValues[2] = Bits(0.0f);
             s.hostValues[3] = Bits(inf);
             return s;
         }},
        {"heading_past_the_read_limit",  // nothing after the first 64 KiB is read
         [] {
             return ReferenceWith({{2, Repeat('x', 10u << 20)}}) + Repeat('y', 1u << 20);
         },
         [] { return ReferenceUpTo(2); }},
        {"file_just_under_the_read_limit",
         [] {
             const std::string text = ReferenceWith({{2, Repeat('x', 60000)}});
             return text + Repeat('\n', 64 * 1024 - text.size());
         },
         [] { return Reference(); }},
        {"only_line_ends", [] { return std::string(40, '\n'); },
         [] {
             Snapshot s = Initial();
             for (auto& row : s.block)
                 for (auto& f : row) f = 0;  // four row lines read, nothing converted
             return s;
         }},
        {"integer_overflow_saturates",
         [] {
             return ReferenceWith({{1, "reload 99999999999999"}});
         },
         [] {
             Snapshot s = Reference();
             s.reload = std::numeric_limits<std::int32_t>::max();
             return s;
         }},
    };
}

}  // namespace settings_cases
