#include "plugin/AimPointHook.h"

#include <cstring>

#include "codepatch/call_gate.h"
#include "host/HostInterface.h"
#include "plugin/AimSettings.h"
#include "plugin/AimSite.h"
#include "settings/WeaponTable.h"

namespace {

template <typename T>
T Field(const void* record, std::uint32_t offset) {
    T value;
    std::memcpy(&value, static_cast<const std::uint8_t*>(record) + offset, sizeof value);
    return value;
}

std::uint32_t Word(const void* pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

// What host 0x5334F0 reads and writes, in the thread's slot.
struct Substitute {
    float point[3];
    float offset[3];
};
static_assert(sizeof(Substitute) <= codepatch::gate_thread_slot_size, "fits the thread's slot");

}  // namespace

std::uint32_t __cdecl AimPointHook(void* context, std::uint32_t* arguments, void* scratch) noexcept {
    const AimSite& site = *static_cast<const AimSite*>(context);
    const AimSettings& record = site.Settings();
    auto& call = *static_cast<codepatch::gate_follow_up*>(scratch);
    const void* character = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(call.prelude_result));
    if (!character || (Field<std::uint32_t>(character, host::kRecordStateWord) & host::kStateAimBlocked)) return 0;

    const std::uint8_t slot = Field<std::uint8_t>(character, host::kRecordCurrentSlot);
    const std::uint32_t weaponType = Field<std::uint32_t>(
        character, host::kRecordWeaponSlots + host::kWeaponSlotSize * slot + host::kSlotWeaponType);
    const int row = weapons::OffsetRow(weaponType);
    if (row == weapons::kNone) return 0;
    auto* substitute = static_cast<Substitute*>(site.Gates().thread_slot());
    if (!substitute) return 0;
    // The row as one load left it; a weapon whose row no file has given
    // keeps the host's own point.
    float(&offset)[3] = substitute->offset;
    if (row == weapons::kZeroVector)
        offset[0] = offset[1] = offset[2] = 0.0f;
    else if (!record.ReadWeaponOffset(row, offset))
        return 0;
    // A multiplication, not a store: -x gives -0.0, an infinity or NaN gives NaN.
    if (__atomic_load_n(&record.zeroOffsetX, __ATOMIC_RELAXED)) offset[0] *= 0.0f;

    call.function = host::kOffsetToPointFunction;
    call.object = call.prelude_result;
    call.arguments[0] = Word(substitute->point);
    call.arguments[1] = Word(substitute->offset);
    arguments[0] = Word(substitute->point);
    return 1;
}
