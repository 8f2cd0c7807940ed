#include "plugin/AimPointHook.h"

#include <cstring>

#include "codepatch/in_flight.h"
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

std::uint32_t aimContinuation = host::kAimPointFunction;
std::uint32_t aimCallsInFlight = 0;

std::uint32_t HOST_THISCALL AimPointHook(void* object, const float* point, std::uint32_t arg2, std::uint32_t arg3,
                                         std::uint32_t arg4) noexcept {
    const codepatch::in_flight_count counted(aimCallsInFlight);
    const auto aimPoint = HostFunction<host::AimPointFunction>(aimContinuation);
    void* character =
        HostFunction<host::CharacterLookupFunction>(host::kCharacterLookupFunction)(host::kCurrentCharacter);
    if (!character || (Field<std::uint32_t>(character, host::kRecordStateWord) & host::kStateAimBlocked))
        return aimPoint(object, point, arg2, arg3, arg4);

    const std::uint8_t slot = Field<std::uint8_t>(character, host::kRecordCurrentSlot);
    const std::uint32_t weaponType = Field<std::uint32_t>(
        character, host::kRecordWeaponSlots + host::kWeaponSlotSize * slot + host::kSlotWeaponType);
    const int row = weapons::OffsetRow(weaponType);
    if (row == weapons::kNone) return aimPoint(object, point, arg2, arg3, arg4);
    // The row as one load left it; a weapon whose row no file has given
    // keeps the host's own point.
    float offset[3];
    if (row == weapons::kZeroVector)
        offset[0] = offset[1] = offset[2] = 0.0f;
    else if (!ReadWeaponOffset(row, offset))
        return aimPoint(object, point, arg2, arg3, arg4);
    // A multiplication, not a store: -x gives -0.0, an infinity or NaN gives NaN.
    if (aimSettings.zeroOffsetX) offset[0] *= 0.0f;

    float substitute[3];
    HostFunction<host::OffsetToPointFunction>(host::kOffsetToPointFunction)(character, substitute, offset);
    return aimPoint(object, substitute, arg2, arg3, arg4);
}
