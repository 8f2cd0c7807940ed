#include "SettingsCases.h"

#include <limits>
#include <list>
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

// `text` (UTF-8) as Windows' "Unicode" saves it: a byte-order mark, then
// UTF-16 in the given byte order, CR LF at each line end.
std::string Utf16(const std::string& text, bool littleEndian) {
    std::u16string units;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::uint32_t code = c;
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (extra) code = c & (0x3F >> extra);
        for (std::size_t k = 1; k <= static_cast<std::size_t>(extra); ++k)
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += 1 + static_cast<std::size_t>(extra);
        if (code == '\n') units += u'\r';
        if (code >= 0x10000) {
            units += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            units += static_cast<char16_t>(code);
        }
    }
    std::string bytes = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t u : units) {
        const char low = static_cast<char>(u & 0xFF), high = static_cast<char>(u >> 8);
        bytes += littleEndian ? low : high;
        bytes += littleEndian ? high : low;
    }
    return bytes;
}

// The reference with the blanks of a forum paste: no-break spaces (U+00A0),
// thin spaces (U+2009) and narrow no-break spaces (U+202F), in UTF-8.
std::string PastedSpaces() {
    return ReferenceWith({{3,
                           "a\xC2\xA0"
                           "3.5"},
                          {11,
                           "row0 11.000\xE2\x80\x89"
                           "11.125 11.250 11.375 11.500 11.625 11.750"},
                          {17,
                           "w1\xC2\xA0"
                           "17.0\xE2\x80\xAF"
                           "17.25\xC2\xA0\xC2\xA0"
                           "17.5"}});
}

// The reference file as a player saves it from Notepad in "Unicode": labels
// in other scripts (one beyond the 16-bit plane) change nothing.
std::string UnicodeReference(bool littleEndian) {
    return Utf16(ReferenceWith({{1, "reload 7"}, {3, "größe 3.5"}, {17, "ziel\xF0\x9F\x8E\xAF 17.0 17.25 17.5"}}),
                 littleEndian);
}

std::string Repeat(char c, std::size_t n) {
    return std::string(n, c);
}

// A case name made at run time, kept for the life of the process.
const char* KeptName(const std::string& name) {
    static std::list<std::string> names;
    return names.emplace_back(name).c_str();
}

// A file with one line too few or too many is read one line off from some
// place on. Where the lines' shapes show it (a heading's place holding a row
// of numbers, a value line's place holding none), nothing from the first
// place the odd line could be is applied; `from` is that line, written out
// from the reference's shape: lines 3-9 hold one number, 11-14 seven, 16-31
// three, and 2, 10 and 15 are headings.
std::vector<Case> ShiftedCases() {
    std::vector<Case> cases;
    for (int line = 3; line <= 31; ++line) {
        // A deleted heading or value line among lines of its shape: the odd
        // line could be any of that run.
        const int from = line <= 9 ? 3 : line <= 10 ? 10 : line <= 14 ? 11 : line;
        if (line <= 15) {
            cases.push_back({KeptName("deleted_line_" + std::to_string(line)),
                             [line] { return ReferenceWithout(line); }, [from] { return ReferenceUpTo(from - 1); }});
        } else {
            // A deleted weapon line looks like a file whose last line is
            // missing: it is read as it stands, every later weapon one row early.
            cases.push_back({KeptName("deleted_line_" + std::to_string(line)),
                             [line] { return ReferenceWithout(line); },
                             [line] {
                                 Snapshot s = ReferenceUpTo(line - 1);
                                 for (int at = line; at <= 30; ++at) {
                                     const float source = static_cast<float>(at + 1);
                                     const float row[3] = {source, source + 0.25f, source + 0.5f};
                                     GiveOffset(s, at - 16, row, 3);
                                 }
                                 return s;
                             }});
        }
        const int blankFrom = line == 10 ? 10 : line == 15 ? 15 : line;
        cases.push_back({KeptName("blank_line_before_" + std::to_string(line)),
                         [line] { return ReferenceWithBlankBefore(line); },
                         [blankFrom] { return ReferenceUpTo(blankFrom - 1); }});
    }
    return cases;
}

