// The demonstration: the real plugin DLL in the stand-in host.
#include <cstdio>

#include "host/HostBuild.h"
#include "standin_host/standin.h"

extern "C" __declspec(dllexport) int standin_module_main(int, char**) {
    standin::ResetHost(1001);
    std::printf("placeholder\n");
    return 0;
}
