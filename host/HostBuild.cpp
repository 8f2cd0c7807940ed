#include "host/HostBuild.h"

#include <windows.h>

#include "codepatch/memory.h"

std::uint32_t GetHostImageBase() {
    static const std::uint32_t base =
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)));
    return base;
}

std::uint32_t RebaseHostAddress(host::Address address) {
    return RebaseHostAddressFrom(GetHostImageBase(), address);
}

int FindMatchingBuildProbe(std::uint32_t imageBase) {
    int index = 0;
    for (const host::BuildProbe& probe : host::kBuildProbes) {
        const codepatch::patch_address at(RebaseHostAddressFrom(imageBase, probe.address));
        if (codepatch::is_readable(at, 4) && codepatch::peek_u32(at) == probe.expected) return index;
        ++index;
    }
    return -1;
}

HostBuild DetectHostBuild() {
    const int index = FindMatchingBuildProbe(GetHostImageBase());
    return index < 0 ? 0 : host::kBuildProbes[index].build;
}

HostBuild GetHostBuild() {
    static const HostBuild build = DetectHostBuild();
    return build;
}

std::uint32_t SelectAddressByBuild(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t e,
                                   std::uint32_t f) {
    return SelectForBuild(GetHostBuild(), a, b, c, d, e, f);
}

std::uint32_t SelectForBuild(HostBuild build, std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                             std::uint32_t e, std::uint32_t f) {
    switch (build) {
        case 1001:
        case 1002:
            return a;
        case 1011:
            return b;
        case 1101:
            return c;
        case 1111:
            return d;
        case 3200:
            return e;
        case 3210:
            return f;
        default:
            return 0;
    }
}
