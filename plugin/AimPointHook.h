// What the plugin does to the host's call at 0x527A95.
#pragma once

#include <cstdint>

// Run by the aim call's gate just before it calls the host function 0x521500
// (or whatever the site called before the plugin), with the call's four
// stack arguments (the point, then three floats as raw bits) and 16 bytes of
// scratch that live until that call returns. For the listed weapon-type codes
// of the current character it has host 0x5334F0 turn that weapon's offset
// into a point in the scratch, and makes the scratch the call's first
// argument and returns nonzero; otherwise it leaves the arguments as the host
// pushed them and returns 0. The gate makes the call itself (from its own
// frame, with a copy of the arguments, after a substitution; by a jump, with
// the host's own stack, otherwise), so nothing of the plugin runs after the
// host function returns.
std::uint32_t __cdecl AimPointHook(void* context, std::uint32_t* arguments, void* scratch) noexcept;
