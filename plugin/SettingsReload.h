// Loading aimingSets.dat, at start-up and while the game runs: when to read
// the file, reading it, applying it to the host, and telling the log when
// the outcome differs from the last.
#pragma once

#include <cstdint>

#include "plugin/AimSettings.h"
#include "plugin/HostSettings.h"
#include "plugin/SettingsWatch.h"
#include "settings/SettingsFile.h"

class SettingsReload {
public:
    // Loads into the host and into `record`, which outlives this object.
    explicit SettingsReload(AimSettings& record) : record_(record) {}
    SettingsReload(const SettingsReload&) = delete;
    SettingsReload& operator=(const SettingsReload&) = delete;

    // Reads aimingSets.dat from the plugin's directory and applies every
    // value it provides. A file that cannot be opened, or that is not a file
    // on a disk, changes nothing. The first load, and every later one whose
    // outcome differs from the last, is written to the log.
    void LoadAimSettings();

    // One frame. While live reload is on, or a save that turns it off has not
    // been read whole yet, the file is loaded again when it may have changed
    // (or a second has passed); otherwise what the last load wrote is put
    // back, so that the host holds what reading the file would give.
    void Frame();

    // What the last load did, for the start-up's verdict: whether a file was
    // read at all, and how many problems it had.
    bool FileRead() const { return fileRead_; }
    // How many of the file's destinations (6 host values, the code
    // constant, 4 aim block rows, 16 weapon offset rows) the last load
    // wrote; 0 when it read no file.
    static constexpr int kDestinations =
        settings::kHostValueCount + 1 + settings::kAimRowCount + settings::kWeaponOffsetRows;
    int DestinationsApplied() const;
    // Whether the last file read gave line 1 a whole number.
    bool ReloadSwitchGiven() const { return fileRead_ && file_.Given(settings::LineKind::ReloadSwitch).count > 0; }
    AimSettings& Record() const { return record_; }
    int Problems() const { return fileRead_ ? file_.problems.count : 0; }

private:
    AimSettings& record_;
    // Line 1 read 0 from a file cut short that changed since the load before
    // (or at start-up): live reload goes on until a load confirms it (see
    // LoadAimSettings).
    bool stopUnconfirmed_ = false;
    bool fileRead_ = false;
    // Loads in a row that found the file's access denied: the first few are
    // tried again on the next frame, the rest once a second.
    static constexpr int kDeniedRetries = 3;
    int deniedInARow_ = 0;
    SettingsWatch watch_;
    HostSettings host_;
    settings::SettingsFile file_ = {};  // the last file read
    std::uint64_t lastLoad_ = 0;        // the fingerprint of the load before
    std::uint64_t lastLogged_ = 0;      // ... and of the last one logged
    bool anyLogged_ = false;
    settings::LineValues loggedLines_[settings::kLineCount] = {};  // what the lines gave in the load last logged
    char bytes_[settings::kMaxFileBytes] = {};                     // the file as read
};
