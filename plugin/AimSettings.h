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
};
static_assert(sizeof(AimSettings::aimRows) == 112, "aimRows is the image of the 112-byte host block");
static_assert(sizeof(AimSettings::weaponOffsets) == 192, "16 rows of 3 floats");

// Zero until the first load.
extern AimSettings aimSettings;
