// The plugin's own directory, the settings file path built from it, and the
// one error report of the plugin (a message box).
#pragma once

#include <cstddef>

constexpr std::size_t kModulePathCapacity = 260;  // GetModuleFileNameA buffer, NUL included
// One more than the module path: Windows XP fills all 260 characters of a
// path it cuts short and writes no NUL, so the directory buffer keeps room
// for the terminator the plugin adds itself.
constexpr std::size_t kDirectoryCapacity = 261;
constexpr std::size_t kSettingsPathCapacity = 260;
constexpr std::size_t kErrorMessageCapacity = 1024;
constexpr char kSettingsFileName[] = "aimingSets.dat";
constexpr char kErrorCaption[] = "marlinth";

struct PluginPaths {
    char directory[kDirectoryCapacity];
    char settingsPath[kSettingsPathCapacity];
};

// The directory of the plugin's module file, ending in its separator; found
// once per process. Empty when the module path could not be had whole.
const char* PluginDirectory();

// PluginDirectory() followed by "aimingSets.dat", rebuilt on each call. Empty
// when that does not fit its buffer or the module path was cut short, which
// the loader treats as a file that is not there.
const char* SettingsFilePath();

// Formats the message printf-style (cut to its 1024-character buffer) and
// shows it in a message box captioned "marlinth" with the error icon, owned by
// the active window.
void ReportError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Path helpers, exposed for tests.
// Ends `path` right after its last '\\' or '/', whichever stands later; a path
// with neither is left whole.
void CutAfterLastSeparator(char* path);
// Writes directory + "aimingSets.dat" into out; false (and out empty) when the
// result would not fit `capacity` characters, NUL included.
bool ComposeSettingsPath(const char* directory, char* out, std::size_t capacity);
