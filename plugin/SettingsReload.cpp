#include "plugin/SettingsReload.h"

#include <windows.h>

#include <cstring>

#include "plugin/AimSettings.h"
#include "plugin/PluginPaths.h"
#include "plugin/SettingsLog.h"

namespace {

const settings::LineValues kNoLines[settings::kLineCount] = {};

// FNV-1a over what a load came to: equal for two loads that read the same
// values with the same problems from a file opened the same way.
class Fingerprint {
public:
    void Mix(const void* data, std::size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < size; ++i) value_ = (value_ ^ bytes[i]) * 1099511628211ull;
    }
    template <typename T>
    void Mix(const T& value) {
        Mix(&value, sizeof value);
    }
    std::uint64_t Value() const { return value_; }

private:
    std::uint64_t value_ = 14695981039346656037ull;
};

std::uint64_t FingerprintOf(const SettingsLoad& load) {
    Fingerprint f;
    f.Mix(load.openError);
    f.Mix(load.notRegular);
    f.Mix(load.file != nullptr);
    if (!load.file) return f.Value();
    const settings::SettingsFile& file = *load.file;
    for (int line = 0; line < file.linesRead; ++line) {
        f.Mix(file.lines[line].count);
        f.Mix(file.lines[line].integer);
        f.Mix(file.lines[line].values, static_cast<std::size_t>(file.lines[line].count) * sizeof(float));
    }
    f.Mix(file.aimRowsPublished);
    f.Mix(file.problems.count);
    for (int i = 0; i < file.problems.Kept(); ++i) {
        f.Mix(file.problems.kept[i].line);
        f.Mix(file.problems.kept[i].text, std::strlen(file.problems.kept[i].text));
    }
    return f.Value();
}

// Reads up to `capacity` bytes; what a failed read leaves is the end.
std::size_t ReadAll(HANDLE file, char* bytes, std::size_t capacity) {
    return settings::ReadUpTo(bytes, capacity, [file](char* into, std::size_t room) -> std::size_t {
        DWORD got = 0;
        return ReadFile(file, into, static_cast<DWORD>(room), &got, nullptr) ? got : 0;
    });
}

}  // namespace

int SettingsReload::DestinationsApplied() const {
    if (!fileRead_) return 0;
    using settings::LineKind;
    int applied = 0;
    for (int k = 0; k < settings::kHostValueCount; ++k)
        applied += file_.Given(LineKind::HostValue, k).count && !host_.HostValueSkipped(k) ? 1 : 0;
    applied += file_.Given(LineKind::CodeConstant).count && !host_.CodeConstantSkipped() ? 1 : 0;
    if (!host_.AimBlockSkipped()) applied += file_.aimRowsPublished;
    for (int r = 0; r < settings::kWeaponOffsetRows; ++r)
        applied += file_.Given(LineKind::WeaponOffset, r).count ? 1 : 0;
    return applied;
}

void SettingsReload::Frame() {
    if (record_.reloadEveryFrame == 0 && !stopUnconfirmed_) return;
    // An unconfirmed stop reads on every frame until a read confirms it.
    if (stopUnconfirmed_ || watch_.ReadDue())
        LoadAimSettings();
    else
        host_.Reapply(record_);
}

void SettingsReload::LoadAimSettings() {
    // The start-up's read counts as one with live reload on: a file it sees
    // empty or cut short (an editor saving it as the game starts) is watched
    // until one read finds it whole, whatever its line 1 said half-way.
    const bool reloadWasOn = record_.reloadEveryFrame != 0 || stopUnconfirmed_ || lastLoad_ == 0;
    SettingsLoad load;
    load.path = SettingsFilePath();
    load.host = &host_;
    load.record = &record_;
    if (!watch_.Started() && load.path[0] != L'\0') watch_.Start(load.path);
    host_.Forget();
    if (load.path[0] != L'\0') {
        // Every sharing mode: an editor may write, replace or delete the file
        // while the host holds it open for the length of one load.
        HANDLE file = CreateFileW(load.path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            load.openError = GetLastError();
        } else {
            // A pipe or a device in the file's place is not read (a folder
            // does not open without FILE_FLAG_BACKUP_SEMANTICS at all).
            load.notRegular = GetFileType(file) != FILE_TYPE_DISK;
            if (!load.notRegular) {
                settings::ReadSettingsFile(bytes_, ReadAll(file, bytes_, sizeof bytes_), file_);
                load.file = &file_;
            }
            CloseHandle(file);
        }
    }
    if (load.file) host_.Apply(file_, record_);
    fileRead_ = load.file != nullptr;
    // Another program holding the file (an editor saving it) lets go soon:
    // try again on the next frame rather than wait for the next change. Access
    // denied passes too while an editor replaces the file, but not for a
    // folder or a file the player may not read: after a few frames in a row
    // it waits for the once-a-second read like any other failure.
    const bool held = load.openError == ERROR_SHARING_VIOLATION || load.openError == ERROR_LOCK_VIOLATION;
    deniedInARow_ = load.openError == ERROR_ACCESS_DENIED ? deniedInARow_ + 1 : 0;
    watch_.Read(held || (deniedInARow_ > 0 && deniedInARow_ <= kDeniedRetries));
    // A save that turns live reload off ends it once it has been read whole:
    // all its lines, or the same text twice in a row. A frame that caught the
    // editor half-way through writing it would otherwise keep the half it saw.
    const std::uint64_t fingerprint = FingerprintOf(load);
    stopUnconfirmed_ = reloadWasOn && load.file && record_.reloadEveryFrame == 0 &&
                       file_.linesRead < settings::kLineCount && fingerprint != lastLoad_;
    lastLoad_ = fingerprint;
    if (anyLogged_ && fingerprint == lastLogged_) return;
    LogSettingsLoad(load, anyLogged_ ? loggedLines_ : nullptr);
    std::memcpy(loggedLines_, load.file ? file_.lines : kNoLines, sizeof loggedLines_);
    lastLogged_ = fingerprint;
    anyLogged_ = true;
}
