// One load of the settings file as the log tells it.
#pragma once

#include "plugin/HostSettings.h"
#include "settings/SettingsFile.h"

// What one load came to.
struct SettingsLoad {
    const wchar_t* path = L"";                     // empty: the plugin's own path could not be found
    unsigned long openError = 0;                   // the file could not be opened: GetLastError()
    bool notRegular = false;                       // opened, but not a file on a disk
    const settings::SettingsFile* file = nullptr;  // what was read; null when nothing was
    const HostSettings* host = nullptr;            // what applying it did
    const AimSettings* record = nullptr;           // the plugin's record after it
};

// Writes the load to the log as one entry: the file (with the time, for a
// load while the game runs) and its encoding, then every problem, every
// destination left alone, a line of what was applied, and the values each
// line gave: all of them for the first load logged, and for a later one
// (`before` the lines the last load logged gave) those that changed.
void LogSettingsLoad(const SettingsLoad& load, const settings::LineValues* before);
