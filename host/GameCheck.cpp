#include "host/GameCheck.h"

#include <cstring>

#include "codepatch/branch.h"

namespace host {
namespace {

// The branch forms the host's call sites may hold (codepatch/branch.h, whose
// constants need no Windows).
constexpr std::uint8_t kCallRel32 = codepatch::op_call_rel32;
constexpr std::uint8_t kJumpRel32 = codepatch::op_jmp_rel32;
constexpr std::uint32_t kBranchSize = codepatch::relative_branch_size;

std::uint32_t Word(const std::uint8_t* bytes) {
    std::uint32_t word;
    std::memcpy(&word, bytes, 4);
    return word;
}

// A branch the call site holds, and where it leads.
struct Branch {
    std::uint8_t op = 0;
    std::uint32_t destination = 0;
    std::uint32_t slot = 0;          // the pointer slot of FF 15 / FF 25 (0: none)
    bool filledByLoader = false;     // that slot is one the loader fills (a file's import slot)
    bool destinationUnseen = false;  // only the running game shows where it leads
};

// The branch at `site`: E8/E9 rel32, or FF 15/FF 25 through a pointer slot
// (read where it can be); false for anything else. Only E8 is a call the
// plugin's gate can stand in for: a 6-byte call through a slot counts as a
// jump.
bool BranchAt(const GameImage& image, std::uint32_t site, Branch& branch) {
    std::uint8_t bytes[6];
    if (!image.Read(site, bytes, kBranchSize)) return false;
    branch.op = bytes[0];
    if (branch.op == kCallRel32 || branch.op == kJumpRel32) {
        branch.destination = site + kBranchSize + Word(bytes + 1);
        return true;
    }
    if (branch.op != codepatch::op_group_ff ||
        (bytes[1] != codepatch::modrm_call_indirect && bytes[1] != codepatch::modrm_jmp_indirect) ||
        !image.Read(site, bytes, 6))
        return false;
    branch.slot = Word(bytes + 2);
    branch.filledByLoader = image.LoaderFills(branch.slot);
    branch.destinationUnseen = branch.filledByLoader || (!image.Inside(branch.slot) && !image.SeesOutside());
    return branch.destinationUnseen || image.Read(branch.slot, &branch.destination, 4);
}

}  // namespace

bool GameImage::EarlierGate(std::uint32_t, std::uint32_t) const {
    return false;
}

bool GameImage::LoaderFills(std::uint32_t) const {
    return false;
}

bool GameImage::SeesOutside() const {
    return true;
}

int FindBuildProbe(const GameImage& image) {
    int index = 0;
    for (const BuildProbe& probe : kBuildProbes) {
        std::uint32_t word = 0;
        if (image.Read(image.Rebase(probe.address), &word, 4) && word == probe.expected) return index;
        ++index;
    }
    return -1;
}

AimSiteCheck CheckAimSite(const GameImage& image) {
    AimSiteCheck check;
    check.site = image.Rebase(kAimPointCallSite);
    std::uint8_t bytes[kBranchSize];
    if (!image.Read(check.site, bytes, kBranchSize)) {
        check.what = "is not in the game's memory";
        return check;
    }
    Branch branch;
    if (!BranchAt(image, check.site, branch)) {
        check.holds = AimSiteHolds::NotACall;
        check.what = "is not a call";
        return check;
    }
    const std::uint32_t destination = check.destination = branch.destination;
    check.slot = branch.slot;
    const bool call = branch.op == kCallRel32;
    if (branch.destinationUnseen) {
        check.holds = branch.filledByLoader ? AimSiteHolds::ThroughImportSlot : AimSiteHolds::OutOfImage;
        check.verdict = AimVerdict::Undecided;
        check.what =
            branch.filledByLoader
                ? "leads into a system DLL through a slot the loader fills; the plugin decides when the game runs"
                : "leads through a pointer outside the game's executable; the plugin decides when the game runs";
    } else if (call && !image.Inside(destination) && image.EarlierGate(check.site, destination)) {
        check.holds = AimSiteHolds::EarlierGate;
        check.verdict = AimVerdict::Hooked;
        check.what = "calls this plugin's gate, left from an earlier load";
    } else if (call && destination == image.Rebase(kAimPointFunction)) {
        check.holds = AimSiteHolds::GameCall;
        check.verdict = AimVerdict::Hooked;
        check.what = "calls the game's aim function";
    } else if (image.Inside(destination)) {
        check.holds = call ? AimSiteHolds::OtherGameFunction : AimSiteHolds::BranchIntoImage;
        check.what = call ? "calls another function of the game" : "branches into the game's own code, not a call";
    } else if (!image.SeesOutside()) {
        check.holds = AimSiteHolds::OutOfImage;
        check.verdict = AimVerdict::Undecided;
        check.what =
            "leads out of the game's executable, where a DLL may lie when the game runs; the plugin decides then";
    } else if (!image.Executable(destination)) {
        check.holds = AimSiteHolds::NoCodeThere;
        check.what = "leads to memory that holds no code";
    } else if (call) {
        check.holds = AimSiteHolds::ModCall;
        check.verdict = AimVerdict::Hooked;
        check.what = "calls another mod's hook, which the plugin will call in turn";
    } else {
        check.holds = AimSiteHolds::ModJump;
        check.verdict = AimVerdict::SettingsOnly;
        check.what = "holds another mod's jump to its own code";
    }
    return check;
}

FrameSiteCheck CheckFrameSite(const GameImage& image, std::int32_t build) {
    FrameSiteCheck check;
    check.site = image.Rebase(kFrameCallSite);
    if (!HasFrameCall(build)) return check;
    std::uint8_t bytes[kBranchSize];
    if (!image.Read(check.site, bytes, kBranchSize) || bytes[0] != kCallRel32) {
        check.holds = FrameSiteHolds::NotACall;
        return check;
    }
    check.destination = check.site + kBranchSize + Word(bytes + 1);
    check.holds = image.Inside(check.destination) ? FrameSiteHolds::GameCall : FrameSiteHolds::ModCall;
    return check;
}

const char* WhyNoFrameHook(FrameSiteHolds holds) {
    switch (holds) {
        case FrameSiteHolds::NoFrameCall:
            return "this build of the game has no frame call the plugin knows";
        case FrameSiteHolds::NotACall:
            return "another mod holds the frame call";
        default:
            return "";
    }
}

GameCheck CheckGame(const GameImage& image) {
    GameCheck game;
    game.probe = FindBuildProbe(image);
    game.build = game.probe < 0 ? 0 : kBuildProbes[game.probe].build;
    game.atPreferredBase = image.Base() == kPreferredImageBase;
    if (!game.atPreferredBase) return game;
    game.aim = CheckAimSite(image);
    game.frame = CheckFrameSite(image, game.build);
    return game;
}

const char* GameCheck::WhyInactive() const {
    if (!atPreferredBase) return "the game's executable is not where its code expects it";
    if (aim.verdict == AimVerdict::Unknown) return "this is not a game the plugin knows";
    return "";
}

}  // namespace host
