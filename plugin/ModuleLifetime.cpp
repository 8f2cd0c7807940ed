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

// Constructed before every other static object of the plugin, so destroyed
// after them all: the last thing an unload does is hand the runtime's
// emergency exception pool back. Without it, every load and unload by a
// plugin manager would leave that pool behind in the process.
struct RuntimeRelease {
    ~RuntimeRelease() { __gnu_cxx::__freeres(); }
};
RuntimeRelease runtimeRelease __attribute__((init_priority(101)));

}  // namespace

// The runtime's own entry point calls this before it destroys the module's
// global objects.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved) processExiting = true;
    return TRUE;
}

bool ProcessIsExiting() {
    return processExiting;
}
