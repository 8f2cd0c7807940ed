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

}  // namespace

void PlaySystemSound(Sound sound) noexcept {
    if (const LPTHREAD_START_ROUTINE beep = BeepRoutine())
        QueueUserWorkItem(beep, reinterpret_cast<void*>(static_cast<std::uintptr_t>(BeepOf(sound))), WT_EXECUTEDEFAULT);
}
