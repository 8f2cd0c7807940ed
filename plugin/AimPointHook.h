// What the plugin does to the host's call at 0x527A95.
#pragma once

#include <cstdint>

// The before handler of the aim call's jump-on gate (codepatch/call_gate.h),
// whose context is the AimSite (its settings record and its gates).
// The gate has already asked host 0x56E210 for the current character (its
// prelude, with -1) and hands the record over in the scratch; `arguments`
// are the call's four stack arguments (the point, then three floats as raw
// bits). For the listed weapon-type codes of that character it puts the
// weapon's offset and the point to be made from it in the thread's slot
// (memory that outlives the plugin), makes the slot's point the call's first
// argument, asks the gate to have host 0x5334F0 fill it, and returns
// nonzero; otherwise it changes nothing and returns 0. Either way the gate
// then jumps on to host 0x521500 (or whatever the site called before the
// plugin): nothing of the plugin is on the stack while the game runs, and
// the plugin calls none of the game's functions itself.
std::uint32_t __cdecl AimPointHook(void* context, std::uint32_t* arguments, void* scratch) noexcept;
