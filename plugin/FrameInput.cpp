#include "plugin/FrameInput.h"

#include <windows.h>

#include "host/FrameEvent.h"
#include "plugin/AimSettings.h"

namespace {

// GetKeyState gives a down key as 0xFF80: the key-state byte 0x80, sign
// extended. Bit 7 and bit 15 are therefore both set for a key that is down
// (and both clear for one that is up), so testing the button by its low byte
// and Space by the sign bit reads the same state; bit 0 is the toggle state
// and is never looked at.
constexpr SHORT kRightButtonDown = 0x80;                  // bit 7
constexpr SHORT kSpaceDown = static_cast<SHORT>(0x8000);  // bit 15

// Right mouse button held and Space pressed sets zeroOffsetX; releasing the
// right button clears it. Then, while reloadEveryFrame is non-zero, the
// settings file is loaded again if it may have changed.
void HandleFrameInput() {
    if (GetKeyState(VK_RBUTTON) & kRightButtonDown) {
        if (GetKeyState(VK_SPACE) & kSpaceDown) aimSettings.zeroOffsetX = 1;
    } else {
        aimSettings.zeroOffsetX = 0;
    }
    if (ReloadDue()) RefreshAimSettings();
}

// Registered as an object rather than as &HandleFrameInput: the frame event
// drops a plain function pointer that its list already holds, and this
// registration must always append. Holding no data, it also fits in
// std::function's own buffer, so the stored copy costs no allocation.
struct FrameInputCallback {
    void operator()() const { HandleFrameInput(); }
};

}  // namespace

void RegisterFrameInput() {
    FrameEvent& event = GetFrameEvent();
    const FrameInputCallback callback;
    event.AddCallback(event.after, callback);
}
