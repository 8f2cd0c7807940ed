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
// runtime's calls of CreateSemaphoreW come here instead of to the import
// (this definition of the import's pointer is linked before the import
// library's), so that the unload can close what the module made.
constexpr int kMaxSemaphores = 8;
HANDLE semaphores[kMaxSemaphores];
LONG semaphoreCount = 0;
bool keepRuntime = false;

HANDLE WINAPI RecordedCreateSemaphoreW(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum, LPCWSTR name) {
    // Looked up at each call (a handful per load): a guarded local static
    // would lock the very mutex whose semaphore is being made.
    using Create = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR);
    const auto create = reinterpret_cast<Create>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateSemaphoreW")));
    HANDLE made = create ? create(attributes, initial, maximum, name) : nullptr;
    if (made && !name) {
        const LONG slot = InterlockedIncrement(&semaphoreCount) - 1;
        if (slot < kMaxSemaphores) semaphores[slot] = made;
    }
    return made;
}

// Constructed before every other static object of the plugin, so destroyed
// after them all: the last thing an unload does is hand the runtime's
// emergency exception pool back and close the runtime's semaphores. Without
// it, every load and unload by a plugin manager would leave them behind.
struct RuntimeRelease {
    ~RuntimeRelease() {
        if (keepRuntime) return;
        __gnu_cxx::__freeres();
        const LONG made = semaphoreCount < kMaxSemaphores ? semaphoreCount : kMaxSemaphores;
        for (LONG i = 0; i < made; ++i) CloseHandle(semaphores[i]);
    }
};
RuntimeRelease runtimeRelease __attribute__((init_priority(101)));

}  // namespace

// The import's pointer, under the name the runtime's code calls through.
extern "C" void* const recordedCreateSemaphoreW __asm__("__imp__CreateSemaphoreW@16");
void* const recordedCreateSemaphoreW = reinterpret_cast<void*>(&RecordedCreateSemaphoreW);

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
