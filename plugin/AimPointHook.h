// The plugin's replacement for the host's call at 0x527A95.
#pragma once

#include <cstdint>

#include "host/HostInterface.h"

// Where the hook goes on: the destination the host's call at 0x527A95 held
// before the plugin redirected it. On a plain host that is the host function
// 0x521500; where another plugin hooked the call first, that plugin's hook,
// which then keeps running. Set by the start-up before the redirection.
extern std::uint32_t aimContinuation;

// Aim calls inside AimPointHook now, the function it goes on to included.
extern std::uint32_t aimCallsInFlight;

// Entered by the host's call at 0x527A95 in place of host 0x521500, with its
// convention: this-call, the host object in ECX, four 4-byte stack arguments
// removed on return. For the listed weapon-type codes of the current
// character it passes on the point that host 0x5334F0 makes of that weapon's
// offset; otherwise the host's own point. Either way it calls
// aimContinuation and returns its result.
std::uint32_t HOST_THISCALL AimPointHook(void* object, const float* point, std::uint32_t arg2, std::uint32_t arg3,
                                         std::uint32_t arg4) noexcept;
