// The game's executable as the checker reads it from disk: what the plugin
// would find in it and what it would do there, decided by the plugin's own
// check (host/GameCheck.h). Nothing of the executable is run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/GameCheck.h"
#include "tools/settings_checker/FileBytes.h"

namespace checker {

// A 32-bit Windows executable's image, laid out from its file by the
// system loader's rules: the headers, then each section in the order of the
// section table at its address, rounded to the page (a later one over an
// earlier where they overlap), its file data taken from the offset rounded
// down to 512 bytes for the raw size rounded up to 512, and zeros where the
// file holds nothing. A file the loader refuses is refused with its reason.
// Only the headers are read to lay it out; each Read reads its bytes from
// the file then, so memory does not grow with the file.
class ExecutableImage final : public host::GameImage {
public:
    // "" when `bytes` are a 32-bit Windows program the game could be, or why
    // not, in a player's words.
    std::string Parse(std::unique_ptr<ByteSource> bytes);
    std::string Parse(std::string bytes) { return Parse(BytesInMemory(std::move(bytes))); }

    std::uint32_t Base() const override { return base_; }
    std::uint32_t Size() const override { return size_; }
    bool Read(std::uint32_t address, void* into, std::uint32_t size) const override;
    bool Executable(std::uint32_t address) const override;
    bool LoaderFills(std::uint32_t slot) const override { return !ImportAt(slot).empty(); }
    bool SeesOutside() const override { return false; }
    // Whether the system may load it elsewhere than Base() (it can be relocated).
    bool MayMove() const { return mayMove_; }
    // The function the loader puts in import slot `slot` ("KERNEL32.dll!GetTickCount",
    // "WSOCK32.dll!#23" by number), or "" when `slot` is no import slot.
    std::string ImportAt(std::uint32_t slot) const;

private:
    struct Piece {
        std::uint32_t address, size;  // in the image (relative to the base), page-rounded
        std::uint64_t fileOffset;
        std::uint32_t fileSize;  // the bytes of it taken from the file
        bool executable;
    };
    std::string Layout(std::uint64_t fileSize);

    std::unique_ptr<ByteSource> bytes_;
    std::uint32_t base_ = 0, size_ = 0;
    std::uint32_t importRva_ = 0, importSize_ = 0;
    bool mayMove_ = false;
    std::vector<Piece> pieces_;  // the headers, then the sections in the table's order
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
    std::string aimImport;                         // the import the aim call's slot is filled with, if any
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

// What the checker can say of the plugin in this game: the one verdict the
// text, the JSON and the exit status all give.
enum class GameVerdict {
    Works,           // 0: the plugin works in this game
    ChangesNothing,  // 1: it would change nothing in it
    NotAGame,        // 2: the file cannot be read, or is no 32-bit Windows program
    CannotTell,      // 3: only the running game shows (a branch into a DLL, an image that may move)
};
GameVerdict VerdictOf(const GameReport& report);
// Why the checker cannot tell, in a player's words ("" when it can).
std::string WhyCannotTell(const GameReport& report);
int GameExitStatus(const GameReport& report);

// Whether the file at `path` looks like a program rather than a settings
// file (its name ends in .exe, or it starts as a Windows program does).
bool LooksLikeProgram(const std::string& path);

}  // namespace checker
