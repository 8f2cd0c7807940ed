// What is wrong with a settings file, in the words a player reads. Reading a
// file runs these, so the plugin's log and the settings checker tell the same
// story. No allocation: the plugin reads the file on every load.
#pragma once

#include <cstdint>

#include "settings/NumberRules.h"
#include "settings/SettingsFile.h"
#include "settings/TextLines.h"

namespace settings {

// A value line read but applied not at all, because it is plainly wrong: its
// first number looks like part of its label (an integer followed by as many
// numbers as the line takes: "codeConstant 521632 1.1"), its first value is
// glued to the label with ':' or '=' ("weapon25=0.16 0.01 0.63"), or a value
// is no finite number (nan, inf), which no game value can be.
enum class Refusal : std::uint8_t { None, SpaceInLabel, GluedToLabel, NotFinite };
Refusal RefusalOf(int lineNumber, const Line& line, const ParsedLine& parsed, const LineShape& shape);

// Adds the problems of line `lineNumber` as it was read, parsed and shaped.
// `refusal`: RefusalOf the same line. `decimalCommasTold`: a number with a
// decimal comma is told for the whole file (DiagnoseDecimalCommas), not here.
void DiagnoseLine(int lineNumber, const Line& line, const ParsedLine& parsed, const LineShape& shape, Refusal refusal,
                  bool decimalCommasTold, Problems& problems);

// A line missing, or one too many, somewhere in the file: every line after
// it is then read one line early (or late), and its values land in the
// wrong places. Told by the lines' shapes: a heading's place holding a row
// of numbers while a value line's place holds none, and the like, where
// moving the lines by one from some place on makes them fit the layout
// clearly better than they fit as read.
struct Shift {
    enum class Kind : std::uint8_t { None, Missing, Extra };
    Kind kind = Kind::None;
    int first = 0;         // the place lies among lines [first, last]: every line
    int last = 0;          // from `first` on may be read one line off
    bool byCount = false;  // told by the count of lines alone (DetectWeaponLineCount)
};
// `shapes` holds the shapes of the file's first `available` lines (up to
// kLineCount + 1: the first line after the layout too).
Shift DetectShift(const LineShape* shapes, int available);

// What a line's label says of its place: the sample line whose label it is
// (0: none of the sample's), and whether the line is a comment of its own.
// Only a line with a number after its label is read for one: a heading
// ("weapon22 to weapon37: x y z offsets") names labels, it carries none. A
// line with numbers is no comment either ("#22 0.10 0.00 0.60").
struct LineLabel {
    int samplePlace = 0;
    bool comment = false;
};
LineLabel LabelOf(const char* text, std::size_t length, const LineShape& shape);

// A line that carries another line's sample label, where no line is missing
// or one too many: two lines that carry each other's labels (swapped), one
// line's label a few lines off with the lines between carrying their
// neighbour's (moved), or a single label among labels in place (a typo, or a
// label copied with its line). Each line still sets what its place sets.
struct LabelFinding {
    enum class Kind : std::uint8_t { Odd, Swapped, MovedUp, MovedDown };
    Kind kind = Kind::Odd;
    int line = 0;  // the first line concerned
    int from = 0;  // Odd: the line whose sample label it is; Moved*: the line moved, and
    int to = 0;    //   where it stands now; Swapped: the two lines
};

// What the sample's labels tell, in a file whose lines mostly carry them
// (labels of the player's own say nothing: `evidence` is false). A line
// missing or one too many is claimed only on consistent evidence: below the
// first line whose label belongs elsewhere, the sample's labels all agree on
// the same offset, and one at least is there to agree or the file is that
// many lines short or long.
struct LabelShift {
    Shift shift;        // first == last: the first line read off its place
    int labelLine = 0;  // the line whose label shows it, and where that label belongs
    int belongsOn = 0;
    bool labelsAgree = false;  // the labels below show it too (else the count of lines does)
};
struct LabelEvidence {
    bool evidence = false;
    LabelShift shift;  // shift.labelLine 0: none
    static constexpr int kMaxFindings = 4;
    int findings = 0;
    LabelFinding found[kMaxFindings];
};
// `labels` holds the first `available` lines (up to kLineCount + 1);
// `textLines` is the number of the file's last line that holds text.
LabelEvidence ReadLabelEvidence(const LineLabel* labels, int available, int textLines);
void DiagnoseLabelFinding(const LabelFinding& finding, Problems& problems);

// `labels` may be null (a shift found by the lines' shapes alone).
void DiagnoseShift(const Shift& shift, const LabelShift* byLabel, const LineLabel* labels, Problems& problems);

// A line missing or one too many among the weapon lines of a file whose
// labels are the player's own: the file has 30 or 32 lines holding text, and
// every weapon line has the shape of one. The weapon rows would each take a
// neighbour's offset, and nothing says which line it was. `textLines`: the
// number of the file's last line that holds text.
Shift DetectWeaponLineCount(const LineShape* shapes, int available, int textLines);

// Adds the problems of the file as a whole once it has been read: lines
// missing, lines after the last one read, the read limit reached.
// `shifted`: a line was found missing or one too many above the end;
// `countTold`: a shift that the count of lines showed, already told.
void DiagnoseFile(int linesRead, bool linesAfterLast, bool limitReached, bool shifted, bool countTold,
                  Problems& problems);
// Lines that write a number with a decimal comma ("1,0"), `count` of them,
// the first on line `firstLine` with `word`: said once for the whole file.
void DiagnoseDecimalCommas(int count, int firstLine, const char* word, Problems& problems);
// Whether `word` is a number written with a decimal comma (1,0  -0,25).
bool IsDecimalCommaNumber(const char* word, std::size_t length);
// The bytes reached the read limit, `limit`: nothing after them is read.
void DiagnoseReadLimit(std::size_t limit, Problems& problems);
// A Ctrl-Z on line `line` (0: none) with text after it.
void DiagnoseCtrlZ(int line, Problems& problems);

}  // namespace settings
