#include "codepatch/gate_drain.h"

#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>

#include "codepatch/gate_registry.h"

namespace codepatch {

namespace {

constexpr std::uint32_t frame_mark = 0x6A7E5EED;  // MARK in gate_stub.S
constexpr std::uint32_t max_threads = 1024;
constexpr std::uint32_t chunk_bytes = 4096;

// NtQueryInformationThread's ThreadBasicInformation (class 0).
struct thread_basic_information {
    LONG exit_status;
    void* teb;
    void* process;
    void* thread;
    ULONG_PTR affinity;
    LONG priority;
    LONG base_priority;
};
using query_thread_function = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);

query_thread_function query_thread() {
    static const auto function = reinterpret_cast<query_thread_function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
    return function;
}

// Memory of another thread may go at any moment (the thread ends, and its
// stack and information block with it), so it is read by a copy whose fault
// is a failure: a vectored handler, while the drain runs, sends a fault at
// the copy's one reading instruction to the copy's failure exit.
// ReadProcessMemory would do the same through the system, but Wine's
// server cannot read a process that runs under an emulator.
extern "C" int __cdecl codepatch_guarded_copy(void* to, const void* from, std::uint32_t words);
extern "C" const std::uint8_t codepatch_guarded_copy_read[];
extern "C" const std::uint8_t codepatch_guarded_copy_fault[];
__asm__(
    ".text\n"
    "_codepatch_guarded_copy:\n"
    "    push %esi\n"
    "    push %edi\n"
    "    mov 12(%esp), %edi\n"
    "    mov 16(%esp), %esi\n"
    "    mov 20(%esp), %ecx\n"
    "    cld\n"
    "_codepatch_guarded_copy_read:\n"
    "    rep movsl\n"
    "    mov $1, %eax\n"
    "    pop %edi\n"
    "    pop %esi\n"
    "    ret\n"
    "_codepatch_guarded_copy_fault:\n"
    "    xor %eax, %eax\n"
    "    pop %edi\n"
    "    pop %esi\n"
    "    ret\n");

LONG CALLBACK copy_fault_handler(EXCEPTION_POINTERS* exception) {
    const DWORD code = exception->ExceptionRecord->ExceptionCode;
    if ((code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_IN_PAGE_ERROR &&
         code != STATUS_GUARD_PAGE_VIOLATION) ||
        exception->ContextRecord->Eip != reinterpret_cast<std::uintptr_t>(codepatch_guarded_copy_read))
        return EXCEPTION_CONTINUE_SEARCH;
    exception->ContextRecord->Eip = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(codepatch_guarded_copy_fault));
    return EXCEPTION_CONTINUE_EXECUTION;
}

// For the drain's lifetime: faults of the guarded copy are failures.
class copy_fault_scope {
public:
    copy_fault_scope() : handler_(AddVectoredExceptionHandler(1, &copy_fault_handler)) {}
    ~copy_fault_scope() {
        if (handler_) RemoveVectoredExceptionHandler(handler_);
    }
    copy_fault_scope(const copy_fault_scope&) = delete;
    copy_fault_scope& operator=(const copy_fault_scope&) = delete;
    bool active() const { return handler_ != nullptr; }

private:
    void* handler_;
};

// Reads whole words; never touches a guard page (the first touch would take
// the guard away from the thread whose stack it guards).
bool read_memory(std::uint32_t address, void* into, std::uint32_t size) {
    const void* from = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address));
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(from, &info, sizeof info) == 0 || info.State != MEM_COMMIT ||
        (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0 ||
        address + size > static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(info.BaseAddress)) +
                             static_cast<std::uint32_t>(info.RegionSize))
        return false;
    return codepatch_guarded_copy(into, from, size / 4) != 0;
}

bool has_ended(HANDLE thread) {
    return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

enum class thread_state { outside, inside, not_inspected };

struct watched_thread {
    HANDLE handle = nullptr;
    std::uint32_t stack_low = 0, stack_high = 0;
};

// Opens thread `id` and finds its stack from its thread information block
// (NT_TIB: StackBase at +4, StackLimit at +8).
thread_state watch(DWORD id, watched_thread& thread) {
    thread.handle = OpenThread(THREAD_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id);
    if (!thread.handle)
        return GetLastError() == ERROR_INVALID_PARAMETER ? thread_state::outside  // gone meanwhile
                                                         : thread_state::not_inspected;
    thread_basic_information basic = {};
    std::uint32_t bounds[2] = {};
    if (query_thread() && query_thread()(thread.handle, 0, &basic, sizeof basic, nullptr) >= 0 &&
        read_memory(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(basic.teb)) + 4, bounds,
                    sizeof bounds) &&
        bounds[1] < bounds[0]) {
        thread.stack_high = bounds[0];
        thread.stack_low = bounds[1];
        return thread_state::inside;  // to be looked at
    }
    return has_ended(thread.handle) ? thread_state::outside : thread_state::not_inspected;
}

