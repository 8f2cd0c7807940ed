// The plugin's settings record: what the settings file gave the plugin
// itself, and the aim toggle. The aim hook reads it; the frame callback and
// the settings loader write it.
#pragma once

#include <cstdint>

struct AimSettings {
    std::int32_t reloadEveryFrame;  // line 1; non-zero: load again every frame
    std::uint8_t zeroOffsetX;       // written by HandleFrameInput only
    float aimRows[4][7];            // lines 11-14 over the host's block at 0x8CC4C0, copied there whole
    float weaponOffsets[16][3];     // lines 16-31, read by AimPointHook
    bool weaponOffsetGiven[16];     // a file has given the row: until then its weapon keeps the host's point
    // Odd while a load writes weaponOffsets and weaponOffsetGiven, bumped
    // before and after: a reader that sees it odd or changed reads again.
    std::uint32_t weaponOffsetsVersion;
};
static_assert(sizeof(AimSettings::aimRows) == 112, "aimRows is the image of the 112-byte host block");
static_assert(sizeof(AimSettings::weaponOffsets) == 192, "16 rows of 3 floats");

// Zero until the first load.
extern AimSettings aimSettings;

// One row of weaponOffsets as one load left it, never half of one load and
// half of the next, whichever thread reads while the frame thread loads.
// Waits for no lock and allocates nothing: a read that a write overlapped is
// simply made again. False when no file has given the row.
bool ReadWeaponOffset(int row, float (&offset)[3]);

// A load's writes of weaponOffsets and weaponOffsetGiven go between these
// (one writer at a time: the thread that loads the settings).
void BeginWeaponOffsetsWrite();
void WriteWeaponOffset(int row, const float* values, int count);
void EndWeaponOffsetsWrite();
