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
};

// Writes the load to the log as one entry: the file, then every problem,
// every destination left alone, and a line of what was applied. `changed`:
// an earlier load has been logged, and this one came out otherwise.
void LogSettingsLoad(const SettingsLoad& load, bool changed);
