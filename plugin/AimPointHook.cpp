#include "plugin/AimPointHook.h"

#include <cstring>

#include "plugin/AimSettings.h"

namespace {

constexpr std::uint32_t kFirstCode = 19;
constexpr std::int8_t kNone = -1;
constexpr std::int8_t kZeroVector = 0;  // row 0 serves no code: 0 marks code 59
// Outcome of the codes 19..59: a weaponOffsets row, the zero vector or none.
constexpr std::int8_t kRowByCode[41] = {
    13, 14, kNone, 1, 2, 3, 4, 5, 6, 7, 8,  // 19..29
    10, 11, 9, 12,                          // 30..33 (30 -> 10, 32 -> 9)
    kNone, kNone, kNone, 15,                // 34..37
    kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,  // 38..47
    kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,  // 48..57
    kNone, kZeroVector,                     // 58, 59
};

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

int WeaponOffsetRow(std::uint32_t weaponType) {
    const std::uint32_t index = weaponType - kFirstCode;  // codes below 19 wrap past 40
    return index < sizeof kRowByCode ? kRowByCode[index] : kNone;
}

std::uint32_t HOST_THISCALL AimPointHook(void* object, const float* point, std::uint32_t arg2,
                                         std::uint32_t arg3, std::uint32_t arg4) {
    const auto aimPoint = HostFunction<host::AimPointFunction>(host::kAimPointFunction);
    void* character = HostFunction<host::CharacterLookupFunction>(host::kCharacterLookupFunction)(
        host::kCurrentCharacter);
    if (!character || (Field<std::uint32_t>(character, host::kRecordStateWord) & host::kStateAimBlocked))
        return aimPoint(object, point, arg2, arg3, arg4);

    const std::uint8_t slot = Field<std::uint8_t>(character, host::kRecordCurrentSlot);
    const std::uint32_t weaponType = Field<std::uint32_t>(
        character, host::kRecordWeaponSlots + host::kWeaponSlotSize * slot + host::kSlotWeaponType);
    const int row = WeaponOffsetRow(weaponType);
    if (row < 0) return aimPoint(object, point, arg2, arg3, arg4);

    float offset[3] = {0.0f, 0.0f, 0.0f};
    if (row != kZeroVector) std::memcpy(offset, aimSettings.weaponOffsets[row], sizeof offset);
    // A multiplication, not a store: -x gives -0.0, an infinity or NaN gives NaN.
    if (aimSettings.zeroOffsetX) offset[0] *= 0.0f;

    float substitute[3];
    HostFunction<host::OffsetToPointFunction>(host::kOffsetToPointFunction)(character, substitute, offset);
    return aimPoint(object, substitute, arg2, arg3, arg4);
}
