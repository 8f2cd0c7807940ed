#include "host/HostBuild.h"

#include <windows.h>

#include "codepatch/memory.h"

bool LoadedImage::Read(std::uint32_t address, void* into, std::uint32_t size) const {
    return codepatch::try_read(codepatch::patch_address(address), into, size);
}

bool LoadedImage::Executable(std::uint32_t address) const {
    return codepatch::is_executable(codepatch::patch_address(address), 1);
}

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
    return host::FindBuildProbe(LoadedImage(imageBase, GetHostImageSize()));
}

HostBuild DetectHostBuild() {
    const int index = FindMatchingBuildProbe(GetHostImageBase());
    return index < 0 ? 0 : host::kBuildProbes[index].build;
}

HostBuild GetHostBuild() {
    static const HostBuild build = DetectHostBuild();
    return build;
}
