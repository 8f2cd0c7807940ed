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
            // A deleted weapon line: the weapon lines all look alike, so only
            // the count of lines shows it, and not where. Nothing from the
            // first weapon line on is applied.
            cases.push_back({KeptName("deleted_line_" + std::to_string(line)),
                             [line] { return ReferenceWithout(line); }, [] { return ReferenceUpTo(15); },
                             "one of the 16 weapon lines seems missing", "settings partly applied (11 of 27 values"});
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

// The reference with the sample's labels, and offset row 0, which serves no
// weapon, all zero as the sample has it: a file with nothing to say.
std::vector<std::string> SampleLines() {
    std::vector<std::string> lines = SampleLabelledLines();
    lines[15] = "unusedRow0 0.0 0.0 0.0";
    return lines;
}
Snapshot WithRow0Zero(Snapshot s) {
    for (auto& f : s.offsets[0]) f = 0;
    return s;
}
Snapshot Sample() {
    return WithRow0Zero(Reference());
}
Snapshot SampleExcept(std::initializer_list<int> keep) {
    return WithRow0Zero(ReferenceExcept(keep));
}

// The sample-labelled reference with lines replaced, or relabelled.
std::string SampleWith(const std::vector<std::pair<int, std::string>>& replacements) {
    std::vector<std::string> lines = SampleLines();
    for (const auto& [line, text] : replacements) lines[static_cast<std::size_t>(line - 1)] = text;
    return Join(lines);
}
std::string Relabelled(const std::vector<std::pair<int, std::string>>& labels) {
    std::vector<std::string> lines = SampleLines();
    for (const auto& [line, label] : labels) {
        std::string& text = lines[static_cast<std::size_t>(line - 1)];
        text = label + text.substr(text.find(' '));
    }
    return Join(lines);
}

// The reference snapshot where weapon line `line` gave what reference line
// `source` holds.
void GiveReferenceOffset(Snapshot& s, int line, int source) {
    const float row[3] = {static_cast<float>(source), static_cast<float>(source) + 0.25f,
                          static_cast<float>(source) + 0.5f};
    for (auto& f : s.offsets[line - 16]) f = kNotGiven;
    GiveOffset(s, line - 16, row, 3);
}

// The sample with labels and headings in another script.
std::string ReferenceInScript(const char* label, const char* heading) {
    std::vector<std::string> lines = SampleLines();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::size_t space = lines[i].find(' ');
        if (i == 1 || i == 9 || i == 14)
            lines[i] = std::string("== ") + heading + " " + std::to_string(i + 1) + " ==";
        else
            lines[i] = label + std::to_string(i + 1) + lines[i].substr(space);
    }
    return Join(lines);
}

}  // namespace

testing::AssertionResult SaysWhatItShould(const Case& c, const settings::SettingsFile& file) {
    std::string said;
    bool found = false;
    for (int i = 0; i < file.problems.Kept(); ++i) {
        said += "\n  line " + std::to_string(file.problems.kept[i].line) + ": " + file.problems.kept[i].text;
        found |= c.said && *c.said && std::strstr(file.problems.kept[i].text, c.said) != nullptr;
    }
    if (!c.said || (*c.said ? found : file.problems.count == 0)) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "expected " << (*c.said ? std::string("\"") + c.said + "\"" : "nothing")
                                       << ", said:" << (said.empty() ? " nothing" : said);
}

