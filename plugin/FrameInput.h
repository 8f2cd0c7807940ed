// The per-frame callback: the aim toggle and live reload.
#pragma once

class FrameEvent;
class OptionsFile;
class SettingsReload;

// What the frame callback works with: both outlive its registration.
struct FrameInputParts {
    SettingsReload* reload;
    OptionsFile* options;
};

// Registers the plugin's frame callback in the frame event's `after` list.
// On every frame it runs, the button held (the right mouse button unless
// the ini names another) and the key pressed (Space) sets zeroOffsetX, with
// a sound if the ini asks for one, and releasing the button clears it; then
// live reload has its frame, the settings file's and the ini's.
void RegisterFrameInput(FrameEvent& event, const FrameInputParts& parts);
