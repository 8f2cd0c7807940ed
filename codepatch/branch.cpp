#include "codepatch/branch.h"

#include <cstring>

#include "codepatch/memory.h"

namespace codepatch {

std::uint32_t branch_target(patch_address address) {
    const std::uint8_t op = peek_u8(address);
    if (op == op_call_rel32 || op == op_jmp_rel32) return address.value + relative_branch_size + peek_u32(address + 1);
    if (op == op_group_ff) {
        const std::uint8_t modrm = peek_u8(address + 1);
        if (modrm == modrm_call_indirect || modrm == modrm_jmp_indirect) {
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
    return peek_u8(site) == op_call_rel32 && site.value + relative_branch_size + peek_u32(site + 1) == destination;
}

std::uint32_t redirect_call(patch_address site, std::uint32_t destination) {
    const std::uint32_t previous = branch_target(site);
    // Two accesses, two brackets: like every access of this layer, each lifts
    // the protection of exactly the bytes it touches (1, then 4), and the
    // displacement is an ordinary 32-bit poke.
    {
        protection_bracket bracket(site, 1);
        *static_cast<volatile std::uint8_t*>(site.pointer()) = op_call_rel32;
    }
    poke_u32(site + 1, relative_displacement(site.value, destination));
    return previous;
}

}  // namespace codepatch
