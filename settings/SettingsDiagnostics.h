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
// `refusal`: RefusalOf the same line.
void DiagnoseLine(int lineNumber, const Line& line, const ParsedLine& parsed, const LineShape& shape, Refusal refusal,
                  Problems& problems);

// A line missing, or one too many, somewhere in the file: every line after
// it is then read one line early (or late), and its values land in the
// wrong places. Told by the lines' shapes: a heading's place holding a row
// of numbers while a value line's place holds none, and the like, where
// moving the lines by one from some place on makes them fit the layout
// clearly better than they fit as read.
struct Shift {
    enum class Kind : std::uint8_t { None, Missing, Extra };
    Kind kind = Kind::None;
    int first = 0;  // the place lies among lines [first, last]: every line
    int last = 0;   // from `first` on may be read one line off
};
// `shapes` holds the shapes of the file's first `available` lines (up to
// kLineCount + 1: the first line after the layout too).
Shift DetectShift(const LineShape* shapes, int available);

// What a line's label says of its place: the sample line whose label it is
// (0: none of the sample's), and whether the line is a comment of its own.
struct LineLabel {
    int samplePlace = 0;
    bool comment = false;
};
LineLabel LabelOf(const char* text, std::size_t length);

// A shift found by the sample's labels: in a file whose lines mostly carry
// them, the first line whose label belongs on another line (with the
// unlabelled lines just above it: a comment, a blank or an added line).
// Labels of the player's own say nothing.
struct LabelShift {
    Shift shift;        // first == last: the first line read off its place
    int labelLine = 0;  // the line whose label shows it, and where that label belongs
    int belongsOn = 0;
};
LabelShift DetectLabelShift(const LineLabel* labels, int available);

// `labels` may be null (a shift found by the lines' shapes alone).
void DiagnoseShift(const Shift& shift, const LabelShift* byLabel, const LineLabel* labels, Problems& problems);

// Adds the problems of the file as a whole once it has been read: lines
// missing, lines after the last one read, the read limit reached.
// `shifted`: a line was found missing or one too many above the end.
void DiagnoseFile(int linesRead, bool linesAfterLast, bool limitReached, bool shifted, Problems& problems);
// A Ctrl-Z on line `line` (0: none) with text after it.
void DiagnoseCtrlZ(int line, Problems& problems);

}  // namespace settings
