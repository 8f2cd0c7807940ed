#include "plugin/AimSettings.h"

#include <windows.h>

#include <cstring>

#include "codepatch/memory.h"
#include "host/HostBuild.h"
#include "host/PluginPaths.h"
#include "plugin/SettingsReader.h"

AimSettings aimSettings = {};

namespace {

std::size_t ReadFromHandle(void* context, char* buffer, std::size_t size) {
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(context), buffer, static_cast<DWORD>(size), &got, nullptr)) return 0;
    return got;
}

float* HostFloat(host::Address address, void*) {
    return reinterpret_cast<float*>(static_cast<std::uintptr_t>(address));
}

void WriteCodeConstant(std::uint32_t bits, void*) {
    codepatch::poke_u32(codepatch::patch_address(RebaseHostAddress(host::kAimCodeConstant)), bits);
}

void PublishAimRows(const float (*rows)[settings::kAimRowLength], int count, void*) {
    std::memcpy(reinterpret_cast<void*>(static_cast<std::uintptr_t>(host::kAimBlock)), rows,
                static_cast<std::size_t>(count) * sizeof rows[0]);
}

}  // namespace

void LoadAimSettings() {
    const char* path = SettingsFilePath();
    if (path[0] == '\0') return;
    // Every sharing mode: an editor may write, replace or delete the file
    // while the host holds it open for the length of one load.
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    settings::LineReader reader(&ReadFromHandle, file);
    const settings::SettingsTarget target = {
        &aimSettings.reloadEveryFrame,
        aimSettings.aimRows,
        aimSettings.weaponOffsets,
        &HostFloat,
        &WriteCodeConstant,
        &PublishAimRows,
        nullptr,
        nullptr,
    };
    settings::ApplySettings(reader, target);
    CloseHandle(file);
}
