#include "plugin/PluginLog.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "codepatch/memory.h"
#include "plugin/PluginPaths.h"

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
bool AtItsOwnName(HANDLE file, const wchar_t* path, wchar_t* final, wchar_t* expected) {
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

// Whether the open `file` is the log's own file at `path` (see CreateLog).
bool OwnFile(HANDLE file, const wchar_t* path, wchar_t (&scratch)[2][kPathCapacity]) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(file, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           info.nNumberOfLinks == 1 && GetFileType(file) == FILE_TYPE_DISK &&
           AtItsOwnName(file, path, scratch[0], scratch[1]);
}

// Readers may look while the game runs, and the file may be deleted
// meanwhile; no other writer may open it, so a second game process that
// loads the plugin from the same folder can neither empty this log nor
// write into it. The handle the log is written through has no delete
// access: a reader that does not itself share delete access (the C
// runtime's fopen, `type`, PowerShell) could not open the file while one
// that has it is open.
//
// Only a file of its own: a name that is a symbolic link, a junction or one
// of several hard links to a file leads to a file that is not the log, and
// that file is neither emptied nor written. The name is opened as it stands
// (the link itself, not what it points to) and looked at before anything is
// emptied. A name that is not there is created anew, and looked at the same
// way: where a dangling link led the new file elsewhere, it is deleted
// again; where it is the log's own, it is opened again, for writing only.
// `scratch`: room for two paths.
HANDLE CreateLog(const wchar_t* path, wchar_t (&scratch)[2][kPathCapacity]) {
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_DELETE;
    constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 3 && file == INVALID_HANDLE_VALUE; ++attempt) {
        file = CreateFileW(path, GENERIC_WRITE, kShare, nullptr, OPEN_EXISTING, kFlags, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_NOT_FOUND) break;
        HANDLE created = CreateFileW(path, GENERIC_WRITE | DELETE, kShare, nullptr, CREATE_NEW, kFlags, nullptr);
        if (created == INVALID_HANDLE_VALUE) {
            if (GetLastError() != ERROR_FILE_EXISTS) break;
            continue;
        }
        const bool own = OwnFile(created, path, scratch);
        if (!own) DeleteOnClose(created);
        CloseHandle(created);
        if (!own) {
            SetLastError(ERROR_CANT_ACCESS_FILE);
            return INVALID_HANDLE_VALUE;
        }
    }
    if (file == INVALID_HANDLE_VALUE) return file;
    if (!OwnFile(file, path, scratch) || SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !SetEndOfFile(file)) {
        CloseHandle(file);
        SetLastError(ERROR_CANT_ACCESS_FILE);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

constexpr char kFullLine[] = "the log is full (1 MB): nothing more is written to it until the game starts again\r\n";

// The log: its file, what has gone to it, and the lines an open entry holds
// back. One writer at a time; the thread that holds an entry open may log
// inside it. Constant-initialised, so it is there before any start-up code.
class LogFile {
public:
    void Open(const wchar_t* path);
    void Line(const char* format, va_list args);
    void BeginEntry();
    void EndEntry();
    void Close();

private:
    // Holds the log for one line (nothing when the calling thread holds an
    // open entry already).
    class Writer {
    public:
        explicit Writer(LogFile& log) : log_(log), mine_(log.entryOwner_ != GetCurrentThreadId()) {
            if (mine_) AcquireSRWLockExclusive(&log_.lock_);
        }
        ~Writer() {
            if (mine_) ReleaseSRWLockExclusive(&log_.lock_);
        }
        Writer(const Writer&) = delete;
        Writer& operator=(const Writer&) = delete;

    private:
        LogFile& log_;
        bool mine_;
    };

    void Append(const char* text, std::size_t size);
    void WriteHeld();

    SRWLOCK lock_ = SRWLOCK_INIT;
    DWORD entryOwner_ = 0;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::size_t written_ = 0;  // bytes in the file, and held for it
    bool full_ = false;
    bool holding_ = false;
    char held_[8192] = {};
    std::size_t heldSize_ = 0;
    wchar_t paths_[2][kPathCapacity] = {};  // scratch for Open
    wchar_t ownName_[kPathCapacity] = {};   // the name of a log of this process's own
};

void LogFile::WriteHeld() {
    DWORD done = 0;
    if (heldSize_) WriteFile(file_, held_, static_cast<DWORD>(heldSize_), &done, nullptr);
    heldSize_ = 0;
}

void LogFile::Append(const char* text, std::size_t size) {
    written_ += size;
    if (holding_ && heldSize_ + size <= sizeof held_) {
        std::memcpy(held_ + heldSize_, text, size);
        heldSize_ += size;
        return;
    }
    WriteHeld();
    DWORD done = 0;
    WriteFile(file_, text, static_cast<DWORD>(size), &done, nullptr);
}

void LogFile::Open(const wchar_t* path) {
    Close();
    {
        const Writer writer(*this);
        written_ = 0;
        full_ = false;
        if (!path || path[0] == L'\0') return;
        file_ = CreateLog(path, paths_);
        if (file_ != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) return;
        // Another game process writes that log: this one writes a log of its
        // own, named with its process id ("AimingPlugin.log" ->
        // "AimingPlugin.1234.log").
        const std::size_t length = std::wcslen(path);
        if (length < 4 || length + 16 > kPathCapacity) return;
        std::wmemcpy(ownName_, path, length - 4);
        std::swprintf(ownName_ + length - 4, 16, L".%lu.log", GetCurrentProcessId());
        file_ = CreateLog(ownName_, paths_);
        if (file_ == INVALID_HANDLE_VALUE) return;
    }
    Log("another game process writes %s: this one writes this log instead", Utf8Text(path).c_str());
}

void LogFile::Line(const char* format, va_list args) {
    const Writer writer(*this);
    if (file_ == INVALID_HANDLE_VALUE || full_) return;
    char line[1024 + 2];
    const int length = std::vsnprintf(line, 1024, format, args);
    if (length < 0) return;
    std::size_t size = static_cast<std::size_t>(length) < 1023 ? static_cast<std::size_t>(length) : 1023;
    line[size++] = '\r';
    line[size++] = '\n';
    if (written_ + size + (sizeof kFullLine - 1) > kLogCapacity) {
        full_ = true;
        Append(kFullLine, sizeof kFullLine - 1);
        return;
    }
    Append(line, size);
}

void LogFile::BeginEntry() {
    if (entryOwner_ == GetCurrentThreadId()) return;
    AcquireSRWLockExclusive(&lock_);
    entryOwner_ = GetCurrentThreadId();
    holding_ = true;
}

void LogFile::EndEntry() {
    if (entryOwner_ != GetCurrentThreadId()) return;
    holding_ = false;
    if (file_ != INVALID_HANDLE_VALUE) WriteHeld();
    entryOwner_ = 0;
    ReleaseSRWLockExclusive(&lock_);
}

void LogFile::Close() {
    EndEntry();
    const Writer writer(*this);
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
}

LogFile theLog;

}  // namespace

void OpenLog(const wchar_t* path) {
    theLog.Open(path);
}

void Log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    theLog.Line(format, args);
    va_end(args);
}

void BeginLogEntry() {
    theLog.BeginEntry();
}

void EndLogEntry() {
    theLog.EndEntry();
}

void CloseLog() {
    theLog.Close();
}

Utf8Text::Utf8Text(const wchar_t* text) {
    text_[0] = '\0';
    if (!text) return;
    // The longest start of `text` that fits; a log line is cut at 1023
    // characters in any case.
    int units = static_cast<int>(std::wcslen(text));
    while (units > 0 && WideCharToMultiByte(CP_UTF8, 0, text, units, text_, static_cast<int>(sizeof text_) - 1, nullptr,
                                            nullptr) == 0)
        units -= units / 4 + 1;
    const int n = units > 0 ? WideCharToMultiByte(CP_UTF8, 0, text, units, text_, static_cast<int>(sizeof text_) - 1,
                                                  nullptr, nullptr)
                            : 0;
    text_[n > 0 ? n : 0] = '\0';
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
