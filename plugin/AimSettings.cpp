#include "plugin/AimSettings.h"

#include <windows.h>

#include <cstring>

#include "codepatch/memory.h"
#include "host/HostBuild.h"
#include "plugin/PluginPaths.h"
#include "settings/SettingsReader.h"

AimSettings aimSettings = {};

namespace {

std::size_t ReadFromHandle(void* context, char* buffer, std::size_t size) {
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(context), buffer, static_cast<DWORD>(size), &got, nullptr)) return 0;
    return got;
}

template <typename T>
T* HostData(host::Address address) {
    return reinterpret_cast<T*>(static_cast<std::uintptr_t>(address));
}

// The settings' destinations in the host and in aimSettings. The host's data
// words and block are written with plain stores at their fixed addresses; the
// constant inside the host's code goes through a protection bracket.
class HostSink final : public settings::SettingsSink {
public:
    void SetReloadEveryFrame(std::int32_t value) override { aimSettings.reloadEveryFrame = value; }
    void SetHostValue(int index, float value) override { *HostData<float>(host::kAimValues[index]) = value; }
    void SetCodeConstant(std::uint32_t bits) override {
        codepatch::poke_u32(codepatch::patch_address(RebaseHostAddress(host::kAimCodeConstant)), bits);
    }
    void StageAimRow(int row, const float* values, int count) override {
        std::memcpy(aimSettings.aimRows[row], values, static_cast<std::size_t>(count) * sizeof(float));
    }
    void PublishAimRows(int rowCount) override {
        std::memcpy(HostData<void>(host::kAimBlock), aimSettings.aimRows,
                    static_cast<std::size_t>(rowCount) * sizeof aimSettings.aimRows[0]);
    }
    void SetWeaponOffset(int row, const float* values, int count) override {
        std::memcpy(aimSettings.weaponOffsets[row], values, static_cast<std::size_t>(count) * sizeof(float));
    }
};

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
    HostSink sink;
    settings::ApplySettings(reader, sink);
    CloseHandle(file);
}
