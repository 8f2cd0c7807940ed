// Call gates: small routines in executable memory that the process keeps
// after the module that made them is unloaded.
//
//   around gate:  E8 rel32 -> gate: before handler (optional)
//                                   call target    (what the site called)
//                                   after handler  (optional)
//                                   ret            (the callee's way)
//
//   jump-on gate: E8 rel32 -> gate: prelude        (a game function, optional)
//                                   before handler
//                                   follow-up call (a game function, if asked)
//                                   jmp target     (the caller's own stack)
//
// A module's own code runs only inside the handlers, and a thread is inside
// one exactly while its stack holds the gate's mark (gate_stub.S); the
// game's functions are called by the gate itself, never under the mark, and
// return into the gate or straight to the game. Once the handlers are
// cleared, drain_call_gates (gate_drain.h) waits for just the threads inside
// a handler, and the module can go.
//
// A gate starts like an ordinary function (push ebp; mov ebp, esp) or with a
// compare, not with a jump: a hooking library that follows jumps from a call
// site finds the gate, which outlives the module, and never the handlers.
//
// A module's gates share one page per process, found again by name at the
// module's next load: loading and unloading the module any number of times
// takes no more memory, address space or handles than the first load (the
// page and one handle to its name stay for the life of the process).
#pragma once

#include <cstdint>
#include <cwchar>

#include "codepatch/patch_address.h"

