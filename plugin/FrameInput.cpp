#include "plugin/FrameInput.h"

#include <windows.h>

#include "host/FrameEvent.h"
#include "host/HostInterface.h"
#include "plugin/AimSettings.h"
#include "plugin/PluginLog.h"
#include "plugin/SettingsReload.h"

namespace {

// GetKeyState gives a down key as 0xFF80: the key-state byte 0x80, sign
// extended. Bit 7 and bit 15 are therefore both set for a key that is down
// (and both clear for one that is up), so testing the button by its low byte
// and Space by the sign bit reads the same state; bit 0 is the toggle state
// and is never looked at.
constexpr SHORT kRightButtonDown = 0x80;                  // bit 7
constexpr SHORT kSpaceDown = static_cast<SHORT>(0x8000);  // bit 15

// Right mouse button held and Space pressed sets zeroOffsetX; releasing the
// right button clears it. Then the frame's turn of live reload.
void HandleFrameInput(SettingsReload& reload) noexcept {
    if (GetKeyState(VK_RBUTTON) & kRightButtonDown) {
        if (GetKeyState(VK_SPACE) & kSpaceDown) reload.Record().zeroOffsetX = 1;
    } else {
        reload.Record().zeroOffsetX = 0;
    }
    reload.Frame();
}

// Registered as an object rather than as a function pointer: the frame event
// drops a plain function pointer that its list already holds, and this
// registration must always append. Holding one pointer, it fits in
// std::function's own buffer, so the stored copy costs no allocation.
struct FrameInputCallback {
    SettingsReload* reload;
    void operator()() const { HandleFrameInput(*reload); }
};

}  // namespace

void RegisterFrameInput(FrameEvent& event, SettingsReload& reload) {
    const FrameInputCallback callback{&reload};
    event.AddCallback(FrameEvent::Phase::After, callback);
}
