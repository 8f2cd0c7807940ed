// What is wrong with a settings file, in the words a player reads. Reading a
// file runs these, so the plugin's log and the settings checker tell the same
// story. No allocation: the plugin reads the file on every load.
#pragma once

#include "settings/NumberRules.h"
#include "settings/SettingsFile.h"
#include "settings/TextLines.h"

namespace settings {

// Adds the problems of line `lineNumber` as it was read and parsed.
void DiagnoseLine(int lineNumber, const Line& line, const ParsedLine& parsed, Problems& problems);

// Adds the problems of the file as a whole once it has been read: lines
// missing, lines after the last one read, the read limit reached.
void DiagnoseFile(int linesRead, bool linesAfterLast, bool limitReached, Problems& problems);

}  // namespace settings
