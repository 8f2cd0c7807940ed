#include "codepatch/process_claim.h"

#include <windows.h>

#include <cstring>

#include "codepatch/memory.h"

namespace codepatch {

namespace {

std::uint32_t address_of(const void* p) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

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
call_gate_record* map_record(const wchar_t* owner, HANDLE& handle) {
    wchar_t name[128];
    call_gate_record_name(name, owner, GetCurrentProcessId());
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

process_claim claim_process(const gate_registry& gates, const std::uint8_t* mark, std::uint32_t mark_size) {
    process_claim claim;
    const gate_block_origin origin = gates.origin();  // the record exists from here on, unless the name is taken
    if (origin != gate_block_origin::found && origin != gate_block_origin::made) return claim;
    HANDLE handle = nullptr;
    call_gate_record* record = map_record(gates.owner(), handle);
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

void release_process_claim(const gate_registry& gates, const std::uint8_t* mark) {
    HANDLE handle = nullptr;
    call_gate_record* record = map_record(gates.owner(), handle);
    if (!record) return;
    if (record->claim_module == module_base_of(mark)) record->claim_module = 0;
    UnmapViewOfFile(record);
    CloseHandle(handle);
}

}  // namespace codepatch
