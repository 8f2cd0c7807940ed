#include "plugin/FrameInput.h"

#include <windows.h>

#include "codepatch/FrameEvent.h"
#include "plugin/AimSettings.h"

namespace {

constexpr SHORT kRightButtonDown = 0x80;                  // bit 7
constexpr SHORT kSpaceDown = static_cast<SHORT>(0x8000);  // bit 15

// The callable the frame event keeps: no data, calls HandleFrameInput.
struct FrameInputCallback {
    void operator()() const { HandleFrameInput(); }
};

}  // namespace

void HandleFrameInput() {
    if (GetKeyState(VK_RBUTTON) & kRightButtonDown) {
        if (GetKeyState(VK_SPACE) & kSpaceDown) aimSettings.zeroOffsetX = 1;
    } else {
        aimSettings.zeroOffsetX = 0;
    }
    if (aimSettings.reloadEveryFrame != 0) LoadAimSettings();
}

void RegisterFrameInput() {
    FrameEvent& event = GetFrameEvent();
    const FrameInputCallback callback;
    event.AddCallback(event.after, callback);
}
