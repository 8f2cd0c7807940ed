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

namespace {

// Swaps the displacement at site + 1 from `expected` to `wanted` inside an
// open bracket, in one locked instruction; false when it did not hold
// `expected`.
bool swap_displacement(patch_address site, std::uint32_t expected, std::uint32_t wanted) {
    auto* word = static_cast<std::uint32_t*>((site + 1).pointer());
    return __sync_bool_compare_and_swap(word, expected, wanted);
}

}  // namespace

std::uint32_t redirect_call(patch_address site, std::uint32_t destination) {
    const std::uint32_t previous = branch_target(site);
    {
        protection_bracket bracket(site, relative_branch_size);
        auto* bytes = static_cast<volatile std::uint8_t*>(site.pointer());
        const std::uint32_t displacement = relative_displacement(site.value, destination);
        if (bytes[0] == op_call_rel32 && displacement_in_one_line(site.value)) {
            std::uint32_t current;
            std::memcpy(&current, const_cast<std::uint8_t*>(bytes) + 1, 4);
            swap_displacement(site, current, displacement);
        } else {
            std::uint8_t call[relative_branch_size] = {op_call_rel32};
            std::memcpy(call + 1, &displacement, 4);
            std::memcpy(site.pointer(), call, sizeof call);
        }
    }
    flush_instructions(site, relative_branch_size);
    return previous;
}

retarget_result retarget_call(patch_address site, std::uint32_t expected, std::uint32_t destination) {
    if (peek_u8(site) != op_call_rel32) return retarget_result::changed;
    if (!displacement_in_one_line(site.value)) return retarget_result::straddles;
    bool swapped;
    {
        protection_bracket bracket(site, relative_branch_size);
        swapped = swap_displacement(site, relative_displacement(site.value, expected),
                                    relative_displacement(site.value, destination));
    }
    if (!swapped) return retarget_result::changed;
    flush_instructions(site, relative_branch_size);
    return retarget_result::atomic;
}

}  // namespace codepatch
