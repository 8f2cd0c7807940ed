// Decoding and writing of the branch instructions found at host call sites.
//
//   E8 rel32        call  address + 5 + rel32
//   E9 rel32        jmp   address + 5 + rel32
//   FF 15 abs32     call  [abs32]   (destination: the word stored at abs32)
//   FF 25 abs32     jmp   [abs32]
//
// Only the relative call is ever written. A site that already holds E8 gets
// its displacement alone, in one locked compare-and-exchange, so that a
// thread executing the site meanwhile sees either the old call or the new
// one, never half of each (retarget_call writes nothing where the
// displacement straddles a cache line; both of the host's sites keep theirs
// inside one); the instruction cache is flushed after every write.
#pragma once

#include <cstdint>

#include "codepatch/patch_address.h"

namespace codepatch {

constexpr std::uint8_t op_call_rel32 = 0xE8;
constexpr std::uint8_t op_jmp_rel32 = 0xE9;
constexpr std::uint8_t op_group_ff = 0xFF;
constexpr std::uint8_t modrm_call_indirect = 0x15;  // FF /2, [disp32]
constexpr std::uint8_t modrm_jmp_indirect = 0x25;   // FF /4, [disp32]
constexpr std::uint32_t relative_branch_size = 5;

// The address the instruction at `address` branches to, or 0 when it is none
// of the four forms above.
std::uint32_t branch_target(patch_address address);

// True when `site` holds E8 rel32 that calls `destination`.
bool is_call_to(patch_address site, std::uint32_t destination);

// Writes E8 rel32 at `site` so that it calls `destination`, whatever the
// site held before, in one protection bracket: the displacement alone when
// the site holds E8 already, all 5 bytes otherwise.
// Returns branch_target(site) as it was before the write.
std::uint32_t redirect_call(patch_address site, std::uint32_t destination);

enum class retarget_result {
    atomic,     // the displacement was swapped in one locked instruction
    changed,    // the site no longer called `expected`: nothing written
    straddles,  // its 4 bytes straddle a cache line, where no one instruction writes them: nothing written
};

// Makes the E8 call at `site` call `destination`, provided it still calls
// `expected`, exactly as a check just before found it: a site that another
// writer has changed in between is left as that writer left it.
retarget_result retarget_call(patch_address site, std::uint32_t expected, std::uint32_t destination);

// True when the 4 bytes of the displacement at site + 1 lie within one
// 64-byte cache line, where one locked instruction writes them at once.
constexpr bool displacement_in_one_line(std::uint32_t site) {
    return ((site + 1) & 63u) <= 60u;
}

// The rel32 of a 5-byte branch at `site` that reaches `destination`.
constexpr std::uint32_t relative_displacement(std::uint32_t site, std::uint32_t destination) {
    return destination - site - relative_branch_size;
}

}  // namespace codepatch
