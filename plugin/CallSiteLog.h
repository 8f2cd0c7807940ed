// What the log says about a hooked call of the game, in the same words for
// both: how the plugin took it, and what an unload did to it.
#pragma once

#include <cstdint>

#include "codepatch/gated_call.h"

// How the call was taken, after what it held ("redirected to the plugin
// through its gate", ...).
const char* CallSiteRoute(codepatch::gated_call::route route);

// What an unload did to a hooked call (`call`: "aim" or "frame", at host
// address `site`), as the log says it once no thread is inside the plugin.
void LogCallSiteRemoval(const char* call, std::uint32_t site, codepatch::gated_call::revert_result result);
