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
// A gate starts like an ordinary function (push ebp; mov ebp, esp), not with
// a jump: a hooking library that follows jumps from a call site finds the
// gate, which outlives the module, and never the handlers.
//
// A module's gates share one page per process (gate_registry.h).
#pragma once

#include <cstdint>
#include <cwchar>

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

// The address a call site calls to go through the gate: its code.
inline std::uint32_t gate_address(const call_gate& gate) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(gate.code));
}
// The gate, of any module of this process, whose code starts at `address`;
// nullptr when no gate's does.
const call_gate* call_gate_at(std::uint32_t address);

// The name of an owner's gate record in a process
// ("Local\\<owner>.gates.<process id>"), into `name`.
inline void call_gate_record_name(wchar_t (&name)[128], const wchar_t* owner, unsigned long process_id) {
    std::swprintf(name, 128, L"Local\\%ls.gates.%lu", owner, process_id);
}

// The shape as a gate records it: a gate serves one shape of function.
std::uint32_t gate_shape_word(gate_shape shape);
// Fills `made` (to be copied to `at`) as the gate of `site`, leading
// straight on to `target`, no handlers; false when a function of `shape`
// takes more arguments than a gate can copy.
bool write_call_gate(call_gate& made, std::uint32_t at, std::uint32_t site, std::uint32_t target, gate_shape shape);

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
