#include "plugin/AimSite.h"

#include <cstdint>

#include "codepatch/call_gate.h"
#include "host/HostInterface.h"
#include "plugin/AimPointHook.h"
#include "plugin/CallSiteLog.h"
#include "plugin/PluginLog.h"

host::AimVerdict AimSite::Install(const host::AimSiteCheck& check) {
    using Verdict = host::AimVerdict;
    const codepatch::patch_address site(check.site);
    char held[3 * 16 + 1];
    HexBytes(site, codepatch::relative_branch_size, held);
    switch (check.verdict) {
        case Verdict::Undecided:  // (a file's verdict: the running game always shows where a branch leads)
        case Verdict::Unknown:
            Log("aim call 0x%06X (at 0x%08X) holds %s and %s: this is not a game the plugin knows (or another mod "
                "changed it beyond recognition), so the plugin changes nothing in it: no settings, no aim offsets, "
                "no toggle",
                host::kAimPointCallSite, site.value, held, check.what);
            return Verdict::Unknown;
        case Verdict::SettingsOnly:
            Log("aim call 0x%06X (at 0x%08X) holds %s and %s: left to that mod, so no per-weapon aim offsets this "
                "time; the settings file and the frame call are used all the same",
                host::kAimPointCallSite, site.value, held, check.what);
            whyNoOffsets_ = check.WhyNoOffsets();
            return check.verdict;
        case Verdict::Hooked:
            break;
    }
    codepatch::gated_call::handlers handlers;
    handlers.before = &AimPointHook;
    handlers.context = this;
    handlers.prelude.function = host::kCharacterLookupFunction;
    handlers.prelude.argument = static_cast<std::uint32_t>(host::kCurrentCharacter);
    codepatch::gate_shape shape;
    shape.argument_words = 4;
    shape.callee_removes_arguments = true;  // this-call
    shape.jump_on = true;
    const bool gameFunction = check.holds == host::AimSiteHolds::GameCall;
    switch (patch_.take(gates_, site, check.destination, gameFunction, shape, handlers)) {
        case codepatch::gated_call::take_result::taken:
            break;
        case codepatch::gated_call::take_result::site_changed:
            HexBytes(site, codepatch::relative_branch_size, held);
            Log("aim call 0x%06X (at 0x%08X) changed between the plugin's check and its write (another mod writing "
                "it at the same moment?) and now holds %s: left alone, so no per-weapon aim offsets this time",
                host::kAimPointCallSite, site.value, held);
            whyNoOffsets_ = "another mod changed the aim call as the plugin wrote it";
            return Verdict::SettingsOnly;
        case codepatch::gated_call::take_result::no_gate:
            Log("aim call 0x%06X (at 0x%08X): no memory for the plugin's call gate, so no per-weapon aim offsets "
                "this time",
                host::kAimPointCallSite, site.value);
            whyNoOffsets_ = "no memory for the plugin's call gate";
            return Verdict::SettingsOnly;
    }
    Log("aim call 0x%06X (at 0x%08X): held %s, %s; %s", host::kAimPointCallSite, site.value, held, check.what,
        CallSiteRoute(patch_.how()));
    if (gates_.origin() == codepatch::gate_block_origin::made_unregistered)
        Log("aim call: the name under which the next load finds the plugin's gate again is taken by something else, "
            "so each load of the plugin keeps a page of memory of its own in the game");
    return Verdict::Hooked;
}

codepatch::gated_call::revert_result AimSite::Remove() {
    return patch_.release();
}