std::vector<Case> EditedSampleCases() {
    return {
        // Correct files: labels of the player's own that reuse the sample's
        // words, headings that name labels. All is applied, nothing said.
        {"aim_rows_labelled_from_1",
         [] {
             return Relabelled({{11, "aimRow1"}, {12, "aimRow2"}, {13, "aimRow3"}, {14, "aimRow4"}});
         },
         [] { return Sample(); }, "", "settings applied, weapon"},
        {"heading_starting_with_a_weapon_label",
         [] {
             return SampleWith({{15, "weapon22 to weapon37: x y z offsets"}});
         },
         [] { return Sample(); }, "", "settings applied, weapon"},
        {"heading_starting_with_the_reload_label",
         [] {
             return SampleWith({{2, "reloadEveryFrame above: 1 on, 0 off"}});
         },
         [] { return Sample(); }, "", "settings applied, weapon"},
        {"label_with_a_colon_before_digits",
         [] {
             return Relabelled({{17, "weapon:22"}, {18, "weapon=23"}});
         },
         [] { return Sample(); }, "", "settings applied, weapon"},
        {"number_as_the_label_every_value_present",
         [] {
             return Relabelled({{17, "22"}, {3, "1"}});
         },
         [] { return Sample(); }, "", "settings applied, weapon"},
        {"hash_label_with_numbers",
         [] {
             return Relabelled({{17, "#22"}});
         },
         [] { return Sample(); }, "", "settings applied, weapon"},
        {"cr_only_with_one_cr_lf",
         [] {
             std::string text = Join(SampleLines(), "\r");
             return text.replace(text.find('\r', text.find("aim block")), 1, "\r\n");
         },
         [] { return Sample(); }, "", "settings applied, weapon"},
        {"utf16_without_a_mark_cyrillic",
         [] {
             return Utf16(ReferenceInScript("\xD0\xBE\xD1\x80\xD1\x83\xD0\xB6\xD0\xB8\xD0\xB5",
                                            "\xD0\xB7\xD0\xB0\xD0\xB3\xD0\xBE\xD0\xBB\xD0\xBE\xD0\xB2\xD0\xBE\xD0\xBA"),
                          true)
                 .substr(2);
         },
         [] { return Sample(); }, "", "settings applied, weapon"},
        {"utf16_big_endian_without_a_mark_greek",
         [] {
             return Utf16(
                        ReferenceInScript(
                            "\xCF\x8C\xCF\x80\xCE\xBB\xCE\xBF",
                            "\xCE\xB5\xCF\x80\xCE\xB9\xCE\xBA\xCE\xB5\xCF\x86\xCE\xB1\xCE\xBB\xCE\xAF\xCE\xB4\xCE\xB1"),
                        false)
                 .substr(2);
         },
         [] { return Sample(); }, "", "settings applied, weapon"},
        // Spaces of other scripts and zero-width ones between the words.
        {"ideographic_en_and_zero_width_spaces",
         [] {
             return SampleWith({{17,
                                 "\xE6\xAD\xA6\xE5\x99\xA8"
                                 "22\xE3\x80\x80"
                                 "17.0\xE2\x80\x82"
                                 "17.25 17.5"},
                                {18,
                                 "weapon23\xE2\x80\x8B"
                                 "18.0 18.25\xEF\xBB\xBF"
                                 "18.5"},
                                {3,
                                 "hostFloat_8CC4B4\xE2\x80\x83\xE2\x80\x8A"
                                 "3.5"}});
         },
         [] { return Sample(); }, "", "settings applied, weapon"},

        // A label that is another line's, among labels in place: named, and
        // the line still applied where it stands.
        {"label_digits_swapped",
         [] {
             return Relabelled({{18, "weapon32"}});
         },
         [] { return Sample(); }, "line 18 is labelled weapon32, like line 25 in the sample",
         "settings applied, with 1 problem(s)"},
        {"label_copied_from_the_line_above",
         [] {
             return Relabelled({{18, "weapon22"}});
         },
         [] { return Sample(); }, "line 18 is labelled weapon22, like line 17 in the sample",
         "settings applied, with 1 problem(s)"},
        {"label_copied_and_a_copy_after_line_31",
         [] {
             return Relabelled({{18, "weapon22"}}) + "weapon22 1 2 3\n";
         },
         [] { return Sample(); }, "line 18 is labelled weapon22, like line 17 in the sample",
         "settings applied, with 2 problem(s)"},
        // Lines 25 to 27 as another scheme numbers them: they may as well have
        // been moved; either way each line sets what its place sets.
        {"weapon_labels_in_numeric_order",
         [] {
             return Relabelled({{25, "weapon30"}, {26, "weapon31"}, {27, "weapon32"}});
         },
         [] { return Sample(); }, "was line 25 moved down to line 27?", "settings applied, with 1 problem(s)"},
        {"two_lines_swapped",
         [] {
             std::vector<std::string> lines = SampleLines();
             std::swap(lines[2], lines[3]);
             return Join(lines);
         },
         [] {
             Snapshot s = Sample();
             std::swap(s.hostValues[0], s.hostValues[1]);
             return s;
         },
         "lines 3 and 4 carry each other's labels (hostFloat_8CC4B8 and hostFloat_8CC4B4): were they swapped?",
         "settings applied, with 1 problem(s)"},
        {"last_weapon_line_moved_up",
         [] {
             std::vector<std::string> lines = SampleLines();
             const std::string last = lines.back();
             lines.pop_back();
             lines.insert(lines.begin() + 19, last);
             return Join(lines);
         },
         [] {
             Snapshot s = Sample();
             GiveReferenceOffset(s, 20, 31);
             for (int line = 21; line <= 31; ++line) GiveReferenceOffset(s, line, line - 1);
             return s;
         },
         "was line 31 moved up to line 20?", "settings applied, with 1 problem(s)"},

        // A line deleted or doubled where the labels are the player's own:
        // only the count of lines shows it; nothing from the first weapon
        // line on is applied.
        {"own_labels_weapon_line_deleted_blank_last_line", [] { return ReferenceWithout(20) + "\n"; },
         [] { return ReferenceUpTo(15); }, "the file has 30 lines where 31 belong, and its weapon lines (16 to 30)",
         "settings partly applied (11 of 27 values"},
        {"own_labels_weapon_line_doubled",
         [] {
             std::vector<std::string> lines = ReferenceLines();
             lines.insert(lines.begin() + 20, lines[20]);
             return Join(lines);
         },
         [] { return ReferenceUpTo(15); }, "one of them seems to be there twice",
         "settings partly applied (11 of 27 values"},

        // Advice a player can act on.
        {"percent_sign",
         [] {
             return SampleWith({{4, "hostFloat_8CC4B8 50%"}});
         },
         [] { return SampleExcept({4}); }, "a percent sign is not read: 50% is 0.5 as a number",
         "settings partly applied (26 of 27 values"},
        {"number_too_big_for_a_float",
         [] {
             return SampleWith({{3, "hostFloat_8CC4B4 1e39"}});
         },
         [] { return SampleExcept({3}); }, "the 1st number, 1e39, is too big for a game value",
         "settings partly applied (26 of 27 values"},
        {"semicolons_between_the_numbers",
         [] {
             return SampleWith({{19, "weapon24 19.0;19.25;19.5"}});
         },
         [] {
             Snapshot s = Sample();
             const float first = 19.0f;
             for (auto& f : s.offsets[3]) f = kNotGiven;
             GiveOffset(s, 3, &first, 1);
             return s;
         },
         "the ; after 19.0 starts a comment, which ends the line", "settings applied, with 1 problem(s)"},
        {"typographic_minus",
         [] {
             return SampleWith({{4,
                                 "hostFloat_8CC4B8 \xE2\x88\x92"
                                 "4.5"}});
         },
         [] { return SampleExcept({4}); }, "typographic minus sign (\xE2\x88\x92, U+2212)",
         "settings partly applied (26 of 27 values"},
        {"en_dash_for_a_minus",
         [] {
             return SampleWith({{6,
                                 "hostFloat_8CC4B0 \xE2\x80\x93"
                                 "6.5"}});
         },
         [] { return SampleExcept({6}); }, "a dash (\xE2\x80\x93, U+2013), which looks like -",
         "settings partly applied (26 of 27 values"},
        {"word_joiner_inside_a_number",
         [] {
             return SampleWith({{7,
                                 "hostFloat_8CC4AC 7.\xE2\x81\xA0"
                                 "5"}});
         },
         [] { return SampleExcept({7}); }, "an invisible character (U+2060)",
         "settings partly applied (26 of 27 values"},
        {"decimal_commas_throughout",
         [] {
             std::string text = Join(SampleLines());
             for (char& c : text)
                 if (c == '.') c = ',';
             return text;
         },
         [] { return Initial(); }, "27 lines write numbers with a decimal comma, like \"3,5\" on line 3",
         "settings not applied (nothing in the file could be used: 1 problem(s)"},
    };
}

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
