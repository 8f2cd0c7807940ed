#include "plugin/Sounds.h"

#include <windows.h>

#include <cstdint>

namespace {

// MessageBeep's sounds: the ones Windows' sound scheme names Asterisk,
// Default Beep and Exclamation, whatever the player has set for them.
UINT BeepOf(Sound sound) {
    switch (sound) {
        case Sound::ToggleLatched:
            return MB_ICONASTERISK;
        case Sound::ToggleReleased:
            return MB_OK;
        case Sound::Loaded:
            return MB_ICONEXCLAMATION;
    }
    return MB_OK;
}

// MessageBeep in user32 itself, taken as a worker's routine: it takes one
// word and returns one, as a thread routine does, so a system worker thread
// runs it directly. No code of the plugin runs on that thread (not even the
// import thunk), and an unload never waits for a sound.
LPTHREAD_START_ROUTINE BeepRoutine() {
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    const FARPROC beep = user32 ? GetProcAddress(user32, "MessageBeep") : nullptr;
    return reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void (*)()>(beep));
}

// When the last sound was asked for (GetTickCount64), for all threads.
volatile LONGLONG lastSound = 0;
// A sound lasts about half a second: at most one starts in this span, so a
// toggle mashed on and off queues a few sounds, not one per frame (and no
// crowd of workers plays at once).
constexpr LONGLONG kSoundSpacingMs = 250;

}  // namespace

void PlaySystemSound(Sound sound) noexcept {
    const auto now = static_cast<LONGLONG>(GetTickCount64());
    const LONGLONG last = InterlockedCompareExchange64(&lastSound, 0, 0);  // read whole, both halves
    if (last && now - last < kSoundSpacingMs) return;
    if (InterlockedCompareExchange64(&lastSound, now, last) != last) return;  // another thread's sound just started
    if (const LPTHREAD_START_ROUTINE beep = BeepRoutine())
        QueueUserWorkItem(beep, reinterpret_cast<void*>(static_cast<std::uintptr_t>(BeepOf(sound))), WT_EXECUTEDEFAULT);
}
