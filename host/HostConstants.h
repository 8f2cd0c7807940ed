// The host executable as the plugin knows it, in numbers: fixed addresses at
// the host's preferred image base 0x400000, the build probes, the
// character-record fields it reads and the builds with a frame call. Plain
// C++ with no Windows in it, so that the settings checker names the same
// addresses as the plugin; the host's functions and their calling
// conventions are in HostInterface.h.
//
// Addresses marked "moved" are translated to the loaded image with
// RebaseHostAddress before use; all others are absolute and used as they stand.
// The split is the host's own: the probe words and the code the plugin
// rewrites are reached through the loaded image, while the host's functions,
// its data words and the block are reached at their fixed addresses, as the
// host's own code reaches them (its calls and data references are absolute
// and are not relocated).
#pragma once

#include <cstdint>

namespace host {

using Address = std::uint32_t;

constexpr Address kPreferredImageBase = 0x400000;

// `address` (at the preferred base) in an image loaded at `imageBase`:
// imageBase + address - 0x400000, modulo 2^32.
constexpr std::uint32_t RebaseFrom(std::uint32_t imageBase, Address address) {
    return imageBase + address - kPreferredImageBase;
}

// ---- Build probes (moved) -------------------------------------------------
struct BuildProbe {
    Address address;
    std::uint32_t expected;  // whole 32-bit little-endian word
    std::int32_t build;
};

// clang-format off
constexpr BuildProbe kBuildProbes[] = {
    {0x401000, 0x53EC8B55, 1001},  // 55 8B EC 53
    {0x401000, 0x16197BE9, 1002},  // E9 7B 19 16
    {0x8245BC, 0x000094BF, 1011},  // BF 94 00 00
    {0x8252FC, 0x000094BF, 1101},
    {0x82533C, 0x000094BF, 1111},
    {0x858D51, 0x3539F633, 3200},  // 33 F6 39 35
    {0x858C61, 0x3539F633, 3210},
};
// clang-format on

// ---- Patched call sites (moved) -------------------------------------------
// E8 rel32: the host's call of kAimPointFunction, redirected to AimPointHook.
constexpr Address kAimPointCallSite = 0x527A95;
// E8 rel32: the host's per-frame call, hooked on builds 1001 and 1002 only.
constexpr Address kFrameCallSite = 0x53E981;

// ---- Host code written by the settings loader (moved) ---------------------
constexpr Address kAimCodeConstant = 0x521632;  // 4 bytes: a float's bit pattern

// ---- Host data written by the settings loader (absolute) ------------------
// The six aim values (32-bit floats), in the order the settings file gives
// them (its host-value lines, settings/SettingsLayout.h).
constexpr std::uint32_t kAimValueCount = 6;
constexpr Address kAimValues[kAimValueCount] = {0x8CC4B4, 0x8CC4B8, 0x8CC4B0, 0x8CC4AC, 0x8CC4A8, 0x8CC4A0};
constexpr Address kAimValuesLowest = 0x8CC4A0;  // where the aim data begins
constexpr Address kAimBlock = 0x8CC4C0;         // 4 rows of 7 floats
constexpr std::uint32_t kAimBlockRows = 4;
constexpr std::uint32_t kAimBlockColumns = 7;
constexpr std::uint32_t kAimBlockBytes = kAimBlockRows * kAimBlockColumns * 4;
static_assert(kAimBlockBytes == 112, "the host block is 112 bytes");

// ---- Host functions (absolute) --------------------------------------------
// Their calling conventions and types: HostInterface.h.
constexpr Address kAimPointFunction = 0x521500;
constexpr Address kCharacterLookupFunction = 0x56E210;
constexpr std::int32_t kCurrentCharacter = -1;  // the lookup's one argument
constexpr Address kOffsetToPointFunction = 0x5334F0;

// ---- Character record fields ----------------------------------------------
constexpr std::uint32_t kRecordStateWord = 0x46C;    // 32-bit
constexpr std::uint32_t kStateAimBlocked = 0x100;    // bit 8: leave the call alone
constexpr std::uint32_t kRecordWeaponSlots = 0x5A0;  // array of slots
constexpr std::uint32_t kWeaponSlotSize = 28;        // bytes per slot
constexpr std::uint32_t kSlotWeaponType = 0;         // 32-bit code at slot + 0
constexpr std::uint32_t kRecordCurrentSlot = 0x718;  // 8-bit slot index
constexpr std::uint32_t kRecordMinimumSize = kRecordWeaponSlots + 256 * kWeaponSlotSize;

// ---- Builds ------------------------------------------------------------------
// The builds whose frame function is reached through the E8 call at
// kFrameCallSite; the others reach it some other way and are never hooked.
constexpr std::int32_t kFrameCallBuilds[] = {1001, 1002};
constexpr bool HasFrameCall(std::int32_t build) {
    for (std::int32_t b : kFrameCallBuilds)
        if (b == build) return true;
    return false;
}

}  // namespace host
