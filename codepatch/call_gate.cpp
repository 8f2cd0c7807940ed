#include "codepatch/call_gate.h"

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <cwchar>

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
using gate_block = call_gate_block;
using block_record = call_gate_record;

std::uint32_t address_of(const void* p) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

gate_block* make_block() {
    void* memory = VirtualAlloc(nullptr, call_gate_block_size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!memory) return nullptr;
    auto* block = static_cast<gate_block*>(memory);
    std::memcpy(block->magic, call_gate_block_magic, sizeof call_gate_block_magic);
    block->process_id = GetCurrentProcessId();
    block->self = address_of(block);
    DWORD old = 0;
    VirtualProtect(memory, call_gate_block_size, PAGE_EXECUTE_READ, &old);
    return block;
}

struct block_lookup {
    gate_block* block = nullptr;
    gate_block_origin origin = gate_block_origin::none;
};

block_lookup look_up_block() {
    wchar_t name[128];
    call_gate_record_name(name, call_gate_owner, GetCurrentProcessId());
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(block_record), name);
    const bool existed = mapping && GetLastError() == ERROR_ALREADY_EXISTS;
    auto* record = mapping ? static_cast<block_record*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0)) : nullptr;
    block_lookup found;
    if (!record) {
        if (mapping) CloseHandle(mapping);
        if ((found.block = make_block())) found.origin = gate_block_origin::made_unregistered;
        return found;
    }
    if (existed && std::memcmp(record->magic, call_gate_block_magic, sizeof call_gate_block_magic) == 0 &&
        is_call_gate_block(record->address)) {
        found.block = reinterpret_cast<gate_block*>(static_cast<std::uintptr_t>(record->address));
        found.origin = gate_block_origin::found;
    } else if ((found.block = make_block())) {
        std::memcpy(record->magic, call_gate_block_magic, sizeof call_gate_block_magic);
        record->address = address_of(found.block);
        found.origin = gate_block_origin::made;
    }
    UnmapViewOfFile(record);
    // The first handle to the name is never closed: it keeps the name, and
    // with it the way back to the block, after this module is gone. A later
    // load closes the handle it opened.
    if (existed) CloseHandle(mapping);
    return found;
}

// A block's thread slot index is allocated once per process, with the
// block, so that loads and unloads take no index of their own.
void give_thread_slot(gate_block& block) {
    if (block.thread_slot != 0) return;
    const DWORD index = TlsAlloc();
    if (index == TLS_OUT_OF_INDEXES) return;
    const std::uint32_t stored = index + 1;
    protected_write(patch_address(address_of(&block.thread_slot)), &stored, 4, protection::lift);
}

block_lookup& this_load() {
    static block_lookup lookup = [] {
        block_lookup found = look_up_block();
        if (found.block) give_thread_slot(*found.block);
        return found;
    }();
    return lookup;
}

// The calling thread's TLS value at `index`, read from its thread
// environment block (TlsGetValue would clear the last error): slots 0-63 at
// FS:0xE10, the rest in the expansion array that FS:0xF94 points to.
void* read_thread_slot(DWORD index) {
    void* value;
    if (index < 64) {
        __asm__ volatile("movl %%fs:0xE10(,%1,4), %0" : "=r"(value) : "r"(index));
        return value;
    }
    void** expansion;
    __asm__ volatile("movl %%fs:0xF94, %0" : "=r"(expansion));
    return expansion ? expansion[index - 64] : nullptr;
}

void* make_thread_slot(DWORD index) {
    const DWORD last_error = GetLastError();
    void* slot = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, gate_thread_slot_size);
    if (slot && !TlsSetValue(index, slot)) {
        HeapFree(GetProcessHeap(), 0, slot);
        slot = nullptr;
    }
    SetLastError(last_error);
    return slot;
}

