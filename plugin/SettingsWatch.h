// Whether the settings file may have changed since it was last read, at the
// cost of a glance: live reload opens and reads the file only then.
//
// The file's folder is watched with ReadDirectoryChangesW, which names every
// file it reports, so that the plugin's own log beside it wakes nothing; a
// save that keeps the file's size and lands in the same timestamp tick as the
// one before is seen too. Where a folder cannot be watched (some network
// shares), the file's size, times and attributes are compared instead. Either
// way the file is read at least once a second, for file systems that report
// late or not at all.
#pragma once

class SettingsWatch {
public:
    SettingsWatch() = default;
    SettingsWatch(const SettingsWatch&) = delete;
    SettingsWatch& operator=(const SettingsWatch&) = delete;
    ~SettingsWatch() { Stop(); }

    // Watches `directory` for changes to the file `path` (named `fileName`
    // there). Called before the first read, so that no save goes unseen.
    void Start(const wchar_t* directory, const wchar_t* path, const wchar_t* fileName);
    // True when the file is to be read now: it may have changed, the last
    // read could not open it for a reason that passes (another program held
    // it), or a second has gone by since the last read. Allocates nothing.
    bool ReadDue();
    // The file has just been read (or tried): `again` asks for another try on
    // the next frame.
    void Read(bool again);
    // Stops watching; nothing writes into this object afterwards.
    void Stop();

private:
    void Listen();
    bool StampChanged();

    const wchar_t* path_ = nullptr;
    const wchar_t* fileName_ = nullptr;
    void* directory_ = nullptr;  // a HANDLE, opened for overlapped ReadDirectoryChangesW
    void* event_ = nullptr;
    alignas(8) unsigned char overlapped_[32] = {};  // an OVERLAPPED
    alignas(8) unsigned char changes_[4096] = {};   // FILE_NOTIFY_INFORMATION records
    alignas(8) unsigned char stamp_[40] = {};       // WIN32_FILE_ATTRIBUTE_DATA, when not watching
    bool listening_ = false;
    bool stampKnown_ = false;
    bool again_ = false;
    unsigned long long lastRead_ = 0;  // GetTickCount64 at the last read
};
