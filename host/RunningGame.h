// The running game as host::CheckGame reads it: its image in place, and the
// plugin's gate from an earlier load recognised at a call site.
#pragma once

#include "host/GameCheck.h"

// What the plugin makes of the running game, read now.
host::GameCheck CheckRunningGame();
// The frame call's part of it, for the running game's build.
host::FrameSiteCheck CheckRunningFrameSite();
