// The host's call at 0x527A95, which the plugin takes over for AimPointHook
// by way of its call gate: checked before it is written, and put back at
// unload only while it still calls the gate. The gate itself then leads to
// what the hook called on, for anything that still calls through it.
#pragma once

#include "codepatch/gated_call.h"

class AimSite {
public:
    // Checks what the site holds and, when it is a call the plugin knows,
    // redirects it to AimPointHook, which goes on where the call went. Logs
    // either way, saying what else the plugin does in a game whose build it
    // recognised (`gameKnown`); false when the site was left alone.
    bool Install(bool gameKnown);

    // Puts the site back (logged): its own bytes while it still calls the
    // plugin, otherwise it keeps what something else wrote there.
    void Remove();
    // Puts the site back without a word, as a failed start-up does.
    void Undo() { patch_.revert(); }

private:
    codepatch::gated_call patch_;
};
