#include "plugin/AimSite.h"

#include <cstdint>

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
    if (check.destination == RebaseHostAddress(host::kAimPointFunction)) {
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
    Log("aim call 0x%06X (at 0x%08X): held %s, %s; redirected to the plugin", host::kAimPointCallSite, site.value,
        HexBytesAt(site, codepatch::relative_branch_size), check.what);
    // Set before the site calls the hook: from then on it may run.
    aimContinuation = check.destination;
    patch_.redirect(site, HookAddress());
    return true;
}

void AimSite::Remove() {
    if (!patch_.redirected()) return;
    const codepatch::patch_address site = patch_.site();
    if (patch_.revert() == codepatch::call_patch::revert_result::restored)
        Log("unload: aim call 0x%06X put back", host::kAimPointCallSite);
    else
        Log("unload: aim call 0x%06X holds %s, no longer the plugin's call (something else changed it): left alone",
            host::kAimPointCallSite, HexBytesAt(site, codepatch::relative_branch_size));
}
