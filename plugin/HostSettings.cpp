#include "plugin/HostSettings.h"

#include <cstring>

#include "codepatch/memory.h"
#include "host/HostBuild.h"
#include "host/HostInterface.h"
#include "plugin/AimSettings.h"

namespace {

using settings::LineKind;

template <typename T>
T* HostData(host::Address address) {
    return reinterpret_cast<T*>(static_cast<std::uintptr_t>(address));
}

bool Writable(host::Address address, std::uint32_t size) {
    return codepatch::is_writable(codepatch::patch_address(address), size);
}

codepatch::patch_address CodeConstantSite() {
    return codepatch::patch_address(RebaseHostAddress(host::kAimCodeConstant));
}

}  // namespace

// The host's data words and block are written with plain stores at their
// fixed addresses, and only where the memory is committed and writable; the
// constant inside the host's code goes through a protection bracket.
void HostSettings::Apply(const settings::SettingsFile& file, AimSettings& record) {
    Forget();
    const settings::LineValues& reload = file.Given(LineKind::ReloadSwitch);
    if (reload.count) record.reloadEveryFrame = reload.integer;

    for (int k = 0; k < settings::kHostValueCount; ++k) {
        const settings::LineValues& given = file.Given(LineKind::HostValue, k);
        if (!given.count) continue;
        if (!Writable(host::kAimValues[k], 4)) {
            hostValueSkipped_[k] = true;
            continue;
        }
        *HostData<float>(host::kAimValues[k]) = given.values[0];
        hostValue_[k] = true;
        hostValues_[k] = given.values[0];
    }

    const settings::LineValues& code = file.Given(LineKind::CodeConstant);
    if (code.count) {
        std::memcpy(&codeBits_, &code.values[0], 4);
        codeConstantSkipped_ = !codepatch::try_poke_u32(CodeConstantSite(), codeBits_);
        codeConstant_ = !codeConstantSkipped_;
    }

    // The rows go to the host over its block as it is now, so that what no
    // file gives keeps the host's own value.
    if (file.aimRowsPublished > 0) {
        if (Writable(host::kAimBlock, host::kAimBlockBytes))
            std::memcpy(record.aimRows, HostData<void>(host::kAimBlock), sizeof record.aimRows);
        for (int r = 0; r < file.aimRowsPublished; ++r)
            for (int i = 0; i < file.AimValuesPublished(r); ++i) {
                record.aimRows[r][i] = file.Given(LineKind::AimRow, r).values[i];
                aim_[r][i] = true;
            }
        const std::size_t size = static_cast<std::size_t>(file.aimRowsPublished) * sizeof record.aimRows[0];
        if (Writable(host::kAimBlock, static_cast<std::uint32_t>(size))) {
            std::memcpy(HostData<void>(host::kAimBlock), record.aimRows, size);
            anyAim_ = true;
        } else {
            aimBlockSkipped_ = true;
            std::memset(aim_, 0, sizeof aim_);
        }
    }

    // Whole rows to the aim hook, whichever thread it runs on.
    record.BeginWeaponOffsetsWrite();
    for (int r = 0; r < settings::kWeaponOffsetRows; ++r) {
        const settings::LineValues& given = file.Given(LineKind::WeaponOffset, r);
        if (given.count) record.WriteWeaponOffset(r, given.values, given.count);
    }
    record.EndWeaponOffsetsWrite();
}

void HostSettings::Reapply(const AimSettings& record) const {
    for (int k = 0; k < settings::kHostValueCount; ++k)
        if (hostValue_[k] && Writable(host::kAimValues[k], 4)) *HostData<float>(host::kAimValues[k]) = hostValues_[k];
    if (anyAim_ && Writable(host::kAimBlock, host::kAimBlockBytes)) {
        auto* block = HostData<float>(host::kAimBlock);
        for (int r = 0; r < settings::kAimRowCount; ++r)
            for (int i = 0; i < settings::kAimRowLength; ++i)
                if (aim_[r][i]) block[r * settings::kAimRowLength + i] = record.aimRows[r][i];
    }
    if (codeConstant_) {
        const codepatch::patch_address at = CodeConstantSite();
        std::uint32_t now = 0;
        if (!codepatch::is_readable(at, 4) || (std::memcpy(&now, at.pointer(), 4), now != codeBits_))
            codepatch::try_poke_u32(at, codeBits_);
    }
}
