#include "codepatch/call_gate.h"

#include <windows.h>

#include <cstddef>
#include <cstring>

#include "codepatch/memory.h"

// gate_stub.S
extern "C" const std::uint8_t codepatch_gate_stub_begin[];
extern "C" const std::uint8_t codepatch_gate_stub_copy[];
extern "C" const std::uint8_t codepatch_gate_stub_return[];
extern "C" const std::uint8_t codepatch_gate_stub_end[];
extern "C" const std::uint8_t codepatch_jump_stub_begin[];
extern "C" const std::uint8_t codepatch_jump_stub_end[];

namespace codepatch {

namespace {

constexpr std::uint32_t placeholder_base = 0x7A7E0000;  // GATE in gate_stub.S

std::uint32_t address_of(const void* p) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

// Puts this gate's addresses in place of the placeholders in code[from, to).
void patch_placeholders(call_gate& made, std::uint32_t gate, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i + 4 <= to; ++i) {
        std::uint32_t word;
        std::memcpy(&word, made.code + i, 4);
        if (word - placeholder_base < offsetof(call_gate, code)) {
            word = gate + (word - placeholder_base);
            std::memcpy(made.code + i, &word, 4);
            i += 3;
        }
    }
}

// The around gate's code: the stub with this gate's addresses in place of
// the placeholders, one push per argument where the stub is cut, and a `ret`
// that removes the arguments where the callee does. False when it does not
// fit.
bool write_around_code(call_gate& made, std::uint32_t gate, gate_shape shape) {
    const std::size_t cut = static_cast<std::size_t>(codepatch_gate_stub_copy - codepatch_gate_stub_begin);
    const std::size_t rest = static_cast<std::size_t>(codepatch_gate_stub_end - codepatch_gate_stub_copy);
    const std::size_t copies = 3 * shape.argument_words;
    const std::size_t size = cut + copies + rest;
    if (size > sizeof made.code) return false;
    std::memcpy(made.code, codepatch_gate_stub_begin, cut);
    for (std::uint32_t k = shape.argument_words; k >= 1; --k) {
        std::uint8_t* push = made.code + cut + 3 * (shape.argument_words - k);
        push[0] = 0xFF;  // FF 75 disp8: push dword ptr [ebp + 4 + 4k]
        push[1] = 0x75;
        push[2] = static_cast<std::uint8_t>(4 + 4 * k);
    }
    std::memcpy(made.code + cut + copies, codepatch_gate_stub_copy, rest);
    std::memset(made.code + size, 0xCC, sizeof made.code - size);
    patch_placeholders(made, gate, 0, cut);
    patch_placeholders(made, gate, cut + copies, size);
    const std::size_t ret =
        cut + copies + static_cast<std::size_t>(codepatch_gate_stub_return - codepatch_gate_stub_copy);
    const std::uint16_t removed = static_cast<std::uint16_t>(shape.callee_removes_arguments ? copies / 3 * 4 : 0);
    std::memcpy(made.code + ret + 1, &removed, 2);  // C2 iw: ret imm16
    return true;
}

// The jump-on gate's code: the stub with this gate's addresses.
bool write_jump_code(call_gate& made, std::uint32_t gate) {
    const std::size_t size = static_cast<std::size_t>(codepatch_jump_stub_end - codepatch_jump_stub_begin);
    if (size > sizeof made.code) return false;
    std::memcpy(made.code, codepatch_jump_stub_begin, size);
    std::memset(made.code + size, 0xCC, sizeof made.code - size);
    patch_placeholders(made, gate, 0, size);
    return true;
}

template <typename T>
void store_word(T& field, std::uint32_t value) {
    protection_bracket bracket(patch_address(address_of(&field)), 4);
    __atomic_store_n(&field, value, __ATOMIC_SEQ_CST);
}

}  // namespace

std::uint32_t gate_shape_word(gate_shape shape) {
    return shape.argument_words | (shape.callee_removes_arguments ? 0x100u : 0u) | (shape.jump_on ? 0x200u : 0u);
}

bool write_call_gate(call_gate& made, std::uint32_t at, std::uint32_t site, std::uint32_t target, gate_shape shape) {
    made = call_gate{};
    made.target = target;
    made.site = site;
    made.shape = gate_shape_word(shape);
    return shape.argument_words <= max_gate_argument_words &&
           (shape.jump_on ? write_jump_code(made, at) : write_around_code(made, at, shape));
}

void set_gate_target(call_gate& gate, std::uint32_t target) {
    store_word(gate.target, target);
}

void set_gate_handlers(call_gate& gate, gate_handler before, gate_handler after, void* context) {
    store_word(gate.context, address_of(context));
    store_word(gate.before, address_of(reinterpret_cast<const void*>(before)));
    store_word(gate.after, address_of(reinterpret_cast<const void*>(after)));
}

void set_gate_prelude(call_gate& gate, gate_prelude prelude) {
    store_word(gate.prelude_argument, prelude.argument);
    store_word(gate.prelude, prelude.function);
}

void clear_gate_handlers(call_gate& gate) {
    store_word(gate.before, 0);
    store_word(gate.after, 0);
}

void set_gate_displaced_by(call_gate& gate, std::uint32_t destination) {
    store_word(gate.displaced_by, destination);
}

}  // namespace codepatch