std::uint32_t shape_word(gate_shape shape) {
    return shape.argument_words | (shape.callee_removes_arguments ? 0x100u : 0u) | (shape.jump_on ? 0x200u : 0u);
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

const call_gate* existing_call_gate(patch_address site) {
    const gate_block* block = this_load().block;
    if (!block) return nullptr;
    for (std::uint32_t i = 0; i < block->count; ++i)
        if (block->gates[i].site == site.value) return &block->gates[i];
    return nullptr;
}

call_gate* find_call_gate(patch_address site, std::uint32_t target, gate_shape shape) {
    gate_block* block = this_load().block;
    if (!block || shape.argument_words > max_gate_argument_words) return nullptr;
    if (const call_gate* found = existing_call_gate(site))
        return found->shape == shape_word(shape) ? const_cast<call_gate*>(found) : nullptr;
    if (block->count >= sizeof block->gates / sizeof block->gates[0]) return nullptr;
    call_gate& gate = block->gates[block->count];
    call_gate made = {};
    made.target = target;
    made.site = site.value;
    made.shape = shape_word(shape);
    const bool written =
        shape.jump_on ? write_jump_code(made, address_of(&gate)) : write_around_code(made, address_of(&gate), shape);
    if (!written) return nullptr;
    protected_write(patch_address(address_of(&gate)), &made, sizeof made, protection::lift);
    const std::uint32_t count = block->count + 1;
    protected_write(patch_address(address_of(&block->count)), &count, 4, protection::lift);
    flush_instructions(patch_address(address_of(&gate)), sizeof made);
    return &gate;
}

gate_block_origin call_gate_block_origin() {
    return this_load().origin;
}

namespace {

std::uint32_t module_base_of(const void* address) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(address, &info, sizeof info) == 0) return 0;
    return address_of(info.AllocationBase);
}

// Whether `base` is a loaded module other than the caller's that holds
// `mark_size` bytes equal to `mark` at `offset` inside its own image.
bool holds_the_mark(std::uint32_t base, std::uint32_t offset, const std::uint8_t* mark, std::uint32_t mark_size) {
    const auto* at = reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(base));
    HMODULE module = nullptr;
    if (base == 0 || base == module_base_of(mark) || offset < sizeof(IMAGE_DOS_HEADER) ||
        !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(at), &module) ||
        address_of(module) != base)
        return false;
    const patch_address where(base + offset);
    return module_base_of(where.pointer()) == base && is_readable(where, mark_size) &&
           std::memcmp(where.pointer(), mark, mark_size) == 0;
}

// The gates' record of this process, mapped (nullptr when the name is not
// the record's); `handle` must be closed after the view is unmapped.
call_gate_record* map_record(HANDLE& handle) {
    wchar_t name[128];
    call_gate_record_name(name, call_gate_owner, GetCurrentProcessId());
    handle = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name);
    if (!handle) return nullptr;
    auto* record =
        static_cast<call_gate_record*>(MapViewOfFile(handle, FILE_MAP_WRITE, 0, 0, sizeof(call_gate_record)));
    if (record && std::memcmp(record->magic, call_gate_block_magic, sizeof call_gate_block_magic) == 0) return record;
    if (record) UnmapViewOfFile(record);
    CloseHandle(handle);
    handle = nullptr;
    return nullptr;
}

}  // namespace

process_claim claim_process(const std::uint8_t* mark, std::uint32_t mark_size) {
    process_claim claim;
    const gate_block_origin origin = this_load().origin;  // the record exists from here on, unless the name is taken
    if (origin != gate_block_origin::found && origin != gate_block_origin::made) return claim;
    HANDLE handle = nullptr;
    call_gate_record* record = map_record(handle);
    if (!record) return claim;
    const std::uint32_t own = module_base_of(mark);
    if (holds_the_mark(record->claim_module, record->claim_mark, mark, mark_size)) {
        claim.result = claim_result::another_copy;
        claim.holder = record->claim_module;
    } else {
        claim.result =
            record->claim_module == 0 || record->claim_module == own ? claim_result::ours : claim_result::taken_over;
        claim.holder = record->claim_module;
        record->claim_module = own;
        record->claim_mark = address_of(mark) - own;
    }
    UnmapViewOfFile(record);
    CloseHandle(handle);
    return claim;
}

void release_process_claim(const std::uint8_t* mark) {
    HANDLE handle = nullptr;
    call_gate_record* record = map_record(handle);
    if (!record) return;
    if (record->claim_module == module_base_of(mark)) record->claim_module = 0;
    UnmapViewOfFile(record);
    CloseHandle(handle);
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

void* gate_thread_slot() {
    const gate_block* block = this_load().block;
    if (!block || block->thread_slot == 0) return nullptr;
    const DWORD index = block->thread_slot - 1;
    void* slot = read_thread_slot(index);
    return slot ? slot : make_thread_slot(index);
}

gate_range call_gates_made() {
    const gate_block* block = this_load().block;
    gate_range range;
    if (!block) return range;
    range.first = address_of(&block->gates[0]);
    range.last = address_of(&block->gates[block->count]);
    return range;
}

void clear_gate_handlers(call_gate& gate) {
    store_word(gate.before, 0);
    store_word(gate.after, 0);
}

void set_gate_displaced_by(call_gate& gate, std::uint32_t destination) {
    store_word(gate.displaced_by, destination);
}

}  // namespace codepatch
