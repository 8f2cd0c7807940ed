#include "plugin/AimPointHook.h"

#include <cstring>

#include "host/HostInterface.h"
#include "plugin/AimSettings.h"
#include "settings/WeaponTable.h"

namespace {

template <typename T>
T Field(const void* record, std::uint32_t offset) {
    T value;
    std::memcpy(&value, static_cast<const std::uint8_t*>(record) + offset, sizeof value);
    return value;
}

template <typename Fn>
Fn HostFunction(host::Address address) {
    return reinterpret_cast<Fn>(static_cast<std::uintptr_t>(address));
}

}  // namespace

std::uint32_t __cdecl AimPointHook(void*, std::uint32_t* arguments, void* scratch) noexcept {
    void* character =
        HostFunction<host::CharacterLookupFunction>(host::kCharacterLookupFunction)(host::kCurrentCharacter);
    if (!character || (Field<std::uint32_t>(character, host::kRecordStateWord) & host::kStateAimBlocked)) return 0;

    const std::uint8_t slot = Field<std::uint8_t>(character, host::kRecordCurrentSlot);
    const std::uint32_t weaponType = Field<std::uint32_t>(
        character, host::kRecordWeaponSlots + host::kWeaponSlotSize * slot + host::kSlotWeaponType);
    const int row = weapons::OffsetRow(weaponType);
    if (row == weapons::kNone) return 0;
    // The row as one load left it; a weapon whose row no file has given
    // keeps the host's own point.
    float offset[3];
    if (row == weapons::kZeroVector)
        offset[0] = offset[1] = offset[2] = 0.0f;
    else if (!ReadWeaponOffset(row, offset))
        return 0;
    // A multiplication, not a store: -x gives -0.0, an infinity or NaN gives NaN.
    if (aimSettings.zeroOffsetX) offset[0] *= 0.0f;

    auto* substitute = static_cast<float*>(scratch);
    HostFunction<host::OffsetToPointFunction>(host::kOffsetToPointFunction)(character, substitute, offset);
    arguments[0] = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(substitute));
    return 1;
}