// The reference with the sample's labels, as a player who keeps them has
// it: a line deleted, copied, or a comment of its own put in, is named by the
// first label found on another line's place, exactly, and nothing from that
// line on is applied. Labels of the player's own (the rows above) say nothing.
std::vector<Case> LabelShiftedCases() {
    std::vector<Case> cases = {
        {"sample_two_comment_lines_before_17",
         [] {
             std::vector<std::string> lines = SampleLabelledLines();
             lines.insert(lines.begin() + 16, {"; my notes", "# more notes"});
             return Join(lines);
         },
         [] { return ReferenceUpTo(16); }},
        // Two typos besides do not hide the comment line's shift.
        {"sample_comment_line_and_two_typos",
         [] {
             std::vector<std::string> lines = SampleLabelledLines();
             lines[4] = "codeConstant_521632 x5.5";
             lines[24] = "weapon32 25,0 25.25 25.5";
             lines.insert(lines.begin() + 16, "; my notes");
             return Join(lines);
         },
         [] {
             Snapshot s = ReferenceUpTo(16);
             s.codeConstant = Initial().codeConstant;
             return s;
         }},
        // One label on every weapon line is the player's own pattern: no
        // line is out of place.
        {"one_sample_label_on_every_weapon_line",
         [] {
             std::vector<std::string> lines = SampleLabelledLines();
             for (int line = 17; line <= 31; ++line) {
                 std::string& text = lines[static_cast<std::size_t>(line - 1)];
                 text = "weapon22" + text.substr(text.find(' '));
             }
             return Join(lines);
         },
         [] { return Reference(); }},
    };
    for (int line = 2; line <= 31; ++line) {
        // Deleted: the line now holds the next one's label. (The last line
        // deleted is a file one line short, not shifted.)
        cases.push_back({KeptName("sample_deleted_line_" + std::to_string(line)),
                         [line] {
                             std::vector<std::string> lines = SampleLabelledLines();
                             lines.erase(lines.begin() + (line - 1));
                             return Join(lines);
                         },
                         [line] { return ReferenceUpTo(line == 31 ? 30 : line - 1); }});
        if (!settings::kSampleLabels[line - 1]) continue;
        // Copied below itself, to edit the copy: the copy is one too many.
        cases.push_back({KeptName("sample_copied_line_" + std::to_string(line)),
                         [line] {
                             std::vector<std::string> lines = SampleLabelledLines();
                             lines.insert(lines.begin() + line, lines[static_cast<std::size_t>(line - 1)]);
                             return Join(lines);
                         },
                         [line] { return ReferenceUpTo(line); }});
        // A comment on a line of its own, put in before the line.
        cases.push_back({KeptName("sample_comment_before_" + std::to_string(line)),
                         [line] {
                             std::vector<std::string> lines = SampleLabelledLines();
                             lines.insert(lines.begin() + (line - 1), "; my notes");
                             return Join(lines);
                         },
                         [line] { return ReferenceUpTo(line - 1); }});
    }
    return cases;
}

}  // namespace

std::vector<std::string> SampleLabelledLines() {
    std::vector<std::string> lines = ReferenceLines();
    for (int line = 1; line <= 31; ++line) {
        const char* label = settings::kSampleLabels[line - 1];
        if (!label) continue;
        std::string& text = lines[static_cast<std::size_t>(line - 1)];
        text = label + text.substr(text.find(' '));
    }
    return lines;
}

std::string ReferenceWithout(int line) {
    std::vector<std::string> lines = ReferenceLines();
    lines.erase(lines.begin() + (line - 1));
    return Join(lines);
}

std::string ReferenceWithBlankBefore(int line) {
    std::vector<std::string> lines = ReferenceLines();
    lines.insert(lines.begin() + (line - 1), "");
    return Join(lines);
}

