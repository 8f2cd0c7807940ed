#include "codepatch/branch.h"

#include <cstring>

#include "codepatch/memory.h"

namespace codepatch {

std::uint32_t branch_target(patch_address address) {
    const std::uint8_t op = peek_u8(address);
    if (op == kOpCallRel32 || op == kOpJmpRel32) return address.value + kRelativeBranchSize + peek_u32(address + 1);
    if (op == kOpGroupFF) {
        const std::uint8_t modrm = peek_u8(address + 1);
        if (modrm == kModRmCallIndirect || modrm == kModRmJmpIndirect) {
            const patch_address slot(peek_u32(address + 2));
            // The pointer slot lives in the host's data, readable as it stands.
            std::uint32_t destination;
            std::memcpy(&destination, slot.pointer(), 4);
            return destination;
        }
    }
    return 0;
}

bool is_call_to(patch_address site, std::uint32_t destination) {
    return peek_u8(site) == kOpCallRel32 && site.value + kRelativeBranchSize + peek_u32(site + 1) == destination;
}

std::uint32_t redirect_call(patch_address site, std::uint32_t destination) {
    const std::uint32_t previous = branch_target(site);
    // Two accesses, two brackets: like every access of this layer, each lifts
    // the protection of exactly the bytes it touches (1, then 4), and the
    // displacement is an ordinary 32-bit poke.
    {
        protection_bracket bracket(site, 1);
        *static_cast<volatile std::uint8_t*>(site.pointer()) = kOpCallRel32;
    }
    poke_u32(site + 1, relative_displacement(site.value, destination));
    return previous;
}

}  // namespace codepatch
