// Whether the settings file may have changed since it was last read, at the
// cost of a glance: live reload opens and reads the file only then.
//
// The glance is one query of the file's size, times and attributes
// (GetFileAttributesExW), about 6 to 11 microseconds under Wine. (A folder
// change notification costs less on a quiet frame, but under Wine it makes
// every save in the folder cost about 0.2 ms more, on the frame that reads
// the save and on the one after; the query does not.) Two saves of the same
// size within one tick of the file system's clock (FAT keeps two seconds,
// NTFS about 16 ms) leave the same stamp, so a file whose last write lies
// within one tick of now is read on every frame until that tick has passed.
// And the file is read at least once a second, whatever the stamp says.
#pragma once

#include "plugin/PluginPaths.h"

class SettingsWatch {
public:
    // Watches the file at `path`. Called before the first read.
    void Start(const wchar_t* path);
    bool Started() const { return path_ != nullptr; }
    // True when the file is to be read now: its stamp changed, it was
    // written within the last tick of its file system's clock (or is dated
    // ahead of this clock, for a second), the last read could not open it
    // for a reason that passes (another program held it), or a second has
    // gone by since the last read. Allocates nothing.
    bool ReadDue();
    // The file has just been read (or tried): `again` asks for another try on
    // the next frame.
    void Read(bool again);

private:
    const wchar_t* path_ = nullptr;
    unsigned long long tick_ = 20 * 10000ull;  // the file system's time step, in 100 ns units
    alignas(8) unsigned char stamp_[40] = {};  // a WIN32_FILE_ATTRIBUTE_DATA, as last seen
    bool again_ = false;
    unsigned long long lastRead_ = 0;     // GetTickCount64 at the last read
    unsigned long long stampSeen_ = 0;    // ... when the stamp was first seen as it is
    wchar_t volume_[kPathCapacity] = {};  // the volume the file is on, as Start found it
};
