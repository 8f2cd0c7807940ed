// One copy of a module per process, claimed in its gates' record
// (gate_registry.h).
#pragma once

#include <cstdint>

#include "codepatch/gate_registry.h"

namespace codepatch {

// `mark`: bytes inside the calling module's image that only a copy of it
// holds at that place. Another copy is a loaded module, not this one, that
// holds the same bytes at the same offset from its base: no data that any
// program can write into the record makes a module of this process hold
// them, so a forged or stale claim is taken over, not obeyed. The name held
// by something that is not the gates' record (the gates then use a page for
// this load only) gives `name_taken`, and the process goes unclaimed.
enum class claim_result { ours, another_copy, taken_over, name_taken };
struct process_claim {
    claim_result result = claim_result::name_taken;
    std::uint32_t holder = 0;  // another copy's base, or the forged claim's module
};
process_claim claim_process(const gate_registry& gates, const std::uint8_t* mark, std::uint32_t mark_size);
// Gives the claim up, if it is this module's (at unload).
void release_process_claim(const gate_registry& gates, const std::uint8_t* mark);

}  // namespace codepatch
