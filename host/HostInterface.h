// The host executable as the plugin knows it: fixed addresses at the host's
// preferred image base 0x400000, the calling conventions of the host functions
// the plugin calls, and the character-record fields it reads.
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

#if defined(_WIN32) && !defined(_WIN64)
#define HOST_THISCALL __thiscall
#define HOST_CDECL __cdecl
#else
// Native builds (the settings parser and its tests) never call into the host.
#define HOST_THISCALL
#define HOST_CDECL
#endif

namespace host {

using Address = std::uint32_t;

constexpr Address kPreferredImageBase = 0x400000;

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
// them: host value 1 is line 3, 2 line 4, 3 line 6, 4 line 7, 5 line 8, 6 line 9.
constexpr std::uint32_t kAimValueCount = 6;
constexpr Address kAimValues[kAimValueCount] = {0x8CC4B4, 0x8CC4B8, 0x8CC4B0, 0x8CC4AC, 0x8CC4A8, 0x8CC4A0};
constexpr Address kAimValuesLowest = 0x8CC4A0;  // where the aim data begins
constexpr Address kAimBlock = 0x8CC4C0;         // 4 rows of 7 floats
constexpr std::uint32_t kAimBlockRows = 4;
constexpr std::uint32_t kAimBlockColumns = 7;
constexpr std::uint32_t kAimBlockBytes = kAimBlockRows * kAimBlockColumns * 4;
static_assert(kAimBlockBytes == 112, "the host block is 112 bytes");

// ---- Host functions (absolute) --------------------------------------------
// this-call; ECX = host object; stack: point (3 floats), three 32-bit floats;
// the callee removes its 16 bytes of arguments. The float arguments are typed
// as raw words so that nothing on their way changes a bit (x87 loads quiet
// signalling NaNs).
constexpr Address kAimPointFunction = 0x521500;
using AimPointFunction = std::uint32_t(HOST_THISCALL*)(void* object, const float* point, std::uint32_t arg2,
                                                       std::uint32_t arg3, std::uint32_t arg4);

// cdecl; one signed argument, always -1; returns a character record or null.
constexpr Address kCharacterLookupFunction = 0x56E210;
constexpr std::int32_t kCurrentCharacter = -1;
using CharacterLookupFunction = void*(HOST_CDECL*)(std::int32_t which);

// this-call on a character record; stack: output point, input offset
// (each 3 floats); the callee removes 8 bytes; its result is ignored.
constexpr Address kOffsetToPointFunction = 0x5334F0;
using OffsetToPointFunction = void(HOST_THISCALL*)(void* character, float* point, const float* offset);

// The function the frame call site calls: no arguments, 32-bit result.
using FrameFunction = std::uint32_t (*)();

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
