#include "plugin/PluginLog.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "codepatch/memory.h"
#include "plugin/PluginPaths.h"

namespace {

HANDLE logFile = INVALID_HANDLE_VALUE;
std::size_t written = 0;  // bytes in the file, and held for it
bool full = false;
bool holding = false;
char held[8192];
std::size_t heldSize = 0;

void WriteHeld() {
    DWORD done = 0;
    if (heldSize) WriteFile(logFile, held, static_cast<DWORD>(heldSize), &done, nullptr);
    heldSize = 0;
}

constexpr char kFullLine[] = "the log is full (1 MB): nothing more is written to it until the game starts again\r\n";

void Append(const char* text, std::size_t size) {
    written += size;
    if (holding && heldSize + size <= sizeof held) {
        std::memcpy(held + heldSize, text, size);
        heldSize += size;
        return;
    }
    WriteHeld();
    DWORD done = 0;
    WriteFile(logFile, text, static_cast<DWORD>(size), &done, nullptr);
}

}  // namespace

namespace {

// The last part of `path` (after its last \\ or /).
const wchar_t* LastPart(const wchar_t* path) {
    const wchar_t* last = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/') last = p + 1;
    return last;
}

// Whether the file open as `file` has another name in the end than the one
// `path` gives it: the open followed a link to another file (as Wine's opens
// do for a link of the Unix file system, whatever the flags say). Names in
// 8.3 form are compared in their long form; a file whose final name cannot
// be had counts as its own.
bool LinkedElsewhere(HANDLE file, const wchar_t* path) {
    static wchar_t final[kPathCapacity];
    static wchar_t named[kPathCapacity];
    const DWORD finalLength = GetFinalPathNameByHandleW(file, final, kPathCapacity, FILE_NAME_NORMALIZED);
    if (finalLength == 0 || finalLength >= kPathCapacity) return false;
    const DWORD namedLength = GetLongPathNameW(path, named, kPathCapacity);
    const wchar_t* asNamed = namedLength && namedLength < kPathCapacity ? named : path;
    return lstrcmpiW(LastPart(final), LastPart(asNamed)) != 0;
}

// Readers may look while the game runs, and the file may be deleted
// meanwhile; no other writer may open it, so a second game process that
// loads the plugin from the same folder can neither empty this log nor
// write into it.
//
// Only a file of its own: a name that is a symbolic link, a junction or one
// of several hard links to a file leads to a file that is not the log, and
// that file is neither emptied nor written. The name is opened as it stands
// (the link itself, not what it points to) and looked at before anything is
// emptied.
HANDLE CreateLog(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ownFile = GetFileInformationByHandle(file, &info) &&
                         !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && info.nNumberOfLinks == 1 &&
                         GetFileType(file) == FILE_TYPE_DISK && !LinkedElsewhere(file, path);
    if (!ownFile || SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER || !SetEndOfFile(file)) {
        CloseHandle(file);
        SetLastError(ERROR_CANT_ACCESS_FILE);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

}  // namespace

void OpenLog(const wchar_t* path) {
    CloseLog();
    written = 0;
    full = false;
    if (!path || path[0] == L'\0') return;
    logFile = CreateLog(path);
    if (logFile != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) return;
    // Another game process writes that log: this one writes a log of its own,
    // named with its process id ("AimingPlugin.log" -> "AimingPlugin.1234.log").
    static wchar_t own[kPathCapacity];
    const std::size_t length = std::wcslen(path);
    if (length < 4 || length + 16 > kPathCapacity) return;
    std::wmemcpy(own, path, length - 4);
    std::swprintf(own + length - 4, 16, L".%lu.log", GetCurrentProcessId());
    logFile = CreateLog(own);
    if (logFile == INVALID_HANDLE_VALUE) return;
    Log("another game process writes %s: this one writes this log instead", Utf8(path));
}

void Log(const char* format, ...) {
    if (logFile == INVALID_HANDLE_VALUE || full) return;
    char line[1024 + 2];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(line, 1024, format, args);
    va_end(args);
    if (length < 0) return;
    std::size_t size = static_cast<std::size_t>(length) < 1023 ? static_cast<std::size_t>(length) : 1023;
    line[size++] = '\r';
    line[size++] = '\n';
    if (written + size + (sizeof kFullLine - 1) > kLogCapacity) {
        full = true;
        Append(kFullLine, sizeof kFullLine - 1);
        return;
    }
    Append(line, size);
}

void BeginLogEntry() {
    holding = true;
}

void EndLogEntry() {
    holding = false;
    if (logFile != INVALID_HANDLE_VALUE) WriteHeld();
}

void CloseLog() {
    EndLogEntry();
    if (logFile != INVALID_HANDLE_VALUE) CloseHandle(logFile);
    logFile = INVALID_HANDLE_VALUE;
}

const char* Utf8(const wchar_t* text) {
    // Every UTF-16 unit of a path makes at most 3 bytes of UTF-8.
    static char buffer[3 * kPathCapacity + 1];
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, static_cast<int>(sizeof buffer), nullptr, nullptr);
    if (n <= 0) buffer[0] = '\0';
    return buffer;
}

const char* HexBytesAt(codepatch::patch_address at, std::uint32_t count) {
    static char text[3 * 16 + 1];
    char* out = text;
    *out = '\0';
    for (std::uint32_t i = 0; i < count && i < 16; ++i) {
        const char* separator = i ? " " : "";
        if (codepatch::is_committed(at + i, 1))
            out += std::snprintf(out, 4, "%s%02X", separator, codepatch::peek_u8(at + i));
        else
            out += std::snprintf(out, 4, "%s??", separator);
    }
    return text;
}
