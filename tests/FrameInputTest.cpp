// The aim toggle and live reload of the real plugin: keys pressed with
// SetKeyboardState, the host's frame routine making its call at 0x53E981, and
// the settings file edited the ways an editor does it.
#include <functional>
#include <random>

#include "PluginSupport.h"

namespace {

using plugin_support::Bits;
using plugin_support::PluginTest;

using settings_cases::ReferenceWith;

class FrameInput : public PluginTest {
protected:
    // aged: the file was saved a while ago (else: just now, and read again
    // for one tick of the file system's clock).
    void Start(std::int32_t build, int reload, bool aged = false) {
        Prepare(build, ReferenceWith({{1, "reload " + std::to_string(reload)}}));
        if (aged) directory.AgeSettings();
        Load();
    }
    // The first component that reaches 0x5334F0 for weapon 22 (row 1: 17, 17.25, 17.5).
    float FirstComponent() {
        const auto offset = OffsetFor(22);
        EXPECT_TRUE(offset.has_value());
        return offset ? plugin_support::FloatOf((*offset)[0]) : -1.0f;
    }
    void Frame(bool rightButton, bool space) {
        standin::SetKeys(rightButton, space);
        const auto outcome = standin::RunHostFrame();
        EXPECT_TRUE(outcome.registersPreserved && outcome.stackBalanced);
    }
};

TEST_F(FrameInput, RightButtonAndSpaceLatchTheToggleUntilTheButtonIsReleased) {
    Start(1001, 0);
    struct Step {
        bool rightButton, space;
        bool zeroed;
    };
    const Step steps[] = {
        {false, false, false}, {false, true, false},  // Space alone does nothing
        {true, false, false},  {true, true, true},    // right button held, Space pressed
        {true, false, true},   {true, true, true},    // Space released, pressed again
        {false, true, false},                         // button released: cleared, Space or not
        {true, false, false},  {true, true, true},   {false, false, false},
    };
    EXPECT_EQ(FirstComponent(), 17.0f);
    int n = 0;
    for (const Step& s : steps) {
        Frame(s.rightButton, s.space);
        EXPECT_EQ(FirstComponent(), s.zeroed ? 0.0f : 17.0f) << "frame " << n++;
    }
}

TEST_F(FrameInput, CallbackRunsAfterTheHostFunctionOnHookedBuildsOnly) {
    for (std::int32_t build : standin::kBuilds) {
        SCOPED_TRACE(build);
        Start(build, 1);
        const bool hooked = host::HasFrameCall(build);
        directory.WriteSettings(ReferenceWith({{1, "reload 1"}, {17, "w1 4.5 5.5 6.5"}}));
        for (int pass = 0; pass < 3; ++pass) {
            standin::Events().clear();
            Frame(true, true);
            if (hooked)
                EXPECT_EQ(standin::Events(),
                          (std::vector<std::string>{"host frame function", "GetKeyState", "GetKeyState"}));
            else
                EXPECT_EQ(standin::Events(), (std::vector<std::string>{"host frame function"}));
        }
        EXPECT_EQ(FirstComponent(), hooked ? 0.0f : 17.0f);
        // The edit is read on hooked builds (a second time when the file
        // system reports the one save in two parts); never elsewhere.
        if (hooked)
            EXPECT_GE(standin::Counters().settingsOpens, 2);
        else
            EXPECT_EQ(standin::Counters().settingsOpens, 1);
        Unload();
    }
}

TEST_F(FrameInput, LiveReloadPicksUpEditsAndStopsAfterLineOneReadsZero) {
    Start(1001, 1, true);
    for (int i = 0; i < 3; ++i) Frame(false, false);
    EXPECT_EQ(standin::Counters().settingsOpens, 1) << "an unchanged file is not read again";
    directory.WriteSettings(ReferenceWith({{1, "reload 1"}, {17, "w1 4.5 5.5 6.5"}}));
    EXPECT_EQ(FirstComponent(), 17.0f);  // not before the next frame
    Frame(true, false);
    EXPECT_EQ(FirstComponent(), 4.5f);
    Frame(true, true);  // the toggle survives reloads
    directory.WriteSettings(ReferenceWith({{1, "reload 1"}, {17, "w1 8.5 5.5 6.5"}}));
    Frame(true, false);
    const auto zeroed = OffsetFor(22);
    EXPECT_EQ((*zeroed)[0], Bits(0.0f));
    EXPECT_EQ((*zeroed)[1], Bits(5.5f));
    Frame(false, false);
    EXPECT_EQ(FirstComponent(), 8.5f);

    const int opens = standin::Counters().settingsOpens;
    directory.WriteSettings(ReferenceWith({{1, "reload 0"}, {17, "w1 9.5 5.5 6.5"}}));
    Frame(false, false);  // one more load, which reads the 0
    EXPECT_EQ(standin::Counters().settingsOpens, opens + 1);
    EXPECT_EQ(FirstComponent(), 9.5f);
    directory.WriteSettings(ReferenceWith({{1, "reload 1"}, {17, "w1 10.5 5.5 6.5"}}));
    for (int i = 0; i < 3; ++i) Frame(false, false);
    EXPECT_EQ(standin::Counters().settingsOpens, opens + 1);
    EXPECT_EQ(FirstComponent(), 9.5f);
}

// An editor saves "reload 0" with a new value, and a frame reads the file
// while only its first lines are on disk.
TEST_F(FrameInput, ASaveThatTurnsReloadOffIsAppliedInFullEvenWhenAFrameReadItHalfWritten) {
    const std::string save = ReferenceWith({{1, "reload 0"}, {3, "a 12.5"}});
    for (bool editorFinishes : {true, false}) {
        SCOPED_TRACE(editorFinishes);
        Start(1001, 1);
        const int opens = standin::Counters().settingsOpens;
        directory.WriteSettings(save.substr(0, save.find("a 12.5")));  // lines 1 and 2 so far
        Frame(false, false);
        if (editorFinishes) directory.WriteSettings(save);
        Frame(false, false);
        if (editorFinishes) {
            EXPECT_EQ(plugin_support::FloatOf(standin::ReadHostWord(host::kAimValues[0])), 12.5f) << "the whole save";
            EXPECT_EQ(standin::Counters().settingsOpens, opens + 2);
        } else {
            EXPECT_EQ(standin::Counters().settingsOpens, opens + 2) << "read twice the same: the save is whole";
        }
        for (int i = 0; i < 3; ++i) Frame(false, false);
        EXPECT_EQ(standin::Counters().settingsOpens, opens + 2) << "then live reload is off";
        Unload();
    }
}

// Two saves of the same size within one tick of the file system's clock
// (FAT keeps two seconds, NTFS as a rule the 16 ms timer tick): size and time
// tell nothing, so a file written within the last tick is read again.
TEST_F(FrameInput, TwoSavesOfTheSameSizeInOneTimestampTickAreBothPickedUp) {
    Start(1001, 1);
    standin::FreezePluginClock(true);  // however slowly the frames run, the second save comes within the second
    Frame(false, false);
    // One stamp for both saves, a minute ahead of the clock (as a share with
    // another clock stamps files): it lies within the tick however slowly
    // this test runs.
    FILETIME tick;
    GetSystemTimeAsFileTime(&tick);
    ULARGE_INTEGER ahead{{tick.dwLowDateTime, tick.dwHighDateTime}};
    ahead.QuadPart += 60ull * 10000000ull;
    tick = FILETIME{ahead.LowPart, ahead.HighPart};
    for (const char* value : {"4.5", "6.5"}) {
        directory.WriteSettings(ReferenceWith({{1, "reload 1"}, {17, std::string("w1 ") + value + " 5.5 6.5"}}));
        HANDLE file = CreateFileA(directory.SettingsPath().c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        SetFileTime(file, nullptr, nullptr, &tick);  // both saves in the same tick
        CloseHandle(file);
        Frame(false, false);
        EXPECT_EQ(FirstComponent(), std::stof(value));
    }
}

// Sets the last write time of the file or folder at `path` to `seconds` from now.
void DateFromNow(const std::string& path, long long seconds) {
    HANDLE handle = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
    time.QuadPart += static_cast<unsigned long long>(seconds * 10000000ll);
    const FILETIME stamp{time.LowPart, time.HighPart};
    SetFileTime(handle, nullptr, nullptr, &stamp);
    CloseHandle(handle);
}

// With live reload on, the file is opened only when it may have changed: how
// often it is opened over 200 frames (100, a second, 100 more), with the
// plugin's clock standing still but for that second, so that only what the
// file is, not how fast the frames run, decides.
TEST_F(FrameInput, LiveReloadOpensTheFileOnlyWhenItMayHaveChanged) {
    constexpr long long kFiveYears = 5ll * 365 * 24 * 3600;
    struct WatchCase {
        const char* name;
        std::function<void(standin::PluginSandbox&)> make;  // after the settings file is written
        int opens;                                          // over the 200 frames, the start-up's open not counted
    };
    const WatchCase cases[] = {
        // A new stamp is read once, then trusted: read again by the safety
        // net after the second, never otherwise.
        {"saved a minute ago", [](auto& dir) { DateFromNow(dir.SettingsPath(), -60); }, 1 + 1},
        // Ahead of the clock: recent for a second after it is first seen, so
        // read on each of the first 100 frames, then trusted.
        {"dated five years ahead", [](auto& dir) { DateFromNow(dir.SettingsPath(), kFiveYears); }, 100 + 1},
        // A folder put in the file's place: access denied, tried again on
        // the next three frames, then once a second.
        {"replaced by a folder",
         [](auto& dir) {
             dir.RemoveSettings();
             ASSERT_TRUE(CreateDirectoryA(dir.SettingsPath().c_str(), nullptr));
             DateFromNow(dir.SettingsPath(), -60);
         },
         1 + 3 + 1},
    };
    for (const WatchCase& c : cases) {
        SCOPED_TRACE(c.name);
        Prepare(1001, ReferenceWith({{1, "reload 1"}}));
        directory.AgeSettings();
        Load();
        standin::FreezePluginClock(true);
        c.make(directory);
        const int opens = standin::Counters().settingsOpens;
        for (int i = 0; i < 100; ++i) Frame(false, false);
        standin::AdvancePluginClock(1500);
        for (int i = 0; i < 100; ++i) Frame(false, false);
        EXPECT_EQ(standin::Counters().settingsOpens - opens, c.opens);
        Unload();
        RemoveDirectoryA(directory.SettingsPath().c_str());
    }
}

// The host writes its own value over one the file gave, between frames: the
// next frame puts the file's back, as reading the file every frame would,
// without lifting any protection while the code constant is unchanged.
TEST_F(FrameInput, AHostThatOverwritesAValueBetweenFramesIsCorrectedOnTheNextFrame) {
    Start(1001, 1, true);
    Frame(false, false);
    const int opens = standin::Counters().settingsOpens;
    standin::WriteHostWord(host::kAimValues[0], 0x12345678);
    standin::WriteHostWord(host::kAimBlock + 4, 0x12345678);
    Frame(false, false);
    EXPECT_EQ(standin::ReadHostWord(host::kAimValues[0]), Bits(3.5f));
    EXPECT_EQ(standin::ReadHostWord(host::kAimBlock + 4), Bits(11.125f));
    standin::WriteHostWord(host::kAimCodeConstant, 0x12345678);
    Frame(false, false);
    EXPECT_EQ(standin::ReadHostWord(host::kAimCodeConstant), Bits(5.5f));
    EXPECT_EQ(standin::Counters().settingsOpens, opens) << "put back from memory, not by reading the file";
}

TEST_F(FrameInput, WithReloadOffEditsChangeNothing) {
    Start(1001, 0);
    directory.WriteSettings(ReferenceWith({{1, "reload 1"}, {17, "w1 4.5 5.5 6.5"}}));
    for (int i = 0; i < 3; ++i) Frame(false, false);
    EXPECT_EQ(standin::Counters().settingsOpens, 1);
    EXPECT_EQ(FirstComponent(), 17.0f);
}

// What an editor can do to the file between two frames, and what the next
// frame must leave: `provides` false means every destination keeps its value.
struct EditorCase {
    const char* name;
    std::function<void(const standin::PluginSandbox&, HANDLE& held)> edit;
    bool provides;
};

std::string Garbage() {
    std::mt19937 random(7);
    std::string text(20000, '\0');
    for (char& c : text) {
        c = static_cast<char>(random() % 256);
        if ((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'i' || c == 'I' || c == 'n' || c == 'N')
            c = '#';  // nothing in it reads as a number
    }
    return text;
}

const std::string kEdited = ReferenceWith(
    {{1, "reload 1"}, {3, "a 33.5"}, {5, "code 55.5"}, {12, "row1 1 2 3 4 5 6 7"}, {17, "w1 4.5 5.5 6.5"}});

TEST_F(FrameInput, LiveReloadSurvivesWhatEditorsDoToTheFile) {
    const EditorCase cases[] = {
        {"saved in place", [](const auto& dir, HANDLE&) { dir.WriteSettings(kEdited); }, true},
        {"new file renamed over the old",
         [](const auto& dir, HANDLE&) {
             const std::string temp = dir.Path() + "aimingSets.dat.tmp";
             ASSERT_TRUE(standin::WriteWholeFile(standin::Wide(temp), kEdited));
             ASSERT_TRUE(MoveFileExA(temp.c_str(), dir.SettingsPath().c_str(), MOVEFILE_REPLACE_EXISTING));
         },
         true},
        {"truncated", [](const auto& dir, HANDLE&) { dir.WriteSettings(""); }, false},
        {"cut short while saving", [](const auto& dir, HANDLE&) { dir.WriteSettings(kEdited.substr(0, 10)); }, false},
        {"deleted", [](const auto& dir, HANDLE&) { dir.RemoveSettings(); }, false},
        {"held open with no sharing",
         [](const auto& dir, HANDLE& held) {
             held = CreateFileA(dir.SettingsPath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
             ASSERT_NE(held, INVALID_HANDLE_VALUE);
         },
         false},
        {"replaced by garbage", [](const auto& dir, HANDLE&) { dir.WriteSettings(Garbage()); }, false},
    };
    for (const EditorCase& c : cases) {
        SCOPED_TRACE(c.name);
        Start(1001, 1);
        Frame(false, false);
        HANDLE held = INVALID_HANDLE_VALUE;
        c.edit(directory, held);
        Frame(false, false);
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);

        settings_cases::Snapshot expected = settings_cases::Reference();
        if (c.provides) {
            expected.hostValues[0] = Bits(33.5f);
            expected.codeConstant = Bits(55.5f);
            for (int i = 0; i < 7; ++i) expected.block[1][i] = Bits(static_cast<float>(i + 1));
            expected.offsets[1][0] = Bits(4.5f);
            expected.offsets[1][1] = Bits(5.5f);
            expected.offsets[1][2] = Bits(6.5f);
        }
        ExpectSameAsHost(Observe(), expected);

        // The next good save is picked up on the next frame.
        directory.WriteSettings(ReferenceWith({{1, "reload 1"}, {17, "w1 -2.5 5.5 6.5"}}));
        Frame(false, false);
        EXPECT_EQ(FirstComponent(), -2.5f);
        Unload();
    }
}

TEST_F(FrameInput, AFrameWithoutReloadAllocatesNothing) {
    Start(1001, 0);
    standin::LogHostEvents(false);
    const long before = standin::Counters().allocations;
    ASSERT_GT(before, 0) << "the counter saw the start-up's allocations: it counts this plugin";
    for (int i = 0; i < 5000; ++i) Frame(i % 3 != 0, i % 2 == 0);
    EXPECT_EQ(standin::Counters().allocations, before);
}

}  // namespace
