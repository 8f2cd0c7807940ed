// The per-frame callback: the aim toggle and live reload.
#pragma once

#include "codepatch/gated_call.h"

class SettingsReload;

// Registers the plugin's frame callback in the frame event's `after` list.
// On every frame it runs, the right mouse button held and Space pressed sets
// zeroOffsetX and releasing the right button clears it; then `reload` has
// its frame (live reload).
void RegisterFrameInput(SettingsReload& reload);

// Tells the log whether the frame call was hooked, and if not, why.
void LogFrameHook();

// Takes the frame hook off the host's call (at unload); the result is logged
// once no frame is inside the plugin any more.
codepatch::gated_call::revert_result RemoveFrameHook();
