// libFuzzer target: arbitrary bytes as a game executable, read as the
// checker reads one. Whatever they hold, the reader stays inside them, a
// read in one piece agrees with the same read byte by byte, the plugin's own
// check over the image keeps its promises, and both reports can be written.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/GameCheck.h"
#include "tools/settings_checker/GameFile.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

// `size` bytes at `address`, whole and byte by byte: the same answer.
void RequireSameRead(const checker::ExecutableImage& image, std::uint32_t address, std::uint32_t size) {
    std::uint8_t whole[8] = {}, single[8] = {};
    const bool wholeRead = image.Read(address, whole, size);
    bool eachRead = true;
    for (std::uint32_t i = 0; i < size && eachRead; ++i) eachRead = image.Read(address + i, single + i, 1);
    Require(wholeRead == eachRead);
    if (wholeRead) Require(std::memcmp(whole, single, size) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checker::ExecutableImage image;
    const std::string problem = image.Parse(std::string(reinterpret_cast<const char*>(data), size));
    if (!problem.empty()) return 0;

    const host::GameCheck game = host::CheckGame(image);
    Require(game.probe >= -1 &&
            game.probe < static_cast<int>(sizeof host::kBuildProbes / sizeof host::kBuildProbes[0]));
    Require(game.build == (game.probe < 0 ? 0 : host::kBuildProbes[game.probe].build));
    Require(game.atPreferredBase == (image.Base() == host::kPreferredImageBase));
    Require(!game.Active() || (game.atPreferredBase && game.aim.verdict != host::AimVerdict::Unknown));
    Require(!(game.Active() && game.Undecided()));
    Require(game.aim.what != nullptr && (game.Active() || game.Undecided() || game.WhyInactive()[0] != '\0'));
    // What lies outside a file's image only the running game shows: no branch
    // in a file is another mod's hook, nor the plugin's gate, nor leads to no
    // code; a branch out of it, or through a slot the loader fills, is
    // undecided, and nothing else is.
    using Holds = host::AimSiteHolds;
    Require(game.aim.holds != Holds::ModCall && game.aim.holds != Holds::ModJump &&
            game.aim.holds != Holds::EarlierGate && game.aim.holds != Holds::NoCodeThere);
    Require((game.aim.verdict == host::AimVerdict::Undecided) ==
            (game.aim.holds == Holds::ThroughImportSlot || game.aim.holds == Holds::OutOfImage));
    if (game.aim.holds == Holds::ThroughImportSlot) Require(!image.ImportAt(game.aim.slot).empty());
    Require(!image.Executable(image.Base() - 1) && !image.Executable(image.Base() + image.Size()));

    for (const std::uint32_t at : {image.Base(), image.Base() + image.Size() - 4, image.Rebase(host::kAimPointCallSite),
                                   image.Rebase(host::kFrameCallSite), image.Rebase(0x401000)})
        RequireSameRead(image, at, 8);

    checker::GameReport report;
    report.readable = report.program = true;
    report.imageBase = image.Base();
    report.mayMove = image.MayMove();
    report.game = game;
    if (game.aim.slot) report.aimImport = image.ImportAt(game.aim.slot);
    Require(!checker::FormatGameText(report).empty() && !checker::FormatGameJson(report).empty());
    Require((checker::VerdictOf(report) == checker::GameVerdict::CannotTell) ==
            !checker::WhyCannotTell(report).empty());
    return 0;
}
