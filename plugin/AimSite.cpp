#include "plugin/AimSite.h"

#include <cstdint>
#include <cstdio>

#include "codepatch/memory.h"
#include "host/HostBuild.h"
#include "host/HostInterface.h"
#include "plugin/AimPointHook.h"
#include "plugin/PluginLog.h"

namespace {

std::uint32_t HookAddress() {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&AimPointHook));
}

// What the aim call site holds, and whether the plugin may take it over.
struct AimSiteCheck {
    bool known = false;
    std::uint32_t destination = 0;  // the call's destination, when it is one
    const char* what = "";
};

// The site must hold E8 rel32 to the host's aim function, or to committed
// executable memory outside the host image (another plugin's hook, which
// the plugin then chains to). Anything else means a game this plugin does
// not know, and nothing is written.
AimSiteCheck CheckAimSite(codepatch::patch_address site) {
    AimSiteCheck check;
    if (!codepatch::is_committed(site, codepatch::relative_branch_size)) {
        check.what = "is not in the game's memory";
        return check;
    }
    if (codepatch::peek_u8(site) != codepatch::op_call_rel32) {
        check.what = "is not a call";
        return check;
    }
    check.destination = codepatch::branch_target(site);
    const bool insideImage = check.destination - GetHostImageBase() < GetHostImageSize();
    // The plugin's gate lies outside the game's image: only then is it looked up.
    const codepatch::call_gate* gate = insideImage ? nullptr : codepatch::find_call_gate(site);
    if (gate && check.destination == codepatch::gate_address(*gate)) {
        check.known = true;
        check.what = "calls this plugin's gate, left from an earlier load";
    } else if (check.destination == RebaseHostAddress(host::kAimPointFunction)) {
        check.known = true;
        check.what = "calls the game's aim function";
    } else if (!insideImage && codepatch::is_executable(codepatch::patch_address(check.destination), 1)) {
        check.known = true;
        check.what = "calls another plugin's hook, which the plugin will call in turn";
    } else {
        check.what = insideImage ? "calls another function of the game" : "calls memory that holds no code";
    }
    return check;
}

}  // namespace

bool AimSite::Install(bool gameKnown) {
    const codepatch::patch_address site(RebaseHostAddress(host::kAimPointCallSite));
    const AimSiteCheck check = CheckAimSite(site);
    if (!check.known) {
        if (gameKnown)
            Log("aim call 0x%06X (at 0x%08X) holds %s and %s (another plugin may have changed it): left alone, so "
                "no per-weapon aim offsets this time; the settings file and the frame call are used all the same",
                host::kAimPointCallSite, site.value, HexBytesAt(site, codepatch::relative_branch_size), check.what);
        else
            Log("aim call 0x%06X (at 0x%08X) holds %s and %s: this is not a game the plugin knows, so it changes "
                "nothing in it",
                host::kAimPointCallSite, site.value, HexBytesAt(site, codepatch::relative_branch_size), check.what);
        return false;
    }
    char held[3 * 16 + 1];
    std::snprintf(held, sizeof held, "%s", HexBytesAt(site, codepatch::relative_branch_size));
    // Set before the site or its gate calls the hook: from then on it may run.
    aimContinuation = patch_.continuation(site, check.destination);
    if (!patch_.redirect_from(site, check.destination, HookAddress())) {
        Log("aim call 0x%06X (at 0x%08X) changed between the plugin's check and its write (another plugin writing "
            "it at the same moment?) and now holds %s: left alone, so no per-weapon aim offsets this time",
            host::kAimPointCallSite, site.value, HexBytesAt(site, codepatch::relative_branch_size));
        return false;
    }
    const char* how = "";
    switch (patch_.taken()) {
        case codepatch::gated_call::route::site:
            how = "redirected to the plugin through its gate";
            break;
        case codepatch::gated_call::route::gate:
            how = "the gate leads to the plugin again";
            break;
        case codepatch::gated_call::route::shared:
            how =
                "another plugin hooked this call while this plugin was last loaded and calls on through the "
                "plugin's gate: the call is left to it, and the gate leads to the plugin again";
            break;
        case codepatch::gated_call::route::direct:
            how =
                "redirected to the plugin directly (no memory for its gate: a plugin that hooks this call after "
                "this one must be unloaded first)";
            break;
    }
    Log("aim call 0x%06X (at 0x%08X): held %s, %s; %s", host::kAimPointCallSite, site.value, held, check.what, how);
    if (codepatch::call_gate_block_origin() == codepatch::gate_block_origin::made_unregistered)
        Log("aim call: the name under which the next load finds the plugin's gate again is taken by something else, "
            "so each load of the plugin keeps a page of memory of its own in the game");
    if (patch_.last_write() == codepatch::retarget_result::plain)
        Log("aim call: its 4 address bytes straddle a processor cache line, so they were written in two steps; a "
            "thread making the call at that very moment could have jumped astray");
    return true;
}

void AimSite::Remove() {
    if (!patch_.redirected()) return;
    const codepatch::patch_address site = patch_.site();
    const bool shared = patch_.taken() == codepatch::gated_call::route::shared;
    if (patch_.revert() == codepatch::call_patch::revert_result::restored)
        Log("unload: aim call 0x%06X put back", host::kAimPointCallSite);
    else if (shared)
        Log("unload: aim call 0x%06X is still another plugin's, which calls on through the plugin's gate: the gate "
            "now leads where the plugin's hook went on",
            host::kAimPointCallSite);
    else
        Log("unload: aim call 0x%06X holds %s, no longer the plugin's call (something else changed it): left alone; "
            "the plugin's gate now leads where its hook went on, for whatever still calls through it",
            host::kAimPointCallSite, HexBytesAt(site, codepatch::relative_branch_size));
}
