// The per-frame callback: the aim toggle and live reload.
#pragma once

class SettingsReload;

// Registers the plugin's frame callback in the frame event's `after` list.
// On every frame it runs, the right mouse button held and Space pressed sets
// zeroOffsetX and releasing the right button clears it; then `reload` has
// its frame (live reload).
void RegisterFrameInput(SettingsReload& reload);

// Tells the log whether the frame call was hooked, and if not, why.
void LogFrameHook();

// Takes the frame hook off the host's call (at unload), and logs whether the
// call was put back or something else had changed it.
void RemoveFrameHook();
