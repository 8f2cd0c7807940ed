// standin-host.exe: a 32-bit executable whose own image covers the host's
// address range at the preferred base 0x400000, so that the plugin finds real
// host code and data at the addresses it patches, probes and calls.
//
//   standin-host.exe MODULE.dll [arguments...]
//
// loads MODULE.dll the way the game loads its modules and runs its exported
// `standin_module_main(argc, argv)` with MODULE.dll as argv[0]. Test suites and
// the demonstration are such modules; they drive the host image through the
// stand-in library (Standin.h). Its last line of output is always
// "standin-host: finished, status N", N being the module's result.
#include <windows.h>

#include <cstdio>

#include "standin_host/HostImage.h"

// 0x401000 is the first build probe: the first bytes of the executable's code.
// The linker puts .init ahead of all other code, so these 16 bytes are the
// probe word a test overwrites.
__attribute__((section(".init"), used)) static const unsigned char probeArea[16] = {0xC3};

// Everything from here to the end of the array stands for the host's own code
// and data. The array is zero; tests write host code and data into it.
__attribute__((section(".hostimg"), aligned(4096), used)) static unsigned char hostImage[0x530000];

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
#ifdef STANDIN_MOVED_IMAGE
    // Linked away from the host's base, as a moved game image would be: the
    // host's fixed addresses hold nothing of it, and nothing is set up there.
    if (reinterpret_cast<std::uintptr_t>(probeArea) == standin::kProbeAreaAddress) {
        std::fprintf(stderr, "standin-host: this build should not load at the host's base\n");
        return 3;
    }
#else
    const auto begin = reinterpret_cast<std::uintptr_t>(hostImage);
    const auto end = begin + sizeof hostImage;
    if (reinterpret_cast<std::uintptr_t>(probeArea) != standin::kProbeAreaAddress || begin > standin::kHostRangeBegin ||
        end < standin::kHostRangeEnd) {
        std::fprintf(stderr, "standin-host: image does not cover the host range (probe %p, image %p..%p)\n",
                     static_cast<const void*>(probeArea), static_cast<void*>(hostImage),
                     static_cast<void*>(hostImage + sizeof hostImage));
        return 3;
    }
    // Host code pages are executable and read-only, as in the real host; the
    // rest of the image is plain read-write data.
    DWORD old = 0;
    VirtualProtect(reinterpret_cast<void*>(standin::kHostCodeBegin), standin::kHostCodeEnd - standin::kHostCodeBegin,
                   PAGE_EXECUTE_READ, &old);
#endif

    if (argc < 2) {
        std::fprintf(stderr, "usage: standin-host MODULE.dll [arguments...]\n");
        return 2;
    }
    HMODULE module = LoadLibraryA(argv[1]);
    if (!module) {
        std::fprintf(stderr, "standin-host: cannot load %s (error %lu)\n", argv[1], GetLastError());
        return 2;
    }
    using ModuleMain = int (*)(int, char**);
    auto moduleMain =
        reinterpret_cast<ModuleMain>(reinterpret_cast<void*>(GetProcAddress(module, "standin_module_main")));
    if (!moduleMain) {
        std::fprintf(stderr, "standin-host: %s has no standin_module_main\n", argv[1]);
        return 2;
    }
    const int status = moduleMain(argc - 1, argv + 1);
    // The last line, always: a run that does not end with it was cut short
    // (under Wine, a program whose wineserver is stopped under it exits 0).
    std::printf("standin-host: finished, status %d\n", status);
    std::fflush(stdout);
    std::fflush(stderr);
    // Leave without unloading the module: its exit-time code may depend on a
    // host state the module changed. ExitProcess runs every detach handler.
    ExitProcess(static_cast<UINT>(status));
}
