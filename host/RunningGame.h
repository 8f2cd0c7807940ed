// The running game as host::CheckGame reads it: its image in place, and a
// gate of `gates` from an earlier load recognised at a call site.
#pragma once

#include "codepatch/gate_registry.h"
#include "host/GameCheck.h"

// What the plugin makes of the running game, read now.
host::GameCheck CheckRunningGame(const codepatch::gate_registry& gates);
// The frame call's part of it, for the running game's build.
host::FrameSiteCheck CheckRunningFrameSite(const codepatch::gate_registry& gates);
