// AimingPlugin.ini beside the real DLL: the options it gives, as the log and
// the verdict tell them, the toggle driven by the keys it names, and an ini
// edited while live reload is on.
#include "IniCases.h"
#include "PluginSupport.h"

namespace {

using plugin_support::PluginTest;

class PluginIni : public PluginTest {
protected:
    std::string IniPath() const { return directory.Path() + "AimingPlugin.ini"; }
    void WriteIni(const std::string& contents) const {
        ASSERT_TRUE(standin::WriteWholeFile(standin::Wide(IniPath()), contents));
    }
    // The first component that reaches 0x5334F0 for weapon 22.
    float FirstComponent() {
        const auto offset = OffsetFor(22);
        EXPECT_TRUE(offset.has_value());
        return offset ? plugin_support::FloatOf((*offset)[0]) : -1.0f;
    }
    // One frame with exactly the keys `down` held.
    static void Frame(std::initializer_list<std::uint8_t> down) {
        BYTE state[256];
        GetKeyboardState(state);
        for (const int key : {0x02, 0x20, 0x05, 0x74, 0xA0, 0x51}) state[key] = 0;
        for (const std::uint8_t key : down) state[key] = 0x80;
        SetKeyboardState(state);
        standin::RunHostFrame();
    }
    static std::string Verdict(const std::string& log) {
        const std::size_t at = log.find("verdict: ");
        return at == std::string::npos ? std::string() : log.substr(at, log.find("\r\n", at) - at);
    }
};

// Each file of the table read into the same options as the reader and the
// checker read it: the log names each mistake, and the verdict the keys.
TEST_F(PluginIni, EachFileGivesTheSameOptionsAsTheCheckerReads) {
    for (const ini_cases::Case& c : ini_cases::Cases()) {
        SCOPED_TRACE(c.name);
        DeleteFileA(IniPath().c_str());
        Prepare(1001, settings_cases::Join(settings_cases::ReferenceLines()));
        if (c.contents) WriteIni(*c.contents);
        Load();
        const std::string log = directory.ReadLog();
        Unload();
        char keys[64];
        EXPECT_NE(Verdict(log).find(std::string("toggle on (") + settings::DescribeKeys(c.expected, keys) + ")"),
                  std::string::npos)
            << log;
        if (!c.contents) {
            EXPECT_EQ(log.find("AimingPlugin.ini"), std::string::npos) << "no file, nothing said:\n" << log;
            continue;
        }
        char described[128];
        EXPECT_NE(log.find(std::string("AimingPlugin.ini read: ") + settings::DescribeOptions(c.expected, described)),
                  std::string::npos)
            << log;
        if (*c.said) {
            EXPECT_NE(log.find(c.said), std::string::npos) << log;
        } else {
            EXPECT_EQ(log.find("AimingPlugin.ini line"), std::string::npos) << log;
        }
    }
}

// The toggle latched by the keys the ini names, and no longer by the old ones.
TEST_F(PluginIni, TheToggleFollowsTheKeysTheIniNames) {
    Prepare(1001, settings_cases::Join(settings_cases::ReferenceLines()));
    WriteIni("[Toggle]\nHold = X1Mouse\nPress = F5\n[Sound]\nToggle = on\n");
    Load();
    EXPECT_EQ(FirstComponent(), 17.0f);
    Frame({0x02, 0x20});  // right button and Space: not the keys any more
    EXPECT_EQ(FirstComponent(), 17.0f);
    Frame({0x74});  // F5 alone
    EXPECT_EQ(FirstComponent(), 17.0f);
    Frame({0x05, 0x74});  // X1 held, F5 pressed: latched (with a sound)
    EXPECT_EQ(FirstComponent(), 0.0f);
    Frame({0x05});  // F5 released: still latched
    EXPECT_EQ(FirstComponent(), 0.0f);
    Frame({});  // X1 released: cleared
    EXPECT_EQ(FirstComponent(), 17.0f);
}

// With live reload on, an edited ini is read again (its stamp is looked at
// once a second), and the new keys take over; with it off, it is not.
TEST_F(PluginIni, AnIniEditedWhileLiveReloadIsOnIsReadAgain) {
    for (const int reload : {1, 0}) {
        SCOPED_TRACE(reload);
        DeleteFileA(IniPath().c_str());
        Prepare(1001, settings_cases::ReferenceWith({{1, "reload " + std::to_string(reload)}}));
        Load();
        WriteIni("[Toggle]\nHold = LeftShift\nPress = Q\n");
        Sleep(1100);
        Frame({});
        Frame({0xA0, 0x51});
        const bool read = reload != 0;
        EXPECT_EQ(FirstComponent(), read ? 0.0f : 17.0f);
        const std::string log = directory.ReadLog();
        EXPECT_EQ(log.find("AimingPlugin.ini changed, read again: the toggle: LeftShift held, Q pressed") !=
                      std::string::npos,
                  read)
            << log;
        Frame({});
        Unload();
    }
}

// The sounds asked for: the start's, once settings are applied; the
// toggle's as it latches and as it releases; none within a quarter of a
// second of the last; none that the ini leaves off. (Recorded, not played.)
TEST_F(PluginIni, SoundsAreAskedForAsTheIniSays) {
    struct Case {
        const char* name;
        std::optional<std::string> settings;
        const char* ini;
        std::vector<unsigned> sounds;
    };
    const std::string reference = settings_cases::Join(settings_cases::ReferenceLines());
    const Case cases[] = {
        {"both on",
         reference,
         "[Sound]\nToggle = on\nLoaded = on\n",
         {MB_ICONEXCLAMATION, MB_ICONASTERISK, MB_ICONASTERISK, MB_OK}},
        {"toggle only", reference, "[Sound]\nToggle = on\n", {MB_ICONASTERISK, MB_ICONASTERISK, MB_OK}},
        {"loaded only", reference, "[Sound]\nLoaded = on\n", {MB_ICONEXCLAMATION}},
        {"loaded, but nothing applied", std::nullopt, "[Sound]\nLoaded = on\n", {}},
        {"off", reference, "[Sound]\nToggle = off\nLoaded = off\n", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        directory.RemoveSettings();
        Prepare(1001, c.settings);
        WriteIni(c.ini);
        standin::FreezePluginClock(true);  // the quarter seconds, as the test moves them on
        Load();
        standin::AdvancePluginClock(300);
        Frame({0x02, 0x20});  // latched
        Frame({});            // released at once: too soon for a sound
        standin::AdvancePluginClock(300);
        Frame({0x02, 0x20});  // latched
        standin::AdvancePluginClock(300);
        Frame({0x02});  // still latched: nothing changes
        Frame({});      // released
        Unload();
        EXPECT_EQ(standin::Counters().soundsQueued, c.sounds);
    }
}

// A renamed DLL reads the ini named like it (and writes its log so), not
// AimingPlugin.ini.
TEST_F(PluginIni, ARenamedDllReadsTheIniNamedLikeIt) {
    Prepare(1001, settings_cases::Join(settings_cases::ReferenceLines()));
    WriteIni("[Toggle]\nHold = LeftShift\n");
    ASSERT_TRUE(CopyFileA(directory.PluginPath().c_str(), (directory.Path() + "Foo.dll").c_str(), FALSE));
    ASSERT_TRUE(
        standin::WriteWholeFile(standin::Wide(directory.Path() + "Foo.ini"), "[Toggle]\nHold = X1Mouse\nPress = F5\n"));
    {
        standin::PluginModule foo(directory.Path() + "Foo.dll");
        ASSERT_TRUE(foo.Loaded());
    }
    const std::string log = standin::ReadWholeFile(standin::Wide(directory.Path() + "Foo.log"));
    EXPECT_NE(log.find("Foo.ini read: the toggle: X1Mouse held, F5 pressed"), std::string::npos) << log;
    EXPECT_NE(Verdict(log).find("toggle on (X1Mouse held, F5 pressed)"), std::string::npos) << log;
}

}  // namespace
