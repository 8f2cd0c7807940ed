// The plugin's own files, found beside its module through the wide Windows
// API (a folder named in any script, of any length).
#pragma once

#include <cstddef>

// The longest path Windows knows, in UTF-16 units, NUL included.
constexpr std::size_t kPathCapacity = 32768;
constexpr wchar_t kSettingsFileName[] = L"aimingSets.dat";

// Whether the plugin's module path could be had whole (found once per process).
bool PluginFolderFound();

// The plugin's directory (that of its module file) followed by
// "aimingSets.dat", in the long-path form when it is MAX_PATH characters or
// longer. Without a module path, the bare name: the file in the process's
// current folder.
const wchar_t* SettingsFilePath();

// The log beside the module: its file name with ".log" in place of its
// extension ("AimingPlugin.dll" -> "AimingPlugin.log"), in the long-path form
// where needed. Without a module path, "AimingPlugin.log" in the current
// folder.
const wchar_t* LogFilePath();

// The plugin's options beside the module, named likewise with ".ini"
// ("AimingPlugin.dll" -> "AimingPlugin.ini").
const wchar_t* IniFilePath();

// Path helpers, exposed for tests.
// Ends `path` right after its last '\\' or '/', whichever stands later; a path
// with neither is left whole.
void CutAfterLastSeparator(wchar_t* path);
// Writes `directory` + `name` into out, prefixed with "\\?\" (or "\\?\UNC\"
// for a share) when the whole is MAX_PATH characters or longer and is not in
// that form already, so that the wide API takes it whole. False, and out
// empty, when it does not fit `capacity` units, NUL included.
bool ComposePath(const wchar_t* directory, const wchar_t* name, wchar_t* out, std::size_t capacity);
