// The game's executable as the checker reads it from disk: what the plugin
// would find in it and what it would do there, decided by the plugin's own
// check (host/GameCheck.h). Nothing of the executable is run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/GameCheck.h"

namespace checker {

// A 32-bit Windows executable's image, laid out from its file as the system
// loader lays it out: headers, then each section at its address, the part
// of it the file does not hold reading as zeros.
class ExecutableImage final : public host::GameImage {
public:
    // Takes `bytes` (the whole file); "" when they are a 32-bit Windows
    // program the game could be, or why not, in a player's words.
    std::string Parse(std::string bytes);

    std::uint32_t Base() const override { return base_; }
    std::uint32_t Size() const override { return size_; }
    bool Read(std::uint32_t address, void* into, std::uint32_t size) const override;
    bool Executable(std::uint32_t address) const override;
    // Whether the system may load it elsewhere than Base() (it can be relocated).
    bool MayMove() const { return mayMove_; }

private:
    struct Section {
        std::uint32_t address, size;  // in the image (relative to the base)
        std::uint32_t fileOffset, fileSize;
        bool executable;
    };
    // The file byte behind image offset `rva`: -1 where the image has none,
    // -2 where the loader fills in a zero.
    long long FileOffsetOf(std::uint32_t rva) const;

    std::string bytes_;
    std::uint32_t base_ = 0, size_ = 0, headers_ = 0;
    bool mayMove_ = false;
    std::vector<Section> sections_;
};

struct GameReport {
    std::string path;      // as given
    std::string fullPath;  // as the system names it
    bool readable = false;
    bool program = false;  // a 32-bit Windows program the game could be
    std::string problem;   // why not (either of the two)
    std::uint32_t imageBase = 0;
    bool mayMove = false;
    host::GameCheck game;
    std::string aimBytes, frameBytes, probeBytes;  // as hex, "" where the image has none
    // Where the plugin reads and writes, when AimingPlugin.dll sits beside the game.
    std::string folder;
    bool dllBeside = false, settingsBeside = false;
    // The log beside it, from the plugin's last start there: its first line
    // (version and time) and its verdict ("" where there is none).
    std::string logStarted, logVerdict;
};

GameReport CheckGameFile(const std::string& path);

std::string FormatGameText(const GameReport& report);
std::string FormatGameJson(const GameReport& report);

// 0: the plugin works in this game; 1: it would change nothing in it;
// 2: the file cannot be read, or is no 32-bit Windows program.
int GameExitStatus(const GameReport& report);

// Whether the file at `path` looks like a program rather than a settings
// file (its name ends in .exe, or it starts as a Windows program does).
bool LooksLikeProgram(const std::string& path);

}  // namespace checker
