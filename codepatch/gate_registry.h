// A module's call gates (call_gate.h) in the process: one page, found again
// under the owner's name at the module's next load, so that loading and
// unloading the module any number of times takes no more memory, address
// space or handles than the first load (the page and one handle to its name
// stay for the life of the process).
#pragma once

#include <cstdint>

#include "codepatch/call_gate.h"
#include "codepatch/patch_address.h"

namespace codepatch {

// How the page was had at this load: found again, made and registered under
// the owner's name, made for this load only because the name is held by
// something else (each load then takes a page of its own), or none.
enum class gate_block_origin { none, found, made, made_unregistered };

// The range of a registry's gates, [first, last): what a drain looks for in
// a mark. Empty when it has none.
struct gate_range {
    std::uint32_t first = 0, last = 0;
};

constexpr std::uint32_t gate_thread_slot_size = 32;

class gate_registry {
public:
    // `owner`: the name under which the module finds its gates again; no two
    // modules may share one, since a gate leads to one module's handlers.
    // The page is looked up at the first use, not here.
    explicit gate_registry(const wchar_t* owner);
    gate_registry(const gate_registry&) = delete;
    gate_registry& operator=(const gate_registry&) = delete;

    // The gate of `site`, made on first use (for a function of `shape`,
    // leading straight on to `target`, no handlers); nullptr when none can
    // be had (no memory, the page is full, or the gate there serves a
    // function of another shape or is of the other kind).
    call_gate* find(patch_address site, std::uint32_t target, gate_shape shape);
    // The gate of `site` when there is one already, else nullptr.
    const call_gate* existing(patch_address site) const;

    gate_block_origin origin() const;
    gate_range made() const;
    const wchar_t* owner() const { return owner_; }

    // 32 bytes of the calling thread's own, in memory that outlives the
    // module (allocated at the thread's first call from the process heap,
    // kept until the process ends; the thread-local index is taken once per
    // process, with the page), for what a jump-on gate's handler hands the
    // game; nullptr when none can be had. Leaves the thread's last error
    // and registers as it found them.
    void* thread_slot() const;

private:
    void look_up() const;

    wchar_t owner_[64] = {};
    mutable bool looked_up_ = false;
    mutable call_gate_block* block_ = nullptr;
    mutable gate_block_origin origin_ = gate_block_origin::none;
};

}  // namespace codepatch
