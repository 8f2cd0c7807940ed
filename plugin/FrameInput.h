// The per-frame callback: the aim toggle and live reload.
#pragma once

// Right mouse button held and Space pressed sets zeroOffsetX; releasing the
// right button clears it. Then, while reloadEveryFrame is non-zero, loads the
// settings file again.
void HandleFrameInput();

// Registers HandleFrameInput in the frame event's `after` list.
void RegisterFrameInput();
