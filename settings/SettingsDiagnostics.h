// What is wrong with a settings file, in the words a player reads. Reading a
// file runs these, so the plugin's log and the settings checker tell the same
// story. No allocation: the plugin reads the file on every load.
#pragma once

#include <cstdint>

#include "settings/NumberRules.h"
#include "settings/SettingsFile.h"
#include "settings/TextLines.h"

namespace settings {

// Adds the problems of line `lineNumber` as it was read, parsed and shaped.
void DiagnoseLine(int lineNumber, const Line& line, const ParsedLine& parsed, const LineShape& shape,
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
void DiagnoseShift(const Shift& shift, Problems& problems);

// Adds the problems of the file as a whole once it has been read: lines
// missing, lines after the last one read, the read limit reached.
void DiagnoseFile(int linesRead, bool linesAfterLast, bool limitReached, Problems& problems);

}  // namespace settings
