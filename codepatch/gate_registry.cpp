#include "codepatch/gate_registry.h"

#include <windows.h>

#include <cstddef>
#include <cstring>

#include "codepatch/memory.h"

namespace codepatch {

namespace {

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

block_lookup look_up_block(const wchar_t* owner) {
    wchar_t name[128];
    call_gate_record_name(name, owner, GetCurrentProcessId());
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

}  // namespace

gate_registry::gate_registry(const wchar_t* owner) {
    for (std::size_t i = 0; i + 1 < sizeof owner_ / sizeof owner_[0] && owner[i]; ++i) owner_[i] = owner[i];
}

void gate_registry::look_up() const {
    if (looked_up_) return;
    looked_up_ = true;
    const block_lookup found = look_up_block(owner_);
    block_ = found.block;
    origin_ = found.origin;
    if (block_) give_thread_slot(*block_);
}

const call_gate* gate_registry::existing(patch_address site) const {
    look_up();
    if (!block_) return nullptr;
    for (std::uint32_t i = 0; i < block_->count; ++i)
        if (block_->gates[i].site == site.value) return &block_->gates[i];
    return nullptr;
}

call_gate* gate_registry::find(patch_address site, std::uint32_t target, gate_shape shape) {
    look_up();
    if (!block_) return nullptr;
    if (const call_gate* found = existing(site))
        return found->shape == gate_shape_word(shape) ? const_cast<call_gate*>(found) : nullptr;
    if (block_->count >= sizeof block_->gates / sizeof block_->gates[0]) return nullptr;
    call_gate& gate = block_->gates[block_->count];
    call_gate made;
    if (!write_call_gate(made, address_of(&gate), site.value, target, shape)) return nullptr;
    protected_write(patch_address(address_of(&gate)), &made, sizeof made, protection::lift);
    const std::uint32_t count = block_->count + 1;
    protected_write(patch_address(address_of(&block_->count)), &count, 4, protection::lift);
    flush_instructions(patch_address(address_of(&gate)), sizeof made);
    return &gate;
}

gate_block_origin gate_registry::origin() const {
    look_up();
    return origin_;
}

gate_range gate_registry::made() const {
    gate_range range;
    if (!looked_up_ || !block_) return range;
    range.first = address_of(&block_->gates[0]);
    range.last = address_of(&block_->gates[block_->count]);
    return range;
}

void* gate_registry::thread_slot() const {
    const gate_block* block = block_;
    if (!block || block->thread_slot == 0) return nullptr;
    const DWORD index = block->thread_slot - 1;
    void* slot = read_thread_slot(index);
    return slot ? slot : make_thread_slot(index);
}

}  // namespace codepatch
