#include "codepatch/memory.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace codepatch {

protection_bracket::protection_bracket(patch_address address, std::uint32_t size) : address_(address), size_(size) {
    if (size_ == 0) return;
    DWORD old = 0;
    lifted_ = VirtualProtect(address_.pointer(), size_, PAGE_EXECUTE_READWRITE, &old) != 0;
    old_protection_ = old;
}

protection_bracket::~protection_bracket() {
    if (!lifted_) return;
    DWORD scratch = 0;
    VirtualProtect(address_.pointer(), size_, static_cast<DWORD>(old_protection_), &scratch);
}

void protected_write(patch_address address, const void* source, std::uint32_t size, protection mode) {
    protection_bracket bracket(address, mode == protection::lift ? size : 0);
    if (size != 0) std::memcpy(address.pointer(), source, size);
}

void protected_read(patch_address address, void* destination, std::uint32_t size, protection mode) {
    protection_bracket bracket(address, mode == protection::lift ? size : 0);
    if (size != 0) std::memcpy(destination, address.pointer(), size);
}

void flush_instructions(patch_address address, std::uint32_t size) {
    FlushInstructionCache(GetCurrentProcess(), address.pointer(), size);
}

std::uint8_t peek_u8(patch_address address) {
    protection_bracket bracket(address, 1);
    return *static_cast<const volatile std::uint8_t*>(address.pointer());
}

std::uint32_t peek_u32(patch_address address) {
    protection_bracket bracket(address, 4);
    std::uint32_t value;
    std::memcpy(&value, address.pointer(), 4);
    return value;
}

void poke_u32(patch_address address, std::uint32_t value) {
    protection_bracket bracket(address, 4);
    std::memcpy(address.pointer(), &value, 4);
}

namespace {

constexpr DWORD writable_protections =
    PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
constexpr DWORD executable_protections =
    PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

// True when every region the range touches is committed and `allowed` by
// its protection (null: any protection).
template <typename Allowed>
bool every_region(patch_address address, std::uint32_t size, Allowed allowed) {
    std::uint64_t at = address.value;
    const std::uint64_t end = at + (size ? size : 1);
    while (at < end) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(at)), &info, sizeof info) == 0)
            return false;
        if (info.State != MEM_COMMIT || !allowed(info.Protect)) return false;
        at = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
    }
    return true;
}

}  // namespace

bool is_committed(patch_address address, std::uint32_t size) {
    return every_region(address, size, [](DWORD) { return true; });
}

bool is_readable(patch_address address, std::uint32_t size) {
    return every_region(address, size, [](DWORD protect) { return (protect & (PAGE_NOACCESS | PAGE_GUARD)) == 0; });
}

bool is_writable(patch_address address, std::uint32_t size) {
    return every_region(address, size, [](DWORD protect) {
        return (protect & writable_protections) != 0 && (protect & PAGE_GUARD) == 0;
    });
}

bool is_executable(patch_address address, std::uint32_t size) {
    return every_region(address, size, [](DWORD protect) {
        return (protect & executable_protections) != 0 && (protect & PAGE_GUARD) == 0;
    });
}

bool try_read(patch_address address, void* destination, std::uint32_t size) {
    if (!is_committed(address, size)) return false;
    // Readable memory is read as it stands; the rest inside a bracket.
    if (!is_readable(address, size)) {
        protection_bracket bracket(address, size);
        if (!bracket.lifted()) return false;
        std::memcpy(destination, address.pointer(), size);
        return true;
    }
    std::memcpy(destination, address.pointer(), size);
    return true;
}

bool try_peek_u32(patch_address address, std::uint32_t& value) {
    return try_read(address, &value, 4);
}

bool try_poke_u32(patch_address address, std::uint32_t value) {
    protection_bracket bracket(address, 4);
    if (!bracket.lifted() && !is_writable(address, 4)) return false;
    std::memcpy(address.pointer(), &value, 4);
    return true;
}

namespace {
void default_contract_handler(const char* condition) {
    std::fprintf(stderr, "Assertion failed: %s\n", condition);
    std::fflush(stderr);
}
contract_handler current_handler = default_contract_handler;
}  // namespace

contract_handler set_contract_handler(contract_handler handler) {
    contract_handler previous = current_handler;
    current_handler = handler ? handler : default_contract_handler;
    return previous;
}

void contract_violation(const char* condition) {
    current_handler(condition);
    std::abort();
}

}  // namespace codepatch
