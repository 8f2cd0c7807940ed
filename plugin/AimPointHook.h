// The plugin's replacement for the host's call at 0x527A95.
#pragma once

#include <cstdint>

#include "host/HostInterface.h"

// Entered by the host's call at 0x527A95 in place of host 0x521500, with its
// convention: this-call, the host object in ECX, four 4-byte stack arguments
// removed on return. For the listed weapon-type codes of the current
// character it passes 0x521500 the point that host 0x5334F0 makes of that
// weapon's offset; otherwise the host's own point. Returns 0x521500's result.
std::uint32_t HOST_THISCALL AimPointHook(void* object, const float* point, std::uint32_t arg2, std::uint32_t arg3,
                                         std::uint32_t arg4);
