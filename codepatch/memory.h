// Reads and writes of host memory whatever its page protection.
//
// Every access is bracketed the same way, for exactly the bytes touched:
//   1. VirtualProtect(address, n, PAGE_EXECUTE_READWRITE, &old)
//   2. the access, whether or not step 1 succeeded
//   3. only if step 1 succeeded: VirtualProtect(address, n, old, &scratch)
// Code that is rewritten is followed by flush_instructions. This file,
// memory.cpp and call_gate.cpp (the gates' own block) are the only places of
// the patching layer that talk to the operating system.
#pragma once

#include <cstdint>

#include "codepatch/patch_address.h"

namespace codepatch {

// Lifts the protection of [address, address + size) for the lifetime of the
// object. A size of 0 makes no system call at all.
class protection_bracket {
public:
    protection_bracket(patch_address address, std::uint32_t size);
    ~protection_bracket();
    protection_bracket(const protection_bracket&) = delete;
    protection_bracket& operator=(const protection_bracket&) = delete;

    // True when the protection was lifted (and will be put back).
    bool lifted() const { return lifted_; }

private:
    patch_address address_;
    std::uint32_t size_;
    unsigned long old_protection_ = 0;
    bool lifted_ = false;
};

// Whether a copy lifts the protection of the bytes it touches (lift) or
// relies on the page being open already (keep: no system call at all).
enum class protection { keep, lift };

// Copies size bytes to host memory, bracketed when `mode` is lift.
void protected_write(patch_address address, const void* source, std::uint32_t size, protection mode);
// Copies size bytes out of host memory, bracketed as for protected_write.
void protected_read(patch_address address, void* destination, std::uint32_t size, protection mode);

// Tells the processor that the code in [address, address + size) changed.
void flush_instructions(patch_address address, std::uint32_t size);

std::uint8_t peek_u8(patch_address address);                // 1-byte bracket
std::uint32_t peek_u32(patch_address address);              // 4-byte bracket
void poke_u32(patch_address address, std::uint32_t value);  // 4-byte bracket

// What the memory of a range allows, page by page, as it stands now.
// committed:  every byte lies in committed memory (whatever its protection:
//             a bracket can open a PAGE_NOACCESS or guard page for a read);
// readable:   committed, and a plain load may read every byte (no
//             PAGE_NOACCESS, no guard page);
// writable:   committed, and a plain store may go to every byte;
// executable: committed, and every byte may run as code.
bool is_committed(patch_address address, std::uint32_t size);
bool is_readable(patch_address address, std::uint32_t size);
bool is_writable(patch_address address, std::uint32_t size);
bool is_executable(patch_address address, std::uint32_t size);

// peek_u32 for a word that may not be there: false when the range is not
// committed, or its protection could not be lifted and it is not readable as
// it stands (PAGE_NOACCESS, a guard page).
bool try_peek_u32(patch_address address, std::uint32_t& value);
// The same for `size` bytes. Memory that may be read as it stands is read
// without a bracket (no system call beyond the query).
bool try_read(patch_address address, void* destination, std::uint32_t size);
// poke_u32, only when the word can be written: its protection was lifted, or
// the page is writable as it stands. False (and nothing written) otherwise.
bool try_poke_u32(patch_address address, std::uint32_t value);

// The one contract of the layer: a restorable patch never saves more bytes
// than it can hold. A violation calls the handler (by default: print the
// failed condition and abort). Tests install a handler of their own.
using contract_handler = void (*)(const char* condition);
contract_handler set_contract_handler(contract_handler handler);
[[noreturn]] void contract_violation(const char* condition);

}  // namespace codepatch
