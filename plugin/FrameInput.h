// The per-frame callback: the aim toggle and live reload.
#pragma once

class FrameEvent;
class SettingsReload;

// Registers the plugin's frame callback in the frame event's `after` list.
// On every frame it runs, the right mouse button held and Space pressed sets
// zeroOffsetX and releasing the right button clears it; then `reload` has
// its frame (live reload).
void RegisterFrameInput(FrameEvent& event, SettingsReload& reload);
