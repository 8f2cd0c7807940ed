#include "plugin/SettingsWatch.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include "plugin/PluginPaths.h"

namespace {

static_assert(sizeof(OVERLAPPED) <= 32, "the overlapped buffer holds an OVERLAPPED");
static_assert(sizeof(WIN32_FILE_ATTRIBUTE_DATA) <= 40, "the stamp buffer holds a WIN32_FILE_ATTRIBUTE_DATA");

constexpr unsigned long long kSafetyNetMs = 1000;
constexpr DWORD kChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE |
                           FILE_NOTIFY_CHANGE_CREATION | FILE_NOTIFY_CHANGE_ATTRIBUTES;

OVERLAPPED& Overlapped(unsigned char* bytes) {
    return *reinterpret_cast<OVERLAPPED*>(bytes);
}

bool SameName(const wchar_t* name, DWORD nameBytes, const wchar_t* fileName) {
    const std::size_t length = nameBytes / sizeof(wchar_t);
    return length == std::wcslen(fileName) &&
           CompareStringOrdinal(name, static_cast<int>(length), fileName, static_cast<int>(length), TRUE) == CSTR_EQUAL;
}

}  // namespace

void SettingsWatch::Start(const wchar_t* directory, const wchar_t* path, const wchar_t* fileName) {
    Stop();
    path_ = path;
    fileName_ = fileName;
    lastRead_ = GetTickCount64();
    static wchar_t folder[kPathCapacity];
    if (!ComposePath(directory, L"", folder, kPathCapacity) || folder[0] == L'\0') return;
    HANDLE handle = CreateFileW(folder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    directory_ = handle;
    event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Listen();
}

void SettingsWatch::Listen() {
    listening_ = false;
    if (!directory_ || !event_) return;
    ResetEvent(event_);
    OVERLAPPED& overlapped = Overlapped(overlapped_);
    std::memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = event_;
    listening_ = ReadDirectoryChangesW(directory_, changes_, sizeof changes_, FALSE, kChanges, nullptr, &overlapped,
                                       nullptr) != 0;
    if (!listening_) {
        // Not a folder that can be watched: compare the file's stamp instead.
        CloseHandle(directory_);
        directory_ = nullptr;
    }
}

bool SettingsWatch::StampChanged() {
    WIN32_FILE_ATTRIBUTE_DATA now;
    if (!GetFileAttributesExW(path_, GetFileExInfoStandard, &now)) std::memset(&now, 0, sizeof now);
    const bool changed = !stampKnown_ || std::memcmp(&now, stamp_, sizeof now) != 0;
    std::memcpy(stamp_, &now, sizeof now);
    stampKnown_ = true;
    return changed;
}

bool SettingsWatch::ReadDue() {
    if (again_ || GetTickCount64() - lastRead_ >= kSafetyNetMs) return true;
    if (!listening_) return StampChanged();
    // Records of other files (the log beside it, a game's own files) may
    // stand ahead of the file's own in the queue: take all that is there.
    for (int batch = 0; batch < 64 && listening_; ++batch) {
        if (WaitForSingleObject(event_, 0) != WAIT_OBJECT_0) return false;
        DWORD bytes = 0;
        const bool completed = GetOverlappedResult(directory_, &Overlapped(overlapped_), &bytes, FALSE) != 0;
        // No record (the list overflowed, or the call failed): assume the worst.
        bool changed = !completed || bytes == 0;
        for (DWORD at = 0; !changed && at + sizeof(FILE_NOTIFY_INFORMATION) <= bytes;) {
            const auto* record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(changes_ + at);
            changed = SameName(record->FileName, record->FileNameLength, fileName_);
            if (record->NextEntryOffset == 0) break;
            at += record->NextEntryOffset;
        }
        Listen();
        if (changed) return true;
    }
    return !listening_;
}

void SettingsWatch::Read(bool again) {
    again_ = again;
    lastRead_ = GetTickCount64();
    if (!listening_ && path_) StampChanged();
}

void SettingsWatch::Stop() {
    if (directory_) {
        // The system writes into changes_ until the request is gone: wait for it.
        if (listening_ && CancelIo(directory_)) {
            DWORD bytes = 0;
            GetOverlappedResult(directory_, &Overlapped(overlapped_), &bytes, TRUE);
        }
        CloseHandle(directory_);
    }
    if (event_) CloseHandle(event_);
    directory_ = nullptr;
    event_ = nullptr;
    listening_ = false;
    stampKnown_ = false;
}
