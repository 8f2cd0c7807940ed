// The gates' page, as any module of the process can recognise it.
#include <windows.h>

#include <cstring>

#include "codepatch/call_gate.h"

namespace codepatch {

namespace {

std::uint32_t address_of(const void* p) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

}  // namespace

bool is_call_gate_block(std::uint32_t address) {
    const void* at = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address));
    MEMORY_BASIC_INFORMATION info;
    if (address == 0 || VirtualQuery(at, &info, sizeof info) == 0) return false;
    if (info.State != MEM_COMMIT || info.Type != MEM_PRIVATE || info.AllocationBase != at ||
        info.RegionSize < call_gate_block_size || info.Protect != PAGE_EXECUTE_READ)
        return false;
    const auto* block = static_cast<const call_gate_block*>(at);
    return std::memcmp(block->magic, call_gate_block_magic, sizeof call_gate_block_magic) == 0 &&
           block->process_id == GetCurrentProcessId() && block->self == address;
}

const call_gate* call_gate_at(std::uint32_t address) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)), &info, sizeof info) == 0)
        return nullptr;
    const std::uint32_t base = address_of(info.AllocationBase);
    if (!is_call_gate_block(base)) return nullptr;
    const auto* block = reinterpret_cast<const call_gate_block*>(static_cast<std::uintptr_t>(base));
    for (std::uint32_t i = 0; i < block->count && i < sizeof block->gates / sizeof block->gates[0]; ++i)
        if (gate_address(block->gates[i]) == address) return &block->gates[i];
    return nullptr;
}

}  // namespace codepatch
