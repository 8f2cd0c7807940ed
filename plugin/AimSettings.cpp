#include "plugin/AimSettings.h"

#include <windows.h>

bool AimSettings::ReadWeaponOffsetAfterAWrite(int row, float (&offset)[3]) const {
    for (unsigned attempt = 1;; ++attempt) {
        const std::uint32_t before = __atomic_load_n(&weaponOffsetsVersion, __ATOMIC_ACQUIRE);
        if ((before & 1) == 0) {
            const bool given = __atomic_load_n(&weaponOffsetGiven[row], __ATOMIC_RELAXED);
            for (int i = 0; i < 3; ++i) __atomic_load(&weaponOffsets[row][i], &offset[i], __ATOMIC_RELAXED);
            __atomic_thread_fence(__ATOMIC_ACQUIRE);
            if (__atomic_load_n(&weaponOffsetsVersion, __ATOMIC_RELAXED) == before) return given;
        }
        // A write takes microseconds; a writer that lost its processor
        // meanwhile gets it back sooner when this thread steps aside.
        if (attempt % 64 == 0) SwitchToThread();
    }
}

void AimSettings::BeginWeaponOffsetsWrite() {
    const std::uint32_t version = __atomic_load_n(&weaponOffsetsVersion, __ATOMIC_RELAXED);
    __atomic_store_n(&weaponOffsetsVersion, version + 1, __ATOMIC_RELAXED);
    __atomic_thread_fence(__ATOMIC_RELEASE);
}

void AimSettings::WriteWeaponOffset(int row, const float* values, int count) {
    for (int i = 0; i < count; ++i) __atomic_store(&weaponOffsets[row][i], &values[i], __ATOMIC_RELAXED);
    __atomic_store_n(&weaponOffsetGiven[row], true, __ATOMIC_RELAXED);
}

void AimSettings::EndWeaponOffsetsWrite() {
    const std::uint32_t version = __atomic_load_n(&weaponOffsetsVersion, __ATOMIC_RELAXED);
    __atomic_store_n(&weaponOffsetsVersion, version + 1, __ATOMIC_RELEASE);
}