std::vector<Case> WellFormedCases() {
    return {
        {"reference", [] { return Join(ReferenceLines()); }, [] { return Reference(); }},
        {"crlf_line_ends", [] { return Join(ReferenceLines(), "\r\n"); }, [] { return Reference(); }},
        // Pasted from a forum: no-break and thin spaces between the words read
        // as blanks, in UTF-8, in UTF-16 and in the Windows code page.
        {"pasted_spaces_utf8", [] { return PastedSpaces(); }, [] { return Reference(); }},
        {"pasted_spaces_utf16", [] { return Utf16(PastedSpaces(), true); }, [] { return Reference(); }},
        {"pasted_spaces_windows_code_page",
         [] {
             return ReferenceWith({{3,
                                    "a\xA0"
                                    "3.5"},
                                   {11,
                                    "row0\xA0"
                                    "11.000 11.125\xA0"
                                    "11.250 11.375 11.500 11.625 "
                                    "11.750"},
                                   {17,
                                    "w1 17.0\xA0\xA0"
                                    "17.25 17.5"}});
         },
         [] { return Reference(); }},
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
             for (int i = 2; i < 7; ++i) s.block[1][i] = kHostFill;  // not given: the host's own values
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
             for (auto& f : s.block[2]) f = kHostFill;  // nothing given: the host's own row
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
             for (int i = 3; i < 7; ++i) s.block[0][i] = kHostFill;
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
             for (int i = 2; i < 7; ++i) s.block[3][i] = kHostFill;
             return s;
         }},
        {"c_float_suffix",  // a single f after a decimal number, as C programmers write it
         [] {
             return ReferenceWith({{3, "a 3.5f"},
                                   {18, "w2 18.0F 18.25f 18.5"},
                                   {12,
                                    "row1 12e0f 12.125 12.25 12.375 "
                                    "12.5 12.625 12.75f"}});
         },
         [] { return Reference(); }},
        // Old files as the plain C reading took them: a comment mark right
        // after a number, a comma that ends the word, a line 1 of "0;".
        {"glued_comments_and_trailing_commas",
         [] {
             return ReferenceWith({{1, "reload 1;"},
                                   {3, "a 3.5;wide"},
                                   {4, "b 4.5#x"},
                                   {6, "c 6.5//x"},
                                   {17, "w1 17.0, 17.25, 17.5"},
                                   {18, "w2 18.0, 18.25, 18.5,"},
                                   {19, "w3 19.0;19.25 19.5"}});
         },
         [] {
             Snapshot s = Reference();
             s.reload = 1;  // "1;" reads 1
             const float first = 19.0f;
             for (auto& f : s.offsets[3]) f = kNotGiven;
             GiveOffset(s, 3, &first, 1);  // the comment ends the line
             return s;
         }},
        {"reload_with_a_c_suffix",
         [] {
             return ReferenceWith({{1, "reload 1f"}});
         },
         [] {
             Snapshot s = Reference();
             s.reload = 1;
             return s;
         }},
        {"headings_with_numbers",  // no shift is seen in them
         [] {
             return ReferenceWith({{2, "2 3 4"}, {10, "h 1 2 3 4 5 6 7"}, {15, "15 16 17"}});
         },
         [] { return Reference(); }},
        // Ctrl-Z ends the text, as copy /a and old DOS editors write it.
        {"ctrl_z_after_the_last_line_end", [] { return Join(ReferenceLines(), "\r\n") + "\x1A"; },
         [] { return Reference(); }},
        {"ctrl_z_ending_the_last_line",
         [] {
             std::string t = Join(ReferenceLines());
             t.back() = '\x1A';
             return t + "more 1 2 3\n";
         },
         [] { return Reference(); }},
        // A Ctrl-Z in the middle: the text ends there (the line is named).
        {"ctrl_z_in_the_middle",
         [] {
             return ReferenceWith({{22, "\x1Aw6 22.0 22.25 22.5"}});
         },
         [] { return ReferenceUpTo(21); }},
        // Lines that end in CR alone, as old Mac editors save them.
        {"cr_only_line_ends", [] { return Join(ReferenceLines(), "\r"); }, [] { return Reference(); }},
        // UTF-16 without a mark whose first line is short and accented: the
        // whole text's pattern tells.
        {"utf16_without_a_mark_short_first_line",
         [] {
             return Utf16(ReferenceWith({{1, "r\xC3\xA9 0"}}), true).substr(2);
         },
         [] { return Reference(); }},
        {"utf16_without_a_byte_order_mark", [] { return UnicodeReference(true).substr(2); },
         [] {
             Snapshot s = Reference();
             s.reload = 7;
             return s;
         }},
        {"utf16_little_endian", [] { return UnicodeReference(true); },
         [] {
             Snapshot s = Reference();
             s.reload = 7;
             return s;
         }},
        {"utf16_big_endian", [] { return UnicodeReference(false); },
         [] {
             Snapshot s = Reference();
             s.reload = 7;
             return s;
         }},
    };
}

