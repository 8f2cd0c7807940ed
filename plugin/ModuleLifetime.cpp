#include "plugin/ModuleLifetime.h"

#include <windows.h>

// The C++ runtime's own release of its emergency exception pool (about
// 19 KB, which it never frees by itself).
namespace __gnu_cxx {
void __freeres();
}

namespace {

// Set when the process is ending (DLL_PROCESS_DETACH with a non-null
// reserved argument).
bool processExiting = false;

// The C++ runtime's static mutexes (the exception pool's, the one that
// guards the initialisation of local statics) each make a semaphore that
// nothing ever closes: two handles lost at every load and unload. The
// module's calls of CreateSemaphoreW and CloseHandle come here instead of
// to the imports (these definitions of the imports' pointers are linked
// before the import library's), so that the unload can close what the
// module made and has not closed itself: a handle closed once is a number
// the system hands out again, maybe to another module's file.
constexpr int kMaxSemaphores = 8;
HANDLE semaphores[kMaxSemaphores];
bool keepRuntime = false;

// The system's functions, found at first use (no guarded static: its guard
// would lock the very mutex whose semaphore is being made).
template <typename Function>
Function Kernel32(Function& cache, const char* name) {
    if (!cache)
        cache = reinterpret_cast<Function>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
    return cache;
}
HANDLE(WINAPI* createSemaphore)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR) = nullptr;
BOOL(WINAPI* closeHandle)(HANDLE) = nullptr;

HANDLE WINAPI RecordedCreateSemaphoreW(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum, LPCWSTR name) {
    const auto create = Kernel32(createSemaphore, "CreateSemaphoreW");
    HANDLE made = create ? create(attributes, initial, maximum, name) : nullptr;
    if (made && !name)
        for (HANDLE& slot : semaphores)
            if (InterlockedCompareExchangePointer(&slot, made, nullptr) == nullptr) break;
    return made;
}

BOOL WINAPI RecordedCloseHandle(HANDLE handle) {
    for (HANDLE& slot : semaphores) InterlockedCompareExchangePointer(&slot, nullptr, handle);
    const auto close = Kernel32(closeHandle, "CloseHandle");
    return close ? close(handle) : FALSE;
}

// Constructed before every other static object of the plugin, so destroyed
// after them all: the last thing an unload does is hand the runtime's
// emergency exception pool back and close the runtime's semaphores that are
// still open. Without it, every load and unload by a plugin manager would
// leave them behind.
struct RuntimeRelease {
    ~RuntimeRelease() {
        if (keepRuntime) return;
        __gnu_cxx::__freeres();
        for (HANDLE& slot : semaphores)
            if (HANDLE open = InterlockedExchangePointer(&slot, nullptr)) RecordedCloseHandle(open);
    }
};
RuntimeRelease runtimeRelease __attribute__((init_priority(101)));

}  // namespace

// The imports' pointers, under the names the module's code calls through.
extern "C" void* const recordedCreateSemaphoreW __asm__("__imp__CreateSemaphoreW@16");
void* const recordedCreateSemaphoreW = reinterpret_cast<void*>(&RecordedCreateSemaphoreW);
extern "C" void* const recordedCloseHandle __asm__("__imp__CloseHandle@4");
void* const recordedCloseHandle = reinterpret_cast<void*>(&RecordedCloseHandle);

void KeepRuntimeResources() {
    keepRuntime = true;
}

// The runtime's own entry point calls this before it destroys the module's
// global objects.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved) processExiting = true;
    return TRUE;
}

bool ProcessIsExiting() {
    return processExiting;
}
