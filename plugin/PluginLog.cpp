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

// Readers may look while the game runs, and the file may be deleted
// meanwhile; no other writer may open it, so a second game process that
// loads the plugin from the same folder can neither empty this log nor
// write into it.
HANDLE CreateLog(const wchar_t* path) {
    return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
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
