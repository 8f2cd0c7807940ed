// The system's own short sounds, played for the player where the game's
// screen says nothing: the toggle latching and releasing, the plugin
// ready. Asking for one never holds up the caller, and no code of the plugin
// runs to play it.
#pragma once

enum class Sound { ToggleLatched, ToggleReleased, Loaded };

// Queues `sound` for one of the system's worker threads; returns at once.
// Within a quarter of a second of the last sound, none is queued.
void PlaySystemSound(Sound sound) noexcept;
