// The plugin's one error report: a message box, for the one failure a player
// must see at once (the plugin cannot tell where its own files are).
#pragma once

#include <cstddef>

constexpr std::size_t kErrorMessageCapacity = 1024;
constexpr char kErrorCaption[] = "marlinth";

// Formats the message printf-style (cut to its 1024-character buffer) and
// shows it in a message box captioned "marlinth" with the error icon, owned by
// the active window. Returns false, which callers are free to pass on.
bool ReportError(const char* format, ...) __attribute__((format(printf, 1, 2)));
