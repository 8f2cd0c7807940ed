// The host's call at 0x527A95, which the plugin takes over for AimPointHook
// by way of its call gate. What the site holds is the plugin's evidence that
// this is the game it knows: nothing of the plugin is written into a game
// whose aim call it does not recognise.
#pragma once

#include "codepatch/gated_call.h"
#include "host/GameCheck.h"
#include "plugin/AimSettings.h"

class AimSite {
public:
    // Hooks the aim call through a gate of `gates`, which outlives the site.
    explicit AimSite(codepatch::gate_registry& gates) : gates_(gates) {}
    AimSite(const AimSite&) = delete;
    AimSite& operator=(const AimSite&) = delete;

    // The settings record the aim handler reads: the weapon table and the
    // toggle, for the loader and the frame callback to write.
    AimSettings& Settings() { return settings_; }
    const AimSettings& Settings() const { return settings_; }
    const codepatch::gate_registry& Gates() const { return gates_; }

    // Where `check` (what the site holds, host::CheckAimSite) found the
    // game's own call or another mod's call of a hook outside the game,
    // routes the site through the plugin's gate to AimPointHook. Logs what
    // was found and what it means; the result is check.verdict, or
    // SettingsOnly where the write could not be made.
    host::AimVerdict Install(const host::AimSiteCheck& check);

    // Clears the hook and puts the site back while it still calls the gate;
    // otherwise it keeps what something else wrote there. Logs nothing: the
    // unload logs the result once no thread is inside the plugin any more.
    codepatch::gated_call::revert_result Remove();

    // Why the weapon offsets are off, in a player's words (after an Install
    // that did not hook the call).
    const char* WhyNoOffsets() const { return whyNoOffsets_; }

private:
    codepatch::gate_registry& gates_;
    AimSettings settings_;
    codepatch::gated_call patch_;
    const char* whyNoOffsets_ = "";
};
