#include "plugin/AimSite.h"

#include <cstdint>

#include "codepatch/memory.h"
#include "host/HostBuild.h"
#include "host/HostInterface.h"
#include "plugin/AimPointHook.h"
#include "plugin/CallSiteLog.h"
#include "plugin/PluginLog.h"

namespace {

// What the aim call site holds.
struct AimSiteCheck {
    AimSite::Verdict verdict = AimSite::Verdict::Unknown;
    std::uint32_t destination = 0;  // the call's destination, when it is one the plugin takes
    const char* what = "";
};

bool InsideImage(std::uint32_t address) {
    return address - GetHostImageBase() < GetHostImageSize();
}

// Where the branch at `site` leads: E8/E9 rel32, or FF 15/FF 25 through a
// pointer slot that can be read; false for anything else.
bool BranchDestination(codepatch::patch_address site, std::uint8_t op, std::uint32_t& destination) {
    if (op == codepatch::op_call_rel32 || op == codepatch::op_jmp_rel32) {
        destination = codepatch::branch_target(site);
        return true;
    }
    if (op != codepatch::op_group_ff || !codepatch::is_committed(site, 6)) return false;
    const std::uint8_t modrm = codepatch::peek_u8(site + 1);
    if (modrm != codepatch::modrm_call_indirect && modrm != codepatch::modrm_jmp_indirect) return false;
    return codepatch::try_peek_u32(codepatch::patch_address(codepatch::peek_u32(site + 2)), destination);
}

// Positive evidence only: the game's own call of its aim function (or the
// plugin's gate, left there from an earlier load), or another mod's hook that
// leads out of the game's image into code. Anything else (other code, a call
// of another function of the game, a branch into memory that holds no code)
// is a game the plugin does not know.
AimSiteCheck CheckAimSite(codepatch::patch_address site) {
    AimSiteCheck check;
    if (!codepatch::is_committed(site, codepatch::relative_branch_size)) {
        check.what = "is not in the game's memory";
        return check;
    }
    const std::uint8_t op = codepatch::peek_u8(site);
    std::uint32_t destination = 0;
    if (!BranchDestination(site, op, destination)) {
        check.what = "is not a call";
        return check;
    }
    const bool call = op == codepatch::op_call_rel32;
    const codepatch::call_gate* gate =
        call && !InsideImage(destination) ? codepatch::existing_call_gate(site) : nullptr;
    if (gate && destination == codepatch::gate_address(*gate)) {
        check.verdict = AimSite::Verdict::Hooked;
        check.what = "calls this plugin's gate, left from an earlier load";
    } else if (call && destination == RebaseHostAddress(host::kAimPointFunction)) {
        check.verdict = AimSite::Verdict::Hooked;
        check.what = "calls the game's aim function";
    } else if (InsideImage(destination)) {
        check.what = call ? "calls another function of the game" : "branches into the game's own code, not a call";
    } else if (!codepatch::is_executable(codepatch::patch_address(destination), 1)) {
        check.what = "leads to memory that holds no code";
    } else if (call) {
        check.verdict = AimSite::Verdict::Hooked;
        check.what = "calls another mod's hook, which the plugin will call in turn";
    } else {
        check.verdict = AimSite::Verdict::SettingsOnly;
        check.what = "holds another mod's jump to its own code";
    }
    check.destination = destination;
    return check;
}

}  // namespace

AimSite::Verdict AimSite::Install() {
    const codepatch::patch_address site(RebaseHostAddress(host::kAimPointCallSite));
    const AimSiteCheck check = CheckAimSite(site);
    char held[3 * 16 + 1];
    HexBytes(site, codepatch::relative_branch_size, held);
    switch (check.verdict) {
        case Verdict::Unknown:
            Log("aim call 0x%06X (at 0x%08X) holds %s and %s: this is not a game the plugin knows (or another mod "
                "changed it beyond recognition), so the plugin changes nothing in it: no settings, no aim offsets, "
                "no toggle",
                host::kAimPointCallSite, site.value, held, check.what);
            return check.verdict;
        case Verdict::SettingsOnly:
            Log("aim call 0x%06X (at 0x%08X) holds %s and %s: left to that mod, so no per-weapon aim offsets this "
                "time; the settings file and the frame call are used all the same",
                host::kAimPointCallSite, site.value, held, check.what);
            whyNoOffsets_ = "another mod holds the aim call";
            return check.verdict;
        case Verdict::Hooked:
            break;
    }
    codepatch::gated_call::handlers handlers;
    handlers.before = &AimPointHook;
    codepatch::gate_shape shape;
    shape.argument_words = 4;
    shape.callee_removes_arguments = true;  // this-call
    const bool gameFunction = check.destination == RebaseHostAddress(host::kAimPointFunction);
    switch (patch_.take(site, check.destination, gameFunction, shape, handlers)) {
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
    if (codepatch::call_gate_block_origin() == codepatch::gate_block_origin::made_unregistered)
        Log("aim call: the name under which the next load finds the plugin's gate again is taken by something else, "
            "so each load of the plugin keeps a page of memory of its own in the game");
    return Verdict::Hooked;
}

codepatch::gated_call::revert_result AimSite::Remove() {
    return patch_.release();
}
