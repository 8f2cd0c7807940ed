#include "plugin/FrameSite.h"

#include "host/FrameEvent.h"
#include "host/GameCheck.h"
#include "host/HostInterface.h"
#include "plugin/CallSiteLog.h"
#include "plugin/FrameInput.h"
#include "plugin/PluginLog.h"

// Whether the frame call was hooked, and if not, why.
void FrameSite::LogHook() const {
    const codepatch::patch_address site = FrameCallSite::address();
    char held[3 * 16 + 1];
    HexBytes(site, 6, held);
    switch (event_.State()) {
        case FrameEvent::HookState::Installed:
            Log("frame call 0x%06X (at 0x%08X): %s; the aim toggle and live reload work", host::kFrameCallSite,
                site.value, CallSiteRoute(event_.Route()));
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

void FrameSite::Install(const FrameInputParts& parts) {
    RegisterFrameInput(event_, parts);
    LogHook();
}

bool FrameSite::Hooked() const {
    return event_.State() == FrameEvent::HookState::Installed;
}

const char* FrameSite::WhyNot() const {
    switch (event_.State()) {
        case FrameEvent::HookState::SiteNotACall:
        case FrameEvent::HookState::SiteChanged:
            return host::WhyNoFrameHook(host::FrameSiteHolds::NotACall);
        case FrameEvent::HookState::NoGate:
            return "no memory for the plugin's call gate";
        case FrameEvent::HookState::Installed:
            return "";
        default:
            return host::WhyNoFrameHook(host::FrameSiteHolds::NoFrameCall);
    }
}

codepatch::gated_call::revert_result FrameSite::Remove() {
    return event_.RemoveHook();
}
