// The plugin module's own life in the process: its entry point, and what
// the runtime leaves behind at an unload.
#pragma once

// True while the module is unloaded by the process's exit (no other thread
// runs then, and nothing is to be waited for); false at any other unload.
bool ProcessIsExiting();

// Leaves the C++ runtime's own resources in place at this unload (when a
// game thread may still be inside the module, which then stays loaded).
void KeepRuntimeResources();
