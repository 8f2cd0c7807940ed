#include "codepatch/call_gate.h"

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <cwchar>

#include "codepatch/memory.h"

namespace codepatch {

namespace {

constexpr char block_magic[16] = "codepatch gates";
constexpr std::uint32_t block_size = 4096;
static_assert(sizeof(call_gate_block) <= block_size, "one page");
using gate_block = call_gate_block;
using block_record = call_gate_record;

std::uint32_t address_of(const void* p) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

// True when `address` is a block that this process made: private committed
// executable memory that starts there and says so. A name that something
// else took can hold any address; this is what keeps us from writing to it.
bool is_gate_block(std::uint32_t address) {
    const void* at = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address));
    MEMORY_BASIC_INFORMATION info;
    if (address == 0 || VirtualQuery(at, &info, sizeof info) == 0) return false;
    if (info.State != MEM_COMMIT || info.Type != MEM_PRIVATE || info.AllocationBase != at ||
        info.RegionSize < block_size || info.Protect != PAGE_EXECUTE_READ)
        return false;
    const auto* block = static_cast<const gate_block*>(at);
    return std::memcmp(block->magic, block_magic, sizeof block_magic) == 0 &&
           block->process_id == GetCurrentProcessId() && block->self == address;
}

gate_block* make_block() {
    void* memory = VirtualAlloc(nullptr, block_size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!memory) return nullptr;
    auto* block = static_cast<gate_block*>(memory);
    std::memcpy(block->magic, block_magic, sizeof block_magic);
    block->process_id = GetCurrentProcessId();
    block->self = address_of(block);
    DWORD old = 0;
    VirtualProtect(memory, block_size, PAGE_EXECUTE_READ, &old);
    return block;
}

struct block_lookup {
    gate_block* block = nullptr;
    gate_block_origin origin = gate_block_origin::none;
};

block_lookup look_up_block() {
    wchar_t name[128];
    std::swprintf(name, 128, L"Local\\%ls.gates.%lu", call_gate_owner, GetCurrentProcessId());
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(block_record), name);
    const bool existed = mapping && GetLastError() == ERROR_ALREADY_EXISTS;
    auto* record = mapping ? static_cast<block_record*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0)) : nullptr;
    block_lookup found;
    if (!record) {
        if (mapping) CloseHandle(mapping);
        found.block = make_block();
        found.origin = gate_block_origin::made_unregistered;
        return found;
    }
    if (existed && std::memcmp(record->magic, block_magic, sizeof block_magic) == 0 && is_gate_block(record->address)) {
        found.block = reinterpret_cast<gate_block*>(static_cast<std::uintptr_t>(record->address));
        found.origin = gate_block_origin::found;
    } else if ((found.block = make_block())) {
        std::memcpy(record->magic, block_magic, sizeof block_magic);
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

block_lookup& this_load() {
    static block_lookup lookup = look_up_block();
    return lookup;
}

}  // namespace

call_gate* find_call_gate(patch_address site) {
    gate_block* block = this_load().block;
    if (!block) return nullptr;
    for (std::uint32_t i = 0; i < block->count; ++i)
        if (block->gates[i].site == site.value) return &block->gates[i];
    if (block->count >= sizeof block->gates / sizeof block->gates[0]) return nullptr;
    call_gate made = {};
    made.jump[0] = 0xFF;
    made.jump[1] = 0x25;
    call_gate& gate = block->gates[block->count];
    const std::uint32_t slot = address_of(&gate.target);
    std::memcpy(made.jump + 2, &slot, 4);
    made.fill[0] = made.fill[1] = 0xCC;
    made.site = site.value;
    protected_write(patch_address(address_of(&gate)), &made, sizeof made, protection::lift);
    const std::uint32_t count = block->count + 1;
    protected_write(patch_address(address_of(&block->count)), &count, 4, protection::lift);
    flush_instructions(patch_address(address_of(&gate)), sizeof made);
    return &gate;
}

gate_block_origin call_gate_block_origin() {
    return this_load().origin;
}

std::uint32_t gate_address(const call_gate& gate) {
    return address_of(&gate);
}

void set_gate_target(call_gate& gate, std::uint32_t target) {
    protection_bracket bracket(patch_address(address_of(&gate.target)), 4);
    __atomic_store_n(&gate.target, target, __ATOMIC_SEQ_CST);
}

void set_gate_shared(call_gate& gate, bool shared) {
    const std::uint32_t value = shared ? 1 : 0;
    protected_write(patch_address(address_of(&gate.shared)), &value, 4, protection::lift);
}

}  // namespace codepatch
