#include "plugin/CallSiteLog.h"

#include "plugin/PluginLog.h"

const char* CallSiteRoute(codepatch::gated_call::route route) {
    switch (route) {
        case codepatch::gated_call::route::site_to_gate:
            return "redirected to the plugin through its gate";
        case codepatch::gated_call::route::gate_from_earlier_load:
            return "the gate leads to the plugin again";
        case codepatch::gated_call::route::gate_behind_other_hook:
            return "that mod hooked this call while the plugin was last loaded and calls on through the plugin's "
                   "gate: the call is left to it, and the gate leads to the plugin again";
    }
    return "";
}

void LogCallSiteRemoval(const char* call, std::uint32_t site, codepatch::gated_call::revert_result result) {
    switch (result) {
        case codepatch::gated_call::revert_result::not_redirected:
            break;
        case codepatch::gated_call::revert_result::restored:
            Log("unload: %s call 0x%06X put back", call, site);
            break;
        case codepatch::gated_call::revert_result::displaced:
            Log("unload: %s call 0x%06X is another mod's now (it changed the call after the plugin): left to it; "
                "the plugin's gate stays in the game and calls straight on, for whatever still calls through it",
                call, site);
            break;
    }
}
