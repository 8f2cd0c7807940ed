// The plugin's log: a UTF-8 text file beside the DLL (LogFilePath()), written
// fresh at each start, so that a player can see what the plugin did to the
// game and what is wrong with the settings file. It never grows past
// kLogCapacity bytes (its last line then says it is full); a folder where it
// cannot be written changes nothing else.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codepatch/patch_address.h"

constexpr std::size_t kLogCapacity = 1024 * 1024;

// Creates (or empties) the log at `path`; an empty path, or one that cannot
// be written, leaves the log closed and every Log call without effect. A log
// that another process writes is left alone: this process then writes one
// named with its process id beside it, and says why on its first line.
void OpenLog(const wchar_t* path);
// Appends one line, formatted printf-style (cut at 1023 characters), with
// CR LF after it. Allocates nothing. One thread writes at a time: a line, or
// a whole entry (BeginLogEntry to EndLogEntry), goes to the file in one piece.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void CloseLog();

// Lines logged while an entry is open go to the file together, in one write,
// when it closes (a log entry of several lines costs one write). The entry
// holds the log: other threads' lines wait until it closes.
void BeginLogEntry();
void EndLogEntry();

// `text` in UTF-8, for a path in a log line (as much of it as a log line
// holds): Log("... %s", Utf8Text(path).c_str()).
class Utf8Text {
public:
    explicit Utf8Text(const wchar_t* text);
    const char* c_str() const { return text_; }

private:
    char text_[1024];
};

// The bytes at `at` as a log line shows them ("E8 95 1A FF FF", "??" for a
// byte that is not there to read; at most 16), into `text`.
void HexBytes(codepatch::patch_address at, std::uint32_t count, char (&text)[3 * 16 + 1]);
