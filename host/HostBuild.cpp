#include "host/HostBuild.h"

#include <windows.h>

#include "codepatch/memory.h"

std::uint32_t GetHostImageBase() {
    static const std::uint32_t base =
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)));
    return base;
}

std::uint32_t GetHostImageSize() {
    static const std::uint32_t size = [] {
        const auto* image = reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr));
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image + dos->e_lfanew);
        return static_cast<std::uint32_t>(nt->OptionalHeader.SizeOfImage);
    }();
    return size;
}

std::uint32_t RebaseHostAddress(host::Address address) {
    return RebaseHostAddressFrom(GetHostImageBase(), address);
}

int FindMatchingBuildProbe(std::uint32_t imageBase) {
    int index = 0;
    for (const host::BuildProbe& probe : host::kBuildProbes) {
        const codepatch::patch_address at(RebaseHostAddressFrom(imageBase, probe.address));
        std::uint32_t word = 0;
        if (codepatch::try_peek_u32(at, word) && word == probe.expected) return index;
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
