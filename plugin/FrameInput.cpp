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
        if (GetKeyState(VK_SPACE) & kSpaceDown) aimSettings.zeroOffsetX = 1;
    } else {
        aimSettings.zeroOffsetX = 0;
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

void RegisterFrameInput(SettingsReload& reload) {
    const FrameInputCallback callback{&reload};
    GetFrameEvent().AddCallback(FrameEvent::Phase::After, callback);
}

void LogFrameHook() {
    const codepatch::patch_address site = FrameCallSite::address();
    char held[3 * 16 + 1];
    HexBytes(site, 6, held);
    switch (GetFrameEvent().State()) {
        case FrameEvent::HookState::Installed:
            if (GetFrameEvent().Route() == codepatch::gated_call::route::gate_behind_other_hook)
                Log("frame call 0x%06X (at 0x%08X): another mod hooked it while this plugin was last loaded and "
                    "calls on through the plugin's gate: the call is left to it, and the gate leads to the plugin "
                    "again; the aim toggle and live reload work",
                    host::kFrameCallSite, site.value);
            else
                Log("frame call 0x%06X (at 0x%08X): redirected to the plugin through its gate; the aim toggle and "
                    "live reload work",
                    host::kFrameCallSite, site.value);
            break;
        case FrameEvent::HookState::SiteChanged:
            Log("frame call 0x%06X (at 0x%08X) changed between the plugin's check and its write (another mod "
                "writing it at the same moment?) and now holds %s: left alone, so no aim toggle and no live reload "
                "this time",
                host::kFrameCallSite, site.value, held);
            break;
        case FrameEvent::HookState::SiteNotACall:
            Log("frame call 0x%06X (at 0x%08X) holds %s, not a 5-byte call (another mod may have changed it): "
                "left alone, so no aim toggle and no live reload this time",
                host::kFrameCallSite, site.value, held);
            break;
        case FrameEvent::HookState::NoGate:
            Log("frame call 0x%06X (at 0x%08X): no memory for the plugin's call gate, so no aim toggle and no live "
                "reload this time",
                host::kFrameCallSite, site.value);
            break;
        default:
            Log("frame call: this game build has none the plugin hooks; no aim toggle, and the settings file is read "
                "once, now");
            break;
    }
}

codepatch::gated_call::revert_result RemoveFrameHook() {
    return GetFrameEvent().RemoveHook();
}
