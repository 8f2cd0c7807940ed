#include "plugin/PluginLog.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "codepatch/memory.h"
#include "plugin/PluginPaths.h"

namespace {

// One writer at a time; the thread that holds an entry open may log inside it.
SRWLOCK logLock = SRWLOCK_INIT;
DWORD entryOwner = 0;

class LogWriter {
public:
    LogWriter() : mine_(entryOwner != GetCurrentThreadId()) {
        if (mine_) AcquireSRWLockExclusive(&logLock);
    }
    ~LogWriter() {
        if (mine_) ReleaseSRWLockExclusive(&logLock);
    }
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

private:
    bool mine_;
};

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

// `path`'s folder: everything before its last \\ or / (empty when none).
std::size_t FolderLength(const wchar_t* path) {
    std::size_t folder = 0;
    for (std::size_t i = 0; path[i]; ++i)
        if (path[i] == L'\\' || path[i] == L'/') folder = i;
    return folder;
}

// Whether the file open as `file` is the one that `path` names in its folder,
// and not one that a link led to (Wine's opens follow a link of the Unix file
// system whatever the flags say). The folder's own final path, with the
// file's name after it, must be the file's final path, whole: a link to a
// file of the same name in another folder is found as surely as one to a
// file of another name, and a folder reached through a link or a mapped
// drive is no false alarm. A file whose final path cannot be had counts as
// its own.
bool AtItsOwnName(HANDLE file, const wchar_t* path) {
    static wchar_t final[kPathCapacity];
    static wchar_t expected[kPathCapacity];
    const DWORD finalLength = GetFinalPathNameByHandleW(file, final, kPathCapacity, FILE_NAME_NORMALIZED);
    if (finalLength == 0 || finalLength >= kPathCapacity) return true;
    const std::size_t folderLength = FolderLength(path);
    if (folderLength == 0 || folderLength >= kPathCapacity) return true;
    std::wmemcpy(expected, path, folderLength);
    expected[folderLength] = L'\0';
    HANDLE folder = CreateFileW(expected, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return true;
    const DWORD folderFinal = GetFinalPathNameByHandleW(folder, expected, kPathCapacity, FILE_NAME_NORMALIZED);
    CloseHandle(folder);
    const std::size_t nameLength = std::wcslen(path + folderLength);
    if (folderFinal == 0 || folderFinal + nameLength >= kPathCapacity) return true;
    std::wmemcpy(expected + folderFinal, path + folderLength, nameLength + 1);
    expected[folderFinal] = L'\\';
    return lstrcmpiW(final, expected) == 0;
}

// Marks a file this process has just created for deletion when its handle
// closes.
void DeleteOnClose(HANDLE file) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
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
// emptied. A name that is not there is created anew, and looked at the same
// way: where a dangling link led the new file elsewhere, it is deleted again.
HANDLE CreateLog(const wchar_t* path) {
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_DELETE;
    constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    bool created = false;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 2 && file == INVALID_HANDLE_VALUE; ++attempt) {
        file = CreateFileW(path, GENERIC_WRITE, kShare, nullptr, OPEN_EXISTING, kFlags, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_NOT_FOUND) break;
        file = CreateFileW(path, GENERIC_WRITE | DELETE, kShare, nullptr, CREATE_NEW, kFlags, nullptr);
        created = file != INVALID_HANDLE_VALUE;
        if (!created && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (file == INVALID_HANDLE_VALUE) return file;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ownFile = GetFileInformationByHandle(file, &info) &&
                         !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && info.nNumberOfLinks == 1 &&
                         GetFileType(file) == FILE_TYPE_DISK && AtItsOwnName(file, path);
    if (!ownFile && created) DeleteOnClose(file);
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
    const LogWriter writer;
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
    if (entryOwner == GetCurrentThreadId()) return;
    AcquireSRWLockExclusive(&logLock);
    entryOwner = GetCurrentThreadId();
    holding = true;
}

void EndLogEntry() {
    if (entryOwner != GetCurrentThreadId()) return;
    holding = false;
    if (logFile != INVALID_HANDLE_VALUE) WriteHeld();
    entryOwner = 0;
    ReleaseSRWLockExclusive(&logLock);
}

void CloseLog() {
    EndLogEntry();
    const LogWriter writer;
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

void HexBytes(codepatch::patch_address at, std::uint32_t count, char (&text)[3 * 16 + 1]) {
    char* out = text;
    *out = '\0';
    for (std::uint32_t i = 0; i < count && i < 16; ++i) {
        const char* separator = i ? " " : "";
        if (codepatch::is_committed(at + i, 1))
            out += std::snprintf(out, 4, "%s%02X", separator, codepatch::peek_u8(at + i));
        else
            out += std::snprintf(out, 4, "%s??", separator);
    }
}
