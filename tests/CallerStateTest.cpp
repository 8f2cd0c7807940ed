// Hooked calls the game cannot tell from its own: whatever a hooked path
// does (nothing, a settings read, a log line), the thread's last error, its
// direction flag, its x87 control word and MXCSR come back as they went in,
// and numbers read under the game's modes (single precision, denormals
// flushed) are read right.
#include "PluginSupport.h"

namespace {

using plugin_support::PluginTest;
using settings_cases::ReferenceWith;

std::uint32_t Bits(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

class CallerState : public PluginTest {};

TEST_F(CallerState, EveryHookedPathHandsTheThreadBackAsItCame) {
    Prepare(1001, ReferenceWith({{1, "reload 1"}}));
    directory.AgeSettings();
    Load();
    standin::LogHostEvents(false);  // the doubles then copy nothing that a set direction flag could turn round
    int edits = 0;
    const auto edit = [&](const char* line3) {
        directory.WriteSettings(ReferenceWith({{1, "reload 1"}, {3, line3}, {4, "value4 0.1"}}));
        ++edits;
    };
    struct Path {
        const char* name;
        bool aim;  // runs the game's aim doubles (C++ that must see the direction flag clear)
        std::function<standin::HostCallOutcome()> run;
    };
    const std::vector<Path> paths = {
        {"aim call, substitution", true,
         [&] {
             standin::Character().SetWeapon(22);
             static const float point[3] = {1, 2, 3};
             return standin::RunHostAimCall({&hostObject, point, 0, 0, 0});
         }},
        {"aim call, pass-through", true,
         [&] {
             standin::Character().SetWeapon(40);
             static const float point[3] = {1, 2, 3};
             return standin::RunHostAimCall({&hostObject, point, 0, 0, 0});
         }},
        {"frame, file unchanged", false, [] { return standin::RunHostFrame(); }},
        {"frame that reads an edit", false,
         [&] {
             edit(edits % 2 ? "value3 1e-40" : "value3 1.0e-40");
             return standin::RunHostFrame();
         }},
        {"frame that reads and logs a mistake", false,
         [&] {
             edit(edits % 2 ? "value3 abc" : "value3 abcd");
             return standin::RunHostFrame();
         }},
    };
    // Single precision, round to nearest, exceptions masked (as games set
    // the x87 unit); SSE with flush to zero and denormals as zero.
    for (bool direction : {false, true})
        for (const Path& path : paths) {
            if (direction && path.aim) continue;
            SCOPED_TRACE(std::string(path.name) + (direction ? ", direction flag set" : ""));
            const standin::ThreadState game{0xBEEF, 0x007F, 0x9FC0, direction};
            standin::SetHostCallState(&game);
            const standin::HostCallOutcome outcome = path.run();
            standin::SetHostCallState(nullptr);
            EXPECT_TRUE(outcome.stackBalanced && outcome.registersPreserved);
            EXPECT_EQ(outcome.stateAfter.lastError, game.lastError);
            EXPECT_EQ(outcome.stateAfter.x87Control, game.x87Control);
            EXPECT_EQ(outcome.stateAfter.mxcsr, game.mxcsr);
            EXPECT_EQ(outcome.stateAfter.direction, game.direction);
        }
    EXPECT_GE(standin::Counters().settingsOpens, 4) << "the edits were read";
    // The last read under the game's modes: a denormal and 0.1, exactly.
    edit("value3 1e-40");
    const standin::ThreadState game{0xBEEF, 0x007F, 0x9FC0, false};
    standin::SetHostCallState(&game);
    standin::RunHostFrame();
    standin::SetHostCallState(nullptr);
    EXPECT_EQ(standin::ReadHostWord(host::kAimValues[0]), Bits(1e-40f));
    EXPECT_EQ(standin::ReadHostWord(host::kAimValues[1]), Bits(0.1f));
    const std::string log = directory.ReadLog();
    EXPECT_NE(log.find("\"abc\""), std::string::npos) << log;
}

}  // namespace
