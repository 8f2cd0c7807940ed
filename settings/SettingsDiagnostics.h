// What is wrong with a settings file, in the words a player reads: the
// plugin's log and the settings checker both report through these, so they
// tell the same story. No allocation: the plugin runs them on every load.
#pragma once

#include "settings/SettingsReader.h"

namespace settings {

// Told about each problem: the file line it concerns (0: the file as a
// whole) and its text, valid for the length of the call.
using ProblemFn = void (*)(void* context, int lineNumber, const char* text);

// The problems of one line as a load read it (SettingsSink::LineRead).
void DiagnoseLine(int lineNumber, const Line& line, const ParsedLine& parsed, ProblemFn report, void* context);

// The problems of the file as a whole once a load has ended: lines missing,
// lines after the last one read, the read limit reached.
void DiagnoseFile(int linesRead, bool linesAfterLast, bool limitReached, ProblemFn report, void* context);

}  // namespace settings
