// The checker's reading of a game executable from disk: what it refuses to
// take for the game, and what the plugin's own check makes of the image it
// lays out, over a small 32-bit program built here byte by byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "../GameLayouts.h"
#include "host/GameCheck.h"
#include "tools/settings_checker/GameFile.h"

namespace {

// A 32-bit Windows program with one code section from 0x1000 that reaches
// past the last build probe, its file data ending where the last byte put
// in it is (the rest the loader fills with zeros).
struct Program {
    std::uint32_t base = 0x400000;
    std::uint16_t machine = 0x14C;
    std::uint16_t magic = 0x10B;
    std::uint16_t characteristics = 0x0102;   // an executable, 32-bit
    std::uint32_t sectionFlags = 0x60000020;  // code, execute, read
    std::string section;                      // the section's file data, from 0x1000
    static constexpr std::uint32_t kSectionSize = 0x460000;

    // Bytes at `address` (preferred-base address) in the section.
    Program& Put(std::uint32_t address, std::initializer_list<unsigned> bytes) {
        std::size_t at = address - 0x401000;
        if (section.size() < at + bytes.size()) section.resize(at + bytes.size(), '\xCC');
        for (unsigned b : bytes) section[at++] = static_cast<char>(b);
        return *this;
    }
    Program& Call(std::uint32_t site, std::uint32_t destination, unsigned op = 0xE8) {
        const std::uint32_t d = destination - site - 5;
        return Put(site, {op, d & 0xFF, d >> 8 & 0xFF, d >> 16 & 0xFF, d >> 24});
    }
    // The game as build 1001 has it: the probe word and both calls.
    static Program Game() {
        Program p;
        p.Put(0x401000, {0x55, 0x8B, 0xEC, 0x53});
        p.Call(host::kAimPointCallSite, host::kAimPointFunction);
        p.Call(host::kFrameCallSite, 0x53F0A0);
        return p;
    }
    std::string Bytes() const {
        std::string b(0x400, '\0');
        auto put16 = [&b](std::size_t at, std::uint32_t v) {
            b[at] = static_cast<char>(v);
            b[at + 1] = static_cast<char>(v >> 8);
        };
        auto put32 = [&](std::size_t at, std::uint32_t v) {
            put16(at, v & 0xFFFF);
            put16(at + 2, v >> 16);
        };
        b[0] = 'M';
        b[1] = 'Z';
        put32(0x3C, 0x80);
        std::memcpy(&b[0x80], "PE\0\0", 4);
        put16(0x84, machine);
        put16(0x86, 1);     // one section
        put16(0x94, 0xE0);  // the optional header's size
        put16(0x96, characteristics);
        const std::size_t o = 0x98;
        put16(o, magic);
        put32(o + 28, base);
        put32(o + 32, 0x1000);  // section alignment
        put32(o + 36, 0x200);   // file alignment
        put32(o + 56, 0x1000 + kSectionSize);
        put32(o + 60, 0x400);  // the headers
        put32(o + 92, 16);
        const std::size_t s = o + 0xE0;
        std::memcpy(&b[s], ".text\0\0\0", 8);
        put32(s + 8, kSectionSize);
        put32(s + 12, 0x1000);
        put32(s + 16, static_cast<std::uint32_t>(section.size()));
        put32(s + 20, 0x400);
        put32(s + 36, sectionFlags);
        return b + section;
    }
};

std::string Parsed(const std::string& bytes, checker::ExecutableImage& image) {
    return image.Parse(bytes);
}

TEST(GameFile, WhatIsNotTheGameIsToldForWhatItIs) {
    const std::string game = Program::Game().Bytes();
    Program amd64 = Program::Game();
    amd64.machine = 0x8664;
    amd64.magic = 0x20B;
    Program bit64Header = Program::Game();
    bit64Header.magic = 0x20B;
    Program arm = Program::Game();
    arm.machine = 0x1C4;
    Program dll = Program::Game();
    dll.characteristics |= 0x2000;
    std::string dos = game;
    dos[0x80] = 'N';
    std::string farHeader = game;
    farHeader[0x3F] = '\x7F';
    struct Case {
        const char* name;
        std::string bytes;
        const char* says;
    };
    const Case cases[] = {
        {"empty", "", "not a Windows program"},
        {"a settings file", "1\r\n", "not a Windows program"},
        {"only the mark", "MZ", "cut short"},
        {"an old DOS program", dos, "an old DOS program"},
        {"a 64-bit program", amd64.Bytes(), "a 64-bit program"},
        {"a 64-bit header on a 32-bit machine", bit64Header.Bytes(), "a 64-bit program"},
        {"another processor", arm.Bytes(), "another kind of processor (machine 0x01C4)"},
        {"a DLL", dll.Bytes(), "a DLL, not a program"},
        {"its header past the end", farHeader, "cut short"},
        {"cut inside the headers", game.substr(0, 0x150), "cut short"},
        {"cut 512 bytes into its code", game.substr(0, game.size() - 512), "holds data past the end of the file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        checker::ExecutableImage image;
        EXPECT_NE(Parsed(c.bytes, image).find(c.says), std::string::npos) << Parsed(c.bytes, image);
    }
    checker::ExecutableImage image;
    EXPECT_EQ(Parsed(game, image), "");
}

// A game named that is not there: the answer speaks of games, and names the
// full path looked at, also for a relative name.
TEST(GameFile, AMissingGameIsToldAsAGameWithTheFullPathLookedAt) {
    const checker::GameReport report = checker::CheckGameFile("nowhere/nosuch.exe");
    EXPECT_FALSE(report.readable);
    const std::string text = checker::FormatGameText(report);
    EXPECT_NE(text.find("no such file: name the game's executable"), std::string::npos) << text;
    EXPECT_EQ(text.find("aimingSets.dat"), std::string::npos) << text;
    EXPECT_NE(text.find("(looked at /"), std::string::npos) << text;
    EXPECT_NE(text.find("/nowhere/nosuch.exe)"), std::string::npos) << text;
}

TEST(GameFile, TheImageIsLaidOutAsTheLoaderLaysItOut) {
    Program p = Program::Game();
    p.section.resize(0x2000);
    checker::ExecutableImage image;
    ASSERT_EQ(Parsed(p.Bytes(), image), "");
    std::uint32_t word = 0;
    ASSERT_TRUE(image.Read(0x401000, &word, 4));
    EXPECT_EQ(word, 0x53EC8B55u) << "the section's file data at its address";
    ASSERT_TRUE(image.Read(0x400080, &word, 4));
    EXPECT_EQ(word, 0x00004550u) << "the headers at the base";
    ASSERT_TRUE(image.Read(0x402FFE, &word, 4));
    EXPECT_EQ(word, 0xCCCCu) << "past the file data, zeros";
    EXPECT_FALSE(image.Read(0x860FFE, &word, 4)) << "past the image's end";
    EXPECT_FALSE(image.Read(0x3FFFFE, &word, 4)) << "before its base";
    EXPECT_TRUE(image.Executable(0x527A95));
    EXPECT_FALSE(image.Executable(0x900000));
}

// The plugin's own check over the image read from the file.
TEST(GameFile, ThePluginsCheckDecidesOverTheFilesImage) {
    using host::AimSiteHolds;
    using host::FrameSiteHolds;
    const std::uint32_t site = host::kAimPointCallSite;
    struct Case {
        const char* name;
        Program program;
        std::int32_t build;
        AimSiteHolds aim;
        FrameSiteHolds frame;
        bool active, toggle;
    };
    Program build1011 = Program::Game();
    build1011.Put(0x401000, {0xCC, 0xCC, 0xCC, 0xCC}).Put(0x8245BC, {0xBF, 0x94, 0x00, 0x00});
    Program unknownBuild = Program::Game();
    unknownBuild.Put(0x401000, {0x90, 0x90, 0x90, 0x90});
    Program jumpIntoGame = Program::Game();
    jumpIntoGame.Call(site, 0x530000, 0xE9);
    Program callOut = Program::Game();
    callOut.Call(site, 0x10000000);
    Program otherFunction = Program::Game();
    otherFunction.Call(site, 0x521510);
    Program foreign = Program::Game();
    foreign.Put(site, {0x8B, 0x45, 0x08, 0x89, 0x01});
    Program throughSlot = Program::Game();
    throughSlot.Put(site, {0xFF, 0x15, 0x00, 0x00, 0x53, 0x00}).Put(0x530000, {0x00, 0x15, 0x52, 0x00});
    Program zeros = Program::Game();
    zeros.section.resize(0x100000);  // the aim call lies past the file data
    Program moved = Program::Game();
    moved.base = 0x1400000;
    Program frameJump = Program::Game();
    frameJump.Call(host::kFrameCallSite, 0x53F0A0, 0xE9);
    const Case cases[] = {
        {"build 1001", Program::Game(), 1001, AimSiteHolds::GameCall, FrameSiteHolds::GameCall, true, true},
        {"build 1011", build1011, 1011, AimSiteHolds::GameCall, FrameSiteHolds::NoFrameCall, true, false},
        {"an unknown build with the game's aim call", unknownBuild, 0, AimSiteHolds::GameCall,
         FrameSiteHolds::NoFrameCall, true, false},
        {"a jump into the game", jumpIntoGame, 1001, AimSiteHolds::BranchIntoImage, FrameSiteHolds::GameCall, false,
         false},
        {"a call out of the image", callOut, 1001, AimSiteHolds::OutOfImage, FrameSiteHolds::GameCall, false, false},
        {"another function", otherFunction, 1001, AimSiteHolds::OtherGameFunction, FrameSiteHolds::GameCall, false,
         false},
        {"foreign code", foreign, 1001, AimSiteHolds::NotACall, FrameSiteHolds::GameCall, false, false},
        {"a call through a slot", throughSlot, 1001, AimSiteHolds::BranchIntoImage, FrameSiteHolds::GameCall, false,
         false},
        {"zeros where the call was", zeros, 1001, AimSiteHolds::NotACall, FrameSiteHolds::NotACall, false, false},
        {"a moved image", moved, 1001, AimSiteHolds::Nothing, FrameSiteHolds::NoFrameCall, false, false},
        {"a jump at the frame call", frameJump, 1001, AimSiteHolds::GameCall, FrameSiteHolds::NotACall, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        checker::ExecutableImage image;
        ASSERT_EQ(Parsed(c.program.Bytes(), image), "");
        const host::GameCheck game = host::CheckGame(image);
        EXPECT_EQ(game.build, c.build);
        EXPECT_EQ(game.aim.holds, c.aim);
        EXPECT_EQ(game.frame.holds, c.frame);
        EXPECT_EQ(game.Active(), c.active);
        EXPECT_EQ(game.Undecided(), c.aim == AimSiteHolds::OutOfImage) << "only the running game shows";
        EXPECT_EQ(game.WeaponOffsets(), c.active) << "nothing in a file is another mod's jump";
        EXPECT_EQ(game.ToggleAndReload(), c.toggle);
    }
}

// Each layout as the loader's rules give it: refused with its reason, or
// mapped with the aim call's bytes where the loader puts them. (The Wine
// suite compares every byte of each with the loader's own mapping.)
TEST(GameFile, EachLayoutIsReadAsTheLoaderMapsIt) {
    for (const game_layouts::Layout& layout : game_layouts::Layouts()) {
        SCOPED_TRACE(layout.name);
        checker::ExecutableImage image;
        const std::string problem = image.Parse(layout.program.Bytes());
        if (*layout.refused) {
            EXPECT_NE(problem.find("Windows would not start this program: "), std::string::npos) << problem;
            EXPECT_NE(problem.find(layout.refused), std::string::npos) << problem;
            continue;
        }
        ASSERT_EQ(problem, "");
        unsigned char bytes[5];
        std::string hex;
        if (image.Read(host::kAimPointCallSite, bytes, 5))
            for (unsigned char b : bytes) {
                char text[4];
                std::snprintf(text, sizeof text, hex.empty() ? "%02X" : " %02X", b);
                hex += text;
            }
        EXPECT_EQ(hex, layout.aimBytes);
    }
}

// What only the running game shows is told as such, in the text, the JSON
// and the exit status alike: a branch into a DLL (through an import slot,
// named), out of the image, and an image that asks to be movable.
TEST(GameFile, WhatOnlyTheRunningGameShowsIsOneVerdictEverywhere) {
    struct Case {
        const char* layout;
        const char* says;
    };
    const Case cases[] = {
        {"ordinary", ""},
        {"a call through an import slot",
         "cannot tell from the file: the aim call leads into a system DLL (KERNEL32.dll!GetTickCount)"},
        {"a jump through an import slot", "leads into a system DLL (KERNEL32.dll!GetTickCount)"},
        {"a call out of the image", "cannot tell from the file: the aim call leads out of the game's executable"},
        {"relocatable (dynamic base)", "cannot tell from the file: the program asks to be movable"},
    };
    char folder[] = "/tmp/aimingsets-game-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/game.exe";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.layout);
        for (const game_layouts::Layout& layout : game_layouts::Layouts())
            if (std::string(layout.name) == c.layout) {
                std::FILE* f = std::fopen(path.c_str(), "wb");
                const std::string bytes = layout.program.Bytes();
                std::fwrite(bytes.data(), 1, bytes.size(), f);
                std::fclose(f);
            }
        const checker::GameReport report = checker::CheckGameFile(path);
        const std::string text = checker::FormatGameText(report), json = checker::FormatGameJson(report);
        const bool cannotTell = *c.says != '\0';
        EXPECT_EQ(checker::GameExitStatus(report), cannotTell ? 3 : 0) << text;
        EXPECT_EQ(json.find("\"active\": null") != std::string::npos, cannotTell) << json;
        EXPECT_EQ(json.find("\"verdict\": \"cannot_tell\"") != std::string::npos, cannotTell) << json;
        if (cannotTell) {
            EXPECT_NE(text.find(c.says), std::string::npos) << text;
            EXPECT_EQ(text.find("settings: on"), std::string::npos) << text;
        }
    }
    std::remove(path.c_str());
    rmdir(folder);
}

// Files far larger than the game: only the headers and the few bytes the
// check needs are read, by offset, so a 300 MB program is checked and a
// 600 MB file is refused as no game, neither read whole (sparse files here:
// a whole read would take seconds and hundreds of megabytes).
TEST(GameFile, LargeFilesAreReadOnlyWhereTheCheckLooks) {
    char folder[] = "/tmp/aimingsets-large-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/game.exe";
    const std::string game = game_layouts::Layouts().front().program.Bytes();
    for (const std::uint64_t size : {std::uint64_t{300} << 20, std::uint64_t{600} << 20}) {
        SCOPED_TRACE(size);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(game.data(), 1, game.size(), f);
        std::fclose(f);
        ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(size)), 0);
        const checker::GameReport report = checker::CheckGameFile(path);
        if (size > (std::uint64_t{512} << 20)) {
            EXPECT_EQ(checker::GameExitStatus(report), 2);
            EXPECT_NE(report.problem.find("larger than any executable of the game (over 512 MB): not the game"),
                      std::string::npos)
                << report.problem;
        } else {
            EXPECT_EQ(checker::GameExitStatus(report), 0) << checker::FormatGameText(report);
            EXPECT_EQ(report.aimBytes, "E8 66 9A FF FF");
        }
    }
    std::remove(path.c_str());
    rmdir(folder);
}

}  // namespace
