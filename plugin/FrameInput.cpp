#include "plugin/FrameInput.h"

#include <windows.h>

#include "host/FrameEvent.h"
#include "host/HostInterface.h"
#include "plugin/AimSettings.h"
#include "plugin/OptionsFile.h"
#include "plugin/PluginLog.h"
#include "plugin/SettingsReload.h"
#include "plugin/Sounds.h"

namespace {

// GetKeyState gives a down key as 0xFF80: the key-state byte 0x80, sign
// extended. Bit 7 and bit 15 are therefore both set for a key that is down
// (and both clear for one that is up), so testing the button by its low byte
// and the key by the sign bit reads the same state; bit 0 is the toggle state
// and is never looked at.
constexpr SHORT kButtonDown = 0x80;                     // bit 7
constexpr SHORT kKeyDown = static_cast<SHORT>(0x8000);  // bit 15

// The button held and the key pressed sets zeroOffsetX; releasing the
// button clears it. Then the frame's turn of live reload.
void HandleFrameInput(const FrameInputParts& parts) noexcept {
    SettingsReload& reload = *parts.reload;
    const settings::PluginOptions& options = parts.options->Options();
    std::uint8_t& zeroOffsetX = reload.Record().zeroOffsetX;
    const std::uint8_t before = zeroOffsetX;
    if (GetKeyState(options.holdKey) & kButtonDown) {
        if (GetKeyState(options.latchKey) & kKeyDown) zeroOffsetX = 1;
    } else {
        zeroOffsetX = 0;
    }
    if (options.toggleSound && zeroOffsetX != before)
        PlaySystemSound(zeroOffsetX ? Sound::ToggleLatched : Sound::ToggleReleased);
    if (reload.Record().reloadEveryFrame) parts.options->Frame();
    reload.Frame();
}

// Registered as an object rather than as a function pointer: the frame event
// drops a plain function pointer that its list already holds, and this
// registration must always append. Holding one pointer, it fits in
// std::function's own buffer, so the stored copy costs no allocation.
struct FrameInputCallback {
    const FrameInputParts* parts;
    void operator()() const { HandleFrameInput(*parts); }
};

}  // namespace

void RegisterFrameInput(FrameEvent& event, const FrameInputParts& parts) {
    const FrameInputCallback callback{&parts};
    event.AddCallback(FrameEvent::Phase::After, callback);
}
