// A host address to patch or probe: a plain 32-bit value, already moved to the
// loaded image. Wrapping it keeps host addresses apart from ordinary integers.
#pragma once

#include <cstdint>

namespace codepatch {

struct patch_address {
    std::uint32_t value = 0;

    constexpr patch_address() = default;
    constexpr explicit patch_address(std::uint32_t address) : value(address) {}

    constexpr patch_address operator+(std::uint32_t offset) const { return patch_address(value + offset); }
    void* pointer() const { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(value)); }
    friend constexpr bool operator==(patch_address a, patch_address b) { return a.value == b.value; }
    friend constexpr bool operator!=(patch_address a, patch_address b) { return a.value != b.value; }
};

static_assert(sizeof(patch_address) == 4, "a patch address is one 32-bit word");

}  // namespace codepatch