namespace codepatch {

// Code run by a gate: `arguments` points at the call's stack arguments as the
// caller pushed them, `scratch` at 24 bytes of the gate's frame. C
// convention. It must not block, and calls nothing of the game's: the gate
// makes those calls.
//   around gate, `before`: may replace arguments (the call then copies them
//     on); returns nonzero when it did, 0 when the call may go on as the
//     caller made it. `after`: its result is not looked at.
//   jump-on gate, `before`: the scratch's first word holds the prelude's
//     result. To substitute, it replaces arguments in place (what they point
//     to must outlive the module), fills the scratch as a gate_follow_up and
//     returns nonzero; returns 0 to let the call go on unchanged.
using gate_handler = std::uint32_t(__cdecl*)(void* context, std::uint32_t* arguments, void* scratch);

// How the function called at a site takes its arguments: the number of
// 4-byte stack arguments the gate copies on, and whether the callee removes
// them (this-call, stdcall) or the caller does (cdecl).
struct gate_shape {
    std::uint32_t argument_words = 0;
    bool callee_removes_arguments = false;
    bool jump_on = false;  // a jump-on gate: `before` only, the target reached by a jump
};
constexpr std::uint32_t max_gate_argument_words = 8;

// What a jump-on gate's `before` handler asks for, in the scratch: one
// this-call of the game's, made with the mark down before the jump.
struct gate_follow_up {
    std::uint32_t prelude_result;  // set by the gate
    std::uint32_t function;
    std::uint32_t object;  // ECX
    std::uint32_t arguments[2];
};
static_assert(sizeof(gate_follow_up) <= 24, "inside the gate's scratch");

// A game function a jump-on gate calls before its handler (C convention,
// one argument), with the mark down; the handler gets its result.
struct gate_prelude {
    std::uint32_t function = 0;
    std::uint32_t argument = 0;
};

struct call_gate {
    std::uint32_t target;   // where the gate calls on: what the site called before
    std::uint32_t before;   // gate_handler, or 0
    std::uint32_t after;    // gate_handler, or 0
    std::uint32_t context;  // handed to both handlers
    std::uint32_t shape;    // argument words, and 0x100 when the callee removes them
    std::uint32_t site;     // the call site the gate serves
    // What the site called when the gate was last handed back while another
    // hook held the site (0: none): that hook may call on through the gate.
    std::uint32_t displaced_by;
    std::uint32_t prelude;  // jump-on gates: gate_prelude
    std::uint32_t prelude_argument;
    std::uint32_t reserved[3];
    std::uint8_t code[208];  // gate_stub.S, with this gate's addresses and argument copies
};
static_assert(sizeof(call_gate) == 256, "a gate is 256 bytes");

// The page that holds a module's gates, and what its name holds: where that
// page is.
struct call_gate_block {
    char magic[16];
    std::uint32_t process_id;
    std::uint32_t self;         // the block's own address
    std::uint32_t count;        // gates made
    std::uint32_t thread_slot;  // TLS index + 1 of gate_thread_slot, 0: none
    call_gate gates[(4096 - 32) / sizeof(call_gate)];
};
static_assert(sizeof(call_gate_block) <= 4096, "one page");
constexpr char call_gate_block_magic[16] = "codepatch gate3";
constexpr std::uint32_t call_gate_block_size = 4096;
// True when `address` is a block of gates that this process made: private
// committed executable memory that starts there and says so. A name that
// something else took can hold any address; this is what keeps us from
// writing to it.
bool is_call_gate_block(std::uint32_t address);

struct call_gate_record {
    char magic[16];
    std::uint32_t address;  // of the call_gate_block
    // The module that claims the process (claim_process): its base, and
    // where its mark is, from that base; 0 when none does.
    std::uint32_t claim_module;
    std::uint32_t claim_mark;
};

// The name under which this module finds its gates again. Each module that
// uses gates defines it once; no two modules may share one, since a gate
// leads to one module's handlers.
extern const wchar_t call_gate_owner[];

// The name of an owner's gate record in a process
// ("Local\<owner>.gates.<process id>"), into `name`.
inline void call_gate_record_name(wchar_t (&name)[128], const wchar_t* owner, unsigned long process_id) {
    std::swprintf(name, 128, L"Local\\%ls.gates.%lu", owner, process_id);
}

// The gate of `site` in this module's block, made on first use (for a
// function of `shape`, leading straight on to `target`, no handlers);
// nullptr when none can be had (no memory, the block is full, or the gate
// there serves a function of another shape or is of the other kind).
call_gate* find_call_gate(patch_address site, std::uint32_t target, gate_shape shape);
// The gate of `site` when this module has one already, else nullptr.
const call_gate* existing_call_gate(patch_address site);

// How the block was had at this load: found again, made and registered
// under the owner's name, made for this load only because the name is held
// by something else (each load then takes a block of its own), or none.
enum class gate_block_origin { none, found, made, made_unregistered };
gate_block_origin call_gate_block_origin();

// One copy of a module per process, claimed in the gates' record. `mark`:
// bytes inside the calling module's image that only a copy of it holds at
// that place. Another copy is a loaded module, not this one, that holds the
// same bytes at the same offset from its base: no data that any program can
// write into the record makes a module of this process hold them, so a
// forged or stale claim is taken over, not obeyed. The name held by
// something that is not the gates' record (the gates then use a page for
// this load only) gives `name_taken`, and the process goes unclaimed.
enum class claim_result { ours, another_copy, taken_over, name_taken };
struct process_claim {
    claim_result result = claim_result::name_taken;
    std::uint32_t holder = 0;  // another copy's base, or the forged claim's module
};
process_claim claim_process(const std::uint8_t* mark, std::uint32_t mark_size);
// Gives the claim up, if it is this module's (at unload).
void release_process_claim(const std::uint8_t* mark);

// The address a call site calls to go through the gate: its code.
inline std::uint32_t gate_address(const call_gate& gate) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(gate.code));
}
// The gate, of any module of this process, whose code starts at `address`;
// nullptr when no gate's does.
const call_gate* call_gate_at(std::uint32_t address);

// 32 bytes of the calling thread's own, in memory that outlives the module
// (allocated at the thread's first call, kept until the process ends), for
// what a jump-on gate's handler hands the game; nullptr when none can be
// had. Leaves the thread's last error and registers as it found them.
void* gate_thread_slot();
constexpr std::uint32_t gate_thread_slot_size = 32;

// The range of this module's gates, [first, last): what a drain looks for
// in a mark. Empty when the module has none.
struct gate_range {
    std::uint32_t first = 0, last = 0;
};
gate_range call_gates_made();

// Writes one of the gate's words (one aligned store: a thread reading it
// meanwhile sees either the old value or the new one). Handlers are cleared
// with a full barrier, so that a drain that follows sees every thread that
// read them before.
void set_gate_target(call_gate& gate, std::uint32_t target);
void set_gate_handlers(call_gate& gate, gate_handler before, gate_handler after, void* context);
void set_gate_prelude(call_gate& gate, gate_prelude prelude);
void clear_gate_handlers(call_gate& gate);
void set_gate_displaced_by(call_gate& gate, std::uint32_t destination);

}  // namespace codepatch
