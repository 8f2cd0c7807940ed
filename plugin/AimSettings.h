// The plugin's settings record: what the settings file gave the plugin
// itself, and the aim toggle. The aim site owns it and hands it to the aim
// handler through its gate; the settings loader and the frame callback are
// given it to write.
#pragma once

#include <cstdint>

#include "host/HostConstants.h"
#include "settings/SettingsLayout.h"

// The file's layout and the host's, which the loader copies one onto the other.
static_assert(settings::kHostValueCount == host::kAimValueCount, "one file line per host aim value");
static_assert(settings::kAimRowCount == host::kAimBlockRows && settings::kAimRowLength == host::kAimBlockColumns,
              "the file's aim rows are the host's aim block, row for row");

struct AimSettings {
    std::int32_t reloadEveryFrame = 0;  // line 1; non-zero: load again every frame
    std::uint8_t zeroOffsetX = 0;       // written by HandleFrameInput only
    // Lines 11-14 over the host's block at 0x8CC4C0, copied there whole.
    float aimRows[settings::kAimRowCount][settings::kAimRowLength] = {};
    float weaponOffsets[settings::kWeaponOffsetRows][3] = {};  // lines 16-31, read by AimPointHook
    // A file has given the row: until then its weapon keeps the host's point.
    bool weaponOffsetGiven[settings::kWeaponOffsetRows] = {};
    // Odd while a load writes weaponOffsets and weaponOffsetGiven, bumped
    // before and after: a reader that sees it odd or changed reads again.
    std::uint32_t weaponOffsetsVersion = 0;

    // One row of weaponOffsets as one load left it, never half of one load
    // and half of the next, whichever thread reads while the frame thread
    // loads. Waits for no lock and allocates nothing: a read that a write
    // overlapped is simply made again. False when no file has given the row.
    inline bool ReadWeaponOffset(int row, float (&offset)[3]) const;

    // A load's writes of weaponOffsets and weaponOffsetGiven go between
    // these (one writer at a time: the thread that loads the settings).
    void BeginWeaponOffsetsWrite();
    void WriteWeaponOffset(int row, const float* values, int count);
    void EndWeaponOffsetsWrite();

private:
    // ReadWeaponOffset's retries, while a write is under way: out of the
    // aim call's way.
    bool ReadWeaponOffsetAfterAWrite(int row, float (&offset)[3]) const;
};
static_assert(sizeof(AimSettings::aimRows) == host::kAimBlockBytes, "aimRows is the image of the host block");
static_assert(sizeof(AimSettings::weaponOffsets) == 192, "16 rows of 3 floats");

// A sequence lock: the version is odd while a write is under way. The fields
// are read and written with atomic accesses of their own size, so that a
// read that overlaps a write is a retry, never a torn float. The first try
// is inline: it is on the aim call's path, and a write is rare.
inline bool AimSettings::ReadWeaponOffset(int row, float (&offset)[3]) const {
    const std::uint32_t before = __atomic_load_n(&weaponOffsetsVersion, __ATOMIC_ACQUIRE);
    const bool given = __atomic_load_n(&weaponOffsetGiven[row], __ATOMIC_RELAXED);
    float x, y, z;  // one by one: three loads, no loop
    __atomic_load(&weaponOffsets[row][0], &x, __ATOMIC_RELAXED);
    __atomic_load(&weaponOffsets[row][1], &y, __ATOMIC_RELAXED);
    __atomic_load(&weaponOffsets[row][2], &z, __ATOMIC_RELAXED);
    __atomic_thread_fence(__ATOMIC_ACQUIRE);
    if ((before & 1) != 0 || __atomic_load_n(&weaponOffsetsVersion, __ATOMIC_RELAXED) != before)
        return ReadWeaponOffsetAfterAWrite(row, offset);
    offset[0] = x;
    offset[1] = y;
    offset[2] = z;
    return given;
}
