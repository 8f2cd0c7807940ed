// What the plugin makes of a game image before it writes a byte of it, decided
// in this one place: the plugin asks it of the running game, the settings
// checker of the executable on disk. Plain C++:
// whatever reads the image (the game's memory, or the file) is a GameImage.
// What a file cannot show (where a branch into a DLL leads) it leaves
// undecided, and the plugin decides it as the game runs: the two never
// contradict each other.
#pragma once

#include <cstdint>

#include "host/HostConstants.h"

namespace host {

// A game image as the check reads it. Addresses are those the running game
// would use: the image's base plus the offset in the image.
class GameImage {
public:
    virtual ~GameImage() = default;
    // Where the image is (the running game), or where it asks to be loaded
    // (the file); the bytes it spans from there.
    virtual std::uint32_t Base() const = 0;
    virtual std::uint32_t Size() const = 0;
    // Copies `size` bytes at `address`; false when not every one is there.
    virtual bool Read(std::uint32_t address, void* into, std::uint32_t size) const = 0;
    // Whether code may run at `address`.
    virtual bool Executable(std::uint32_t address) const = 0;
    // Whether `destination`, called from `site`, is the plugin's own gate that
    // an earlier load of it left in this process (only a running game has one).
    virtual bool EarlierGate(std::uint32_t site, std::uint32_t destination) const;
    // Whether the system's loader fills the pointer slot at `slot` as the game
    // starts (a slot of the import address table, read from a file: what it
    // holds on disk is not where the branch through it leads).
    virtual bool LoaderFills(std::uint32_t slot) const;
    // Whether what lies outside the image can be looked at: it can in the
    // running game, not in a file, where a DLL may lie there once it runs.
    virtual bool SeesOutside() const;

    // The image's address of `address`, an address at the preferred base.
    std::uint32_t Rebase(Address address) const { return RebaseFrom(Base(), address); }
    bool Inside(std::uint32_t address) const { return address - Base() < Size(); }
};

// Index into kBuildProbes of the first probe whose whole word the image holds,
// or -1.
int FindBuildProbe(const GameImage& image);

// What the aim call site holds.
enum class AimSiteHolds {
    Nothing,            // not in the image's memory
    NotACall,           // no branch the plugin can follow
    GameCall,           // the game's own call of its aim function
    EarlierGate,        // the plugin's gate, left by an earlier load
    ModCall,            // another mod's call of its hook, out of the image into code
    ModJump,            // another mod's jump to its own code, out of the image
    OtherGameFunction,  // a call of another function of the game
    BranchIntoImage,    // a jump into the game's own code
    NoCodeThere,        // a branch out of the image to memory that holds no code
    ThroughImportSlot,  // a branch through a slot the loader fills: into a DLL (a file only)
    OutOfImage,         // a branch out of the image, where only the running game shows what lies (a file only)
};

enum class AimVerdict {
    Unknown,       // not the game's aim call, nor a mod's hook of it: change nothing at all
    SettingsOnly,  // another mod's jump holds it: settings and frame call, no aim hook
    Hooked,        // the plugin's aim hook runs on every aim call
    Undecided,     // only the running game shows (a file's branch into a DLL): the plugin decides then
};

struct AimSiteCheck {
    AimSiteHolds holds = AimSiteHolds::Nothing;
    AimVerdict verdict = AimVerdict::Unknown;
    std::uint32_t site = 0;         // in the image
    std::uint32_t destination = 0;  // where its branch leads, when it is one
    std::uint32_t slot = 0;         // the pointer slot of an indirect branch (0: none)
    const char* what = "";          // what it holds, in a player's words
    // Why the weapon offsets are off where the rest works ("" otherwise).
    const char* WhyNoOffsets() const {
        return verdict == AimVerdict::SettingsOnly ? "another mod holds the aim call" : "";
    }
};

// Positive evidence only: the game's own call of its aim function (or the
// plugin's gate, from an earlier load), or another mod's hook that leads out
// of the game's image into code. Anything else is a game the plugin does not
// know. Read from a file, a branch out of the image, or through a slot the
// loader fills, is undecided: only the running game shows where it leads.
AimSiteCheck CheckAimSite(const GameImage& image);

// What the frame call site holds, on a build that has it.
enum class FrameSiteHolds {
    NoFrameCall,  // this build reaches its frame function another way
    NotACall,     // not E8 rel32 (another mod's jump or indirect call, or nothing)
    GameCall,     // a call into the game's image: its frame function
    ModCall,      // a call out of the image: another mod's hook
};

struct FrameSiteCheck {
    FrameSiteHolds holds = FrameSiteHolds::NoFrameCall;
    std::uint32_t site = 0;
    std::uint32_t destination = 0;
    bool Hookable() const { return holds == FrameSiteHolds::GameCall || holds == FrameSiteHolds::ModCall; }
};

// Why the toggle and live reload are off where the frame call holds `holds`,
// in a player's words ("" where it can be hooked).
const char* WhyNoFrameHook(FrameSiteHolds holds);

// The frame call is hooked on the builds that have it, where it holds a
// 5-byte relative call: a jump would become a call (the stack one word off
// on return), and a 6-byte indirect call would leave its last byte to run
// as an instruction of its own.
FrameSiteCheck CheckFrameSite(const GameImage& image, std::int32_t build);

// Everything the plugin decides from the image, in the order it decides it:
// an image away from the game's base is looked at no further.
struct GameCheck {
    int probe = -1;  // index into kBuildProbes, or -1
    std::int32_t build = 0;
    bool atPreferredBase = false;
    AimSiteCheck aim;
    FrameSiteCheck frame;

    // Whether the plugin changes anything in this game at all.
    bool Active() const {
        return atPreferredBase && (aim.verdict == AimVerdict::Hooked || aim.verdict == AimVerdict::SettingsOnly);
    }
    // Whether only the running game can tell (never for the running game itself).
    bool Undecided() const { return atPreferredBase && aim.verdict == AimVerdict::Undecided; }
    // Why not, in a player's words ("" when active).
    const char* WhyInactive() const;
    bool WeaponOffsets() const { return Active() && aim.verdict == AimVerdict::Hooked; }
    bool ToggleAndReload() const { return Active() && frame.Hookable(); }
};

GameCheck CheckGame(const GameImage& image);

}  // namespace host
