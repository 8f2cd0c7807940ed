#include "plugin/SettingsWatch.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include "plugin/PluginPaths.h"

namespace {

static_assert(sizeof(WIN32_FILE_ATTRIBUTE_DATA) <= 40, "the stamp buffer holds a WIN32_FILE_ATTRIBUTE_DATA");

constexpr unsigned long long kSafetyNetMs = 1000;

unsigned long long Ticks(const FILETIME& time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The stamp of the file at `path`, all zero when there is none. The last
// access time is left out: reading the file moves it.
WIN32_FILE_ATTRIBUTE_DATA StampOf(const wchar_t* path) {
    WIN32_FILE_ATTRIBUTE_DATA stamp;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &stamp)) std::memset(&stamp, 0, sizeof stamp);
    stamp.ftLastAccessTime = FILETIME{};
    return stamp;
}

}  // namespace

void SettingsWatch::Start(const wchar_t* path) {
    path_ = path;
    const WIN32_FILE_ATTRIBUTE_DATA stamp = StampOf(path);
    std::memcpy(stamp_, &stamp, sizeof stamp);
    again_ = false;
    lastRead_ = stampSeen_ = GetTickCount64();
    // FAT keeps write times to two seconds; other file systems to the
    // system's timer tick, about 16 ms (20 ms leaves room).
    wchar_t system[MAX_PATH + 1] = {};
    if (GetVolumePathNameW(path, volume_, kPathCapacity) &&
        GetVolumeInformationW(volume_, nullptr, 0, nullptr, nullptr, nullptr, system, MAX_PATH + 1) &&
        std::wcsncmp(system, L"FAT", 3) == 0)
        tick_ = 2000 * 10000ull;
}

bool SettingsWatch::ReadDue() {
    const unsigned long long ticks = GetTickCount64();
    if (again_ || ticks - lastRead_ >= kSafetyNetMs) return true;
    const WIN32_FILE_ATTRIBUTE_DATA now = StampOf(path_);
    const bool changed = std::memcmp(&now, stamp_, sizeof now) != 0;
    std::memcpy(stamp_, &now, sizeof now);
    if (changed) {
        stampSeen_ = ticks;
        return true;
    }
    // Written within the last tick: a second save of the same size may hide
    // behind the same stamp. A stamp ahead of this clock (a share with
    // another clock, a clock set back, a file dated in the future) counts as
    // recent for one second after it was first seen, then it is trusted.
    FILETIME clock;
    GetSystemTimeAsFileTime(&clock);
    const unsigned long long written = Ticks(now.ftLastWriteTime), time = Ticks(clock);
    if (written == 0) return false;
    if (written > time) return ticks - stampSeen_ < kSafetyNetMs;
    return time - written < tick_;
}

void SettingsWatch::Read(bool again) {
    again_ = again;
    lastRead_ = GetTickCount64();
}
