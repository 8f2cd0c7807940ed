// The settings checker's --game and the real plugin on the same game image:
// the image as the stand-in holds it, written to disk as an executable and
// read back by the checker, against what the plugin loaded into that very
// image does and logs. The two decide with one check; this shows that what
// the checker reads from the file is what the plugin reads in memory.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "PluginSupport.h"
#include "tools/settings_checker/FileBytes.h"
#include "tools/settings_checker/GameFile.h"

namespace {

constexpr std::uint32_t kAim = host::kAimPointCallSite;
constexpr std::uint32_t kFrame = host::kFrameCallSite;

// What the plugin's log says it did, in the terms the checker reports.
struct PluginDid {
    bool active = false;
    bool offsets = false;
    bool toggle = false;
};

PluginDid FromLog(const std::string& log) {
    PluginDid did;
    did.active = log.find("verdict: ready:") != std::string::npos;
    did.offsets = log.find("weapon offsets on") != std::string::npos;
    did.toggle = log.find("toggle on") != std::string::npos;
    return did;
}

class GameCheck : public plugin_support::PluginTest {
protected:
    std::wstring GamePath() const { return standin::Wide(directory.Path() + "game.exe"); }
    ~GameCheck() override { DeleteFileW(GamePath().c_str()); }
};

TEST_F(GameCheck, TheCheckerSaysWhatThePluginDoesOnTheSameImage) {
    struct Case {
        std::string name;
        std::int32_t build;
        std::function<void()> alter;  // on top of ResetHost(build)
    };
    std::vector<Case> cases;
    for (std::int32_t build : standin::kBuilds) cases.push_back({"build " + std::to_string(build), build, [] {}});
    cases.push_back({"a jump into the game at the aim call", 1001,
                     [] { standin::SetCallInstruction(kAim, standin::JumpBytes(kAim, host::kAimPointFunction)); }});
    cases.push_back({"foreign code at the aim call", 1001, [] {
                         standin::SetCallInstruction(kAim, {0x8B, 0x45, 0x08, 0x89, 0x01});
                     }});
    cases.push_back({"a call of another function of the game", 3200,
                     [] { standin::SetCallInstruction(kAim, standin::CallBytes(kAim, standin::kHostFrameFunction)); }});
    cases.push_back({"a call through a slot in the game", 1001, [] {
                         standin::WriteHostWord(0x700200, host::kAimPointFunction);
                         standin::SetCallInstruction(kAim, standin::IndirectCallBytes(0x700200));
                     }});
    cases.push_back({"a jump at the frame call", 1002, [] {
                         standin::SetCallInstruction(kFrame, standin::JumpBytes(kFrame, standin::kHostFrameFunction));
                     }});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Prepare(c.build, settings_cases::Join(settings_cases::ReferenceLines()));
        c.alter();
        ASSERT_TRUE(standin::WriteImageFile(GamePath()));
        const checker::GameReport report = checker::CheckGameFile(standin::Utf8(GamePath()));
        ASSERT_TRUE(report.program) << report.problem;
        Load();
        Unload();
        const std::string log = directory.ReadLog();
        const PluginDid did = FromLog(log);
        const host::GameCheck& game = report.game;
        EXPECT_EQ(game.build, c.build);
        EXPECT_EQ(game.Active(), did.active) << log;
        EXPECT_EQ(game.WeaponOffsets(), did.offsets) << log;
        EXPECT_EQ(game.ToggleAndReload(), did.toggle) << log;
        EXPECT_NE(log.find(game.aim.what), std::string::npos) << "the log names what the checker saw: " << log;
        const std::string why = !game.Active()            ? std::string("verdict: not active, ") + game.WhyInactive()
                                : !game.ToggleAndReload() ? host::WhyNoFrameHook(game.frame.holds)
                                                          : "verdict: ready";
        EXPECT_NE(log.find(why), std::string::npos) << log;
        // Checked again after that start, the checker quotes the log's verdict.
        const checker::GameReport after = checker::CheckGameFile(standin::Utf8(GamePath()));
        EXPECT_EQ(after.logVerdict.rfind("verdict: ", 0), 0u) << after.logVerdict;
        EXPECT_NE(log.find(after.logVerdict + "\r\n"), std::string::npos) << after.logVerdict;
        EXPECT_EQ(after.logStarted.rfind("AimingPlugin ", 0), 0u) << after.logStarted;
        // And what a player reads, or a program, says the same.
        const std::string text = checker::FormatGameText(report);
        EXPECT_NE(text.find(game.Active() ? "weapon offsets: on" : "not active"), std::string::npos) << text;
        const std::string json = checker::FormatGameJson(report);
        for (const std::string& field : {std::string("\"active\": ") + (did.active ? "true" : "false"),
                                         std::string("\"weaponOffsets\": ") + (did.offsets ? "true" : "false"),
                                         std::string("\"toggle\": ") + (did.toggle ? "true" : "false")})
            EXPECT_NE(json.find(field), std::string::npos) << field << " in " << json;
    }
}

// What no game can be, made from the stand-in's own image: the checker says
// what it is, and that the plugin has nothing to do there (a 64-bit program
// cannot even load it).
TEST_F(GameCheck, WhatCannotBeTheGameIsSaidForWhatItIs) {
    Prepare(1001, std::nullopt);
    ASSERT_TRUE(standin::WriteImageFile(GamePath()));
    const checker::FileBytes file = checker::ReadFileBytes(standin::Utf8(GamePath()), std::size_t{64} << 20);
    const std::string& image = file.bytes;
    ASSERT_TRUE(file.read && !file.more && image.size() > 0x1000u);
    std::string amd64 = image;
    std::uint32_t header = 0;
    std::memcpy(&header, &image[0x3C], 4);
    amd64[header + 4] = '\x64';
    amd64[header + 5] = '\x86';
    struct Case {
        const char* name;
        std::string bytes;
        const char* says;
    };
    const Case cases[] = {
        {"cut short", image.substr(0, image.size() / 2), "it is cut short"},
        {"a 64-bit program", amd64, "it is a 64-bit program"},
        {"a settings file", settings_cases::Join(settings_cases::ReferenceLines()), "it is not a Windows program"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(standin::WriteWholeFile(GamePath(), c.bytes));
        const checker::GameReport report = checker::CheckGameFile(standin::Utf8(GamePath()));
        EXPECT_FALSE(report.program);
        EXPECT_NE(report.problem.find(c.says), std::string::npos) << report.problem;
        EXPECT_EQ(checker::GameExitStatus(report), 2);
        EXPECT_NE(checker::FormatGameText(report).find("not the game: " + report.problem), std::string::npos);
    }
}

}  // namespace
