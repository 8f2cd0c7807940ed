// The settings checker's --game and the real plugin on the same game image:
// the image as the stand-in holds it, written to disk as an executable and
// read back by the checker, against what the plugin loaded into that very
// image does and logs. The two decide with one check; this shows that what
// the checker reads from the file is what the plugin reads in memory.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "PluginSupport.h"
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
        // And the text a player reads says the same.
        const std::string text = checker::FormatGameText(report);
        EXPECT_NE(text.find(game.Active() ? "weapon offsets: on" : "not active"), std::string::npos) << text;
    }
}

}  // namespace
