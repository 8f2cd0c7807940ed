// The plugin's own files, found beside its module through the wide Windows
// API (a folder named in any script, of any length), and the plugin's one
// error report (a message box).
#pragma once

#include <cstddef>

// The longest path Windows knows, in UTF-16 units, NUL included.
constexpr std::size_t kPathCapacity = 32768;
constexpr std::size_t kErrorMessageCapacity = 1024;
constexpr wchar_t kSettingsFileName[] = L"aimingSets.dat";
constexpr char kErrorCaption[] = "marlinth";

// The directory of the plugin's module file, ending in its separator; found
// once per process. Empty when the module path could not be had whole.
const wchar_t* PluginDirectory();

// PluginDirectory() followed by "aimingSets.dat", in the long-path form when
// it is MAX_PATH characters or longer. Empty when PluginDirectory() is, which
// the loader treats as a file that is not there.
const wchar_t* SettingsFilePath();

// The log beside the module: its file name with ".log" in place of its
// extension ("AimingPlugin.dll" -> "AimingPlugin.log"), in the long-path form
// where needed. Empty when the module path could not be had.
const wchar_t* LogFilePath();

// Formats the message printf-style (cut to its 1024-character buffer) and
// shows it in a message box captioned "marlinth" with the error icon, owned by
// the active window. Returns false, which callers are free to pass on.
bool ReportError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Path helpers, exposed for tests.
// Ends `path` right after its last '\\' or '/', whichever stands later; a path
// with neither is left whole.
void CutAfterLastSeparator(wchar_t* path);
// Writes `directory` + `name` into out, prefixed with "\\?\" (or "\\?\UNC\"
// for a share) when the whole is MAX_PATH characters or longer and is not in
// that form already, so that the wide API takes it whole. False, and out
// empty, when it does not fit `capacity` units, NUL included.
bool ComposePath(const wchar_t* directory, const wchar_t* name, wchar_t* out, std::size_t capacity);
