// Call gates: jumps through a pointer, in executable memory that the process
// keeps after the module that made them is unloaded.
//
//   call site:  E8 rel32 -> gate      gate:  FF 25 [target]   jmp [target]
//
// A module that routes a hooked call site through its gate can be unloaded
// while something still calls the gate: the site itself, or another
// plugin that hooked the site later and calls on to what it found there.
// At unload the module points the gate back at what its hook called on, and
// every caller keeps reaching live code. The jump leaves the stack as the
// call made it, so a gate serves a function of any convention.
//
// A module's gates share one block of memory per process, found again by
// name at the module's next load: loading and unloading the module any
// number of times takes no more memory, address space or handles than the
// first load (the block and one handle to its name stay for the life of the
// process).
#pragma once

#include <cstdint>

#include "codepatch/patch_address.h"

namespace codepatch {

struct call_gate {
    std::uint8_t jump[6];  // FF 25 &target
    std::uint8_t fill[2];  // CC CC
    std::uint32_t target;  // where a call through the gate goes now
    std::uint32_t site;    // the call site the gate serves
    // Nonzero when, as the gate was last handed back, the site called
    // something else, which may still call on through the gate.
    std::uint32_t shared;
    std::uint32_t reserved[3];
};
static_assert(sizeof(call_gate) == 32, "a gate is 32 bytes");

// The page that holds a module's gates, and what its name holds: where
// that page is.
struct call_gate_block {
    char magic[16];
    std::uint32_t process_id;
    std::uint32_t self;   // the block's own address
    std::uint32_t count;  // gates made
    std::uint32_t reserved;
    call_gate gates[(4096 - 32) / sizeof(call_gate)];
};
struct call_gate_record {
    char magic[16];
    std::uint32_t address;  // of the call_gate_block
};

// The name under which this module finds its gates again. Each module that
// uses gates defines it once; no two modules may share one, since a gate
// leads to one module's hook.
extern const wchar_t call_gate_owner[];

// The gate of `site` in this module's block, made on first use; nullptr when
// none can be had (no memory, or the block is full).
call_gate* find_call_gate(patch_address site);

// How the block was had at this load: found again, made and registered
// under the owner's name, or made for this load only because the name is
// held by something else (each load then takes a block of its own).
enum class gate_block_origin { none, found, made, made_unregistered };
gate_block_origin call_gate_block_origin();

// The gate's own address: what a call site calls to go through it.
std::uint32_t gate_address(const call_gate& gate);

// Points the gate at `target` (one aligned store: a thread jumping through
// the gate meanwhile takes either the old target or the new one).
void set_gate_target(call_gate& gate, std::uint32_t target);
void set_gate_shared(call_gate& gate, bool shared);

}  // namespace codepatch