// Whether the thread's stack holds the mark of one of `gates`. The gates
// write the mark as an aligned pair of words, the gate's address first, so
// it never straddles a page. Reads from StackLimit up only: below it lies
// the guard page, which a read would take away.
thread_state look_at(const watched_thread& thread, gate_range gates) {
    std::uint32_t words[chunk_bytes / 4];
    for (std::uint32_t at = thread.stack_low & ~(chunk_bytes - 1); at < thread.stack_high; at += chunk_bytes) {
        const std::uint32_t from = at < thread.stack_low ? thread.stack_low : at;
        const std::uint32_t to = at + chunk_bytes < thread.stack_high ? at + chunk_bytes : thread.stack_high;
        if (!read_memory(from, words, to - from))
            return has_ended(thread.handle) ? thread_state::outside : thread_state::not_inspected;
        for (std::uint32_t i = 0; i + 1 < (to - from) / 4; ++i)
            if (words[i + 1] == frame_mark && words[i] >= gates.first && words[i] < gates.last)
                return thread_state::inside;
    }
    return thread_state::outside;
}

double milliseconds_since(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// The threads of the process but this one, as a snapshot lists them. Threads
// that start later run no handler: they start after the clear.
class other_threads {
public:
    other_threads() {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        if (snapshot == INVALID_HANDLE_VALUE) return;
        THREADENTRY32 entry;
        entry.dwSize = sizeof entry;
        const DWORD process = GetCurrentProcessId(), self = GetCurrentThreadId();
        for (BOOL more = Thread32First(snapshot, &entry); more && count_ < max_threads;
             more = Thread32Next(snapshot, &entry))
            if (entry.th32OwnerProcessID == process && entry.th32ThreadID != self) ids_[count_++] = entry.th32ThreadID;
        CloseHandle(snapshot);
        listed_ = true;
    }
    bool listed() const { return listed_; }
    std::uint32_t count() const { return count_; }
    DWORD operator[](std::uint32_t i) const { return ids_[i]; }

private:
    DWORD ids_[max_threads];
    std::uint32_t count_ = 0;
    bool listed_ = false;
};

}  // namespace

gate_drain drain_call_gates(const gate_registry& registry, std::uint32_t bound_milliseconds) {
    gate_drain drain;
    const gate_range gates = registry.made();
    if (gates.first == gates.last) return drain;
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    FlushProcessWriteBuffers();
    const copy_fault_scope faults;
    const other_threads ids;
    if (!ids.listed() || !faults.active()) {
        drain.threads_not_inspected = 1;  // no thread could be listed at all
        drain.milliseconds = milliseconds_since(start);
        return drain;
    }
    watched_thread threads[max_threads];
    std::uint32_t count = 0;
    for (std::uint32_t i = 0; i < ids.count(); ++i) {
        watched_thread& thread = threads[count];
        switch (watch(ids[i], thread)) {
            case thread_state::inside:
                ++count;
                continue;
            case thread_state::not_inspected:
                ++drain.threads_not_inspected;
                break;
            case thread_state::outside:
                break;
        }
        if (thread.handle) CloseHandle(thread.handle);
        thread = watched_thread{};
    }
    // Threads found inside are looked at again until they are out: a
    // handler neither blocks nor calls the game, so that is soon.
    for (bool first = true;; first = false) {
        std::uint32_t kept = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            const thread_state state = look_at(threads[i], gates);
            if (state == thread_state::inside) {
                threads[kept++] = threads[i];
                continue;
            }
            if (state == thread_state::not_inspected) ++drain.threads_not_inspected;
            CloseHandle(threads[i].handle);
        }
        count = kept;
        if (first) drain.threads_waited_for = count;
        if (count == 0) break;
        if (milliseconds_since(start) >= bound_milliseconds) {
            drain.threads_still_inside = count;
            for (std::uint32_t i = 0; i < count; ++i) CloseHandle(threads[i].handle);
            break;
        }
        Sleep(1);
    }
    drain.milliseconds = milliseconds_since(start);
    return drain;
}

}  // namespace codepatch