std::vector<Case> HostileCases() {
    std::vector<Case> cases = {
        {"missing_file", nullptr, [] { return Initial(); }},
        {"file_ending_at_line_20",
         [] {
             std::vector<std::string> lines = ReferenceLines();
             lines.resize(20);
             return Join(lines);
         },
         [] { return ReferenceUpTo(20); }},  // the weapons of lines 21-31 keep the host's own point
        // Words that begin like a number and go on: no number, the line stops.
        {"decimal_commas",
         [] {
             return ReferenceWith({{3, "a 3,5"}, {17, "w1 17,0 17,25 17,5"}, {18, "w2 18.0 18,25 18.5"}});
         },
         [] {
             Snapshot s = ReferenceExcept({3, 17});
             const float first = 18.0f;
             for (auto& f : s.offsets[2]) f = kNotGiven;
             GiveOffset(s, 2, &first, 1);
             return s;
         }},
        {"hexadecimal",
         [] {
             return ReferenceWith({{5, "code 0x3F8CCCCD"}, {6, "c 0x1p3"}});
         },
         [] {
             return ReferenceExcept({5, 6});
         }},
        {"msvc_infinity_spelling",
         [] {
             return ReferenceWith({{4, "b 1.#INF"}, {7, "d -1.#IND"}});
         },
         [] {
             return ReferenceExcept({4, 7});
         }},
        {"letters_after_a_number",
         [] {
             return ReferenceWith({{8, "e 12abc"}, {9, "f 1e5ff"}, {1, "reload 1x"}, {19, "w3 .5f.5"}});
         },
         [] {
             return ReferenceExcept({8, 9, 19});
         }},
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
             for (auto& f : s.block[1]) f = kHostFill;
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
        // Beyond a float's range a number is infinite, which no game value can
        // be: the line is not applied. Below it, zero.
        {"numbers_too_large_for_a_float",
         [] {
             return ReferenceWith(
                 {{3, "a 1e39"}, {4, "b -3.5e38"}, {6, "c 1e-50"}, {7, "d 99999999999999999999999999999999999999999"}});
         },
         [] {
             Snapshot s = ReferenceExcept({3, 4, 7});
             s.hostValues[2] = Bits(0.0f);
             return s;
         }},
        {"nan_and_inf_refused",
         [] {
             return ReferenceWith({{5, "code nan"}, {17, "w1 17.0 inf 17.5"}, {12, "row1 1 2 3 4 5 6 -inf"}});
         },
         [] {
             return ReferenceExcept({5, 12, 17});
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
         [] { return Initial(); }},  // four aim lines read, no number: nothing published
        {"integer_overflow_saturates",
         [] {
             return ReferenceWith({{1, "reload 99999999999999"}});
         },
         [] {
             Snapshot s = Reference();
             s.reload = std::numeric_limits<std::int32_t>::max();
             return s;
         }},
        // A label with a space (its second word a whole number, then as many
        // numbers as the line takes), or a first value glued to the label:
        // plainly wrong, so nothing of the line is applied.
        {"label_with_a_space",
         [] {
             return ReferenceWith({{20, "weapon 20 20.0 20.25 20.5"}, {5, "codeConstant 521632 5.5"}});
         },
         [] {
             return ReferenceExcept({5, 20});
         }},
        {"value_glued_to_the_label",
         [] {
             return ReferenceWith({{17, "w1:17.0 17.25 17.5"}, {18, "w2=18.0 18.25 18.5"}, {3, "a=3.5"}});
         },
         [] {
             return ReferenceExcept({3, 17, 18});
         }},
    };
    for (Case& c : ShiftedCases()) cases.push_back(std::move(c));
    for (Case& c : LabelShiftedCases()) cases.push_back(std::move(c));
    return cases;
}

}  // namespace settings_cases
