// The plugin's settings record and the loader that fills it, and the host,
// from aimingSets.dat.
#pragma once

#include <cstdint>

struct AimSettings {
    std::int32_t reloadEveryFrame;  // line 1; non-zero: load again every frame
    std::uint8_t zeroOffsetX;       // written by HandleFrameInput only
    float aimRows[4][7];            // lines 11-14 over the host's block at 0x8CC4C0, copied there whole
    float weaponOffsets[16][3];     // lines 16-31, read by AimPointHook
    bool weaponOffsetGiven[16];     // a file has given the row: until then its weapon keeps the host's point
};
static_assert(sizeof(AimSettings::aimRows) == 112, "aimRows is the image of the 112-byte host block");
static_assert(sizeof(AimSettings::weaponOffsets) == 192, "16 rows of 3 floats");

// Zero until the first load.
extern AimSettings aimSettings;

// Reads aimingSets.dat from the plugin's directory and applies every value it
// provides: host data words, the code constant at 0x521632, the host block at
// 0x8CC4C0, reloadEveryFrame and weaponOffsets. A file that cannot be opened,
// or that is not a file on a disk, changes nothing; a destination the file
// does not provide keeps its value, and so does host memory that is not
// writable. The first load, and every later one whose outcome differs from
// the last, is written to the log.
void LoadAimSettings();

// A live-reload frame: loads the settings file when it may have changed (or a
// second has passed), and otherwise puts back into the host what the last
// load wrote, so that the host holds what reading the file would give.
void RefreshAimSettings();

// Whether a frame loads the settings file again: live reload is on, or a save
// that turns it off has not been read whole yet (line 1 read 0 from a file cut
// short that changed since the load before).
bool ReloadDue();
