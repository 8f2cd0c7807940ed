#include "codepatch/call_gate.h"

#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <cstddef>
#include <cstring>
#include <cwchar>

#include "codepatch/memory.h"

// gate_stub.S
extern "C" const std::uint8_t codepatch_gate_stub_begin[];
extern "C" const std::uint8_t codepatch_gate_stub_copy[];
extern "C" const std::uint8_t codepatch_gate_stub_return[];
extern "C" const std::uint8_t codepatch_gate_stub_end[];

namespace codepatch {

namespace {

constexpr char block_magic[16] = "codepatch gate2";
constexpr std::uint32_t block_size = 4096;
constexpr std::uint32_t placeholder_base = 0x7A7E0000;  // GATE in gate_stub.S
constexpr std::uint32_t frame_mark = 0x6A7E5EED;        // MARK in gate_stub.S
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

std::uint32_t shape_word(gate_shape shape) {
    return shape.argument_words | (shape.callee_removes_arguments ? 0x100u : 0u);
}

// The gate's code: the stub with this gate's addresses in place of the
// placeholders, one push per argument where the stub is cut, and a `ret`
// that removes the arguments where the callee does.
void write_gate_code(call_gate& made, std::uint32_t gate, gate_shape shape) {
    const std::size_t cut = static_cast<std::size_t>(codepatch_gate_stub_copy - codepatch_gate_stub_begin);
    const std::size_t rest = static_cast<std::size_t>(codepatch_gate_stub_end - codepatch_gate_stub_copy);
    const std::size_t copies = 3 * shape.argument_words;
    static_assert(sizeof made.code >= 0xA8 + 3 * max_gate_argument_words, "room for gate_stub.S (0xA5 bytes)");
    std::memcpy(made.code, codepatch_gate_stub_begin, cut);
    for (std::uint32_t k = shape.argument_words; k >= 1; --k) {
        std::uint8_t* push = made.code + cut + 3 * (shape.argument_words - k);
        push[0] = 0xFF;  // push dword ptr [ebp + 4 + 4k]
        push[1] = 0x75;
        push[2] = static_cast<std::uint8_t>(4 + 4 * k);
    }
    std::memcpy(made.code + cut + copies, codepatch_gate_stub_copy, rest);
    const std::size_t size = cut + copies + rest;
    std::memset(made.code + size, 0xCC, sizeof made.code - size);
    const auto patch_placeholders = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i + 4 <= to; ++i) {
            std::uint32_t word;
            std::memcpy(&word, made.code + i, 4);
            if (word - placeholder_base < offsetof(call_gate, code)) {
                word = gate + (word - placeholder_base);
                std::memcpy(made.code + i, &word, 4);
                i += 3;
            }
        }
    };
    patch_placeholders(0, cut);
    patch_placeholders(cut + copies, size);
    const std::size_t ret =
        cut + copies + static_cast<std::size_t>(codepatch_gate_stub_return - codepatch_gate_stub_copy);
    const std::uint16_t removed = static_cast<std::uint16_t>(shape.callee_removes_arguments ? copies / 3 * 4 : 0);
    std::memcpy(made.code + ret + 1, &removed, 2);
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
    write_gate_code(made, address_of(&gate), shape);
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
    if (record && std::memcmp(record->magic, block_magic, sizeof block_magic) == 0) return record;
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

std::uint32_t gate_address(const call_gate& gate) {
    return address_of(gate.code);
}

void set_gate_target(call_gate& gate, std::uint32_t target) {
    store_word(gate.target, target);
}

void set_gate_handlers(call_gate& gate, gate_handler before, gate_handler after, void* context) {
    store_word(gate.context, address_of(context));
    store_word(gate.before, address_of(reinterpret_cast<const void*>(before)));
    store_word(gate.after, address_of(reinterpret_cast<const void*>(after)));
}

void clear_gate_handlers(call_gate& gate) {
    store_word(gate.before, 0);
    store_word(gate.after, 0);
}

void set_gate_displaced_by(call_gate& gate, std::uint32_t destination) {
    store_word(gate.displaced_by, destination);
}

namespace {

// Whether the stack of the stopped thread `thread`, from its stack pointer
// up, holds the mark of a gate of `block`.
bool inside_a_handler(HANDLE thread, const gate_block* block) {
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    if (!GetThreadContext(thread, &context)) return false;
    MEMORY_BASIC_INFORMATION info;
    const auto* top = reinterpret_cast<const std::uint32_t*>(static_cast<std::uintptr_t>(context.Esp & ~3u));
    if (VirtualQuery(top, &info, sizeof info) == 0 || info.State != MEM_COMMIT) return false;
    const auto* end =
        reinterpret_cast<const std::uint32_t*>(static_cast<const char*>(info.BaseAddress) + info.RegionSize);
    const std::uint32_t first = address_of(&block->gates[0]);
    const std::uint32_t last = address_of(&block->gates[block->count]);
    for (const std::uint32_t* word = top; word + 1 < end; ++word)
        if (word[1] == frame_mark && word[0] >= first && word[0] < last) return true;
    return false;
}

double milliseconds_since(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

constexpr std::uint32_t max_threads = 1024;

// The ids of the process's other threads, as a snapshot lists them (taken
// before any thread is stopped: nothing here allocates while one is).
std::uint32_t other_threads(DWORD* ids) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    std::uint32_t count = 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    const DWORD process = GetCurrentProcessId(), self = GetCurrentThreadId();
    for (BOOL more = Thread32First(snapshot, &entry); more && count < max_threads;
         more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == process && entry.th32ThreadID != self) ids[count++] = entry.th32ThreadID;
    CloseHandle(snapshot);
    return count;
}

enum class thread_state { outside, inside, not_inspected };

thread_state inspect(DWORD id, const gate_block* block) {
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, id);
    if (!thread) return thread_state::outside;  // gone meanwhile
    thread_state state = thread_state::not_inspected;
    if (SuspendThread(thread) != static_cast<DWORD>(-1)) {
        state = inside_a_handler(thread, block) ? thread_state::inside : thread_state::outside;
        ResumeThread(thread);
    }
    CloseHandle(thread);
    return state;
}

}  // namespace

gate_drain drain_call_gates() {
    gate_drain drain;
    const gate_block* block = this_load().block;
    if (!block || block->count == 0) return drain;
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    static DWORD ids[max_threads];  // one drain at a time: the module's unload
    std::uint32_t count = other_threads(ids);
    bool first_round = true;
    while (count) {
        std::uint32_t kept = 0;
        for (std::uint32_t i = 0; i < count; ++i) switch (inspect(ids[i], block)) {
                case thread_state::inside:
                    ids[kept++] = ids[i];
                    break;
                case thread_state::not_inspected:
                    if (first_round) ++drain.threads_not_inspected;
                    break;
                case thread_state::outside:
                    break;
            }
        if (first_round) drain.threads_waited_for = kept;
        first_round = false;
        count = kept;
        if (count) Sleep(1);
    }
    drain.milliseconds = milliseconds_since(start);
    return drain;
}

}  // namespace codepatch
