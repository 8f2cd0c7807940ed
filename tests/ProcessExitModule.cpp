// Loads the plugin given as the first argument, runs one host frame through
// it and returns without freeing it: the plugin is unloaded by the process's
// exit, as a game that quits unloads it.
#include <windows.h>

#include <cstdio>

#include "standin_host/Standin.h"

extern "C" __declspec(dllexport) int standin_module_main(int argc, char** argv) {
    if (argc < 2) return 2;
    standin::ResetHost(1001);
    if (!LoadLibraryA(argv[1])) {
        std::printf("cannot load %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    standin::RunHostFrame();
    return 0;
}
