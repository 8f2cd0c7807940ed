// The host's call at 0x53E981, which the frame event hooks for the plugin's
// frame callback by way of the plugin's call gate, on the builds that have
// it and where it holds the game's 5-byte call.
#pragma once

#include "codepatch/gated_call.h"
#include "host/FrameEvent.h"

struct FrameInputParts;

class FrameSite {
public:
    explicit FrameSite(codepatch::gate_registry& gates) : event_(gates) {}
    FrameSite(const FrameSite&) = delete;
    FrameSite& operator=(const FrameSite&) = delete;

    // Registers the frame callback (the aim toggle and `reload`'s live
    // reload) with the frame event, whose first registration decides whether
    // the call is hooked. Logs what the site held and what that means.
    void Install(const FrameInputParts& parts);

    // Takes the hook off the call (at unload); the result is logged once no
    // frame is inside the plugin any more (LogCallSiteRemoval).
    codepatch::gated_call::revert_result Remove();

    // Whether the frame callback runs on the game's frames.
    bool Hooked() const;
    // Why not, in a player's words (when it does not).
    const char* WhyNot() const;

private:
    void LogHook() const;

    FrameEvent event_;
};
