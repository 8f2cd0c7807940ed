// The plugin's log as a player reads it: what was done and what is wrong
// with the settings file, in order; live reload logging a change once; the
// size limit; a folder where the log cannot be written.
#include "PluginSupport.h"

namespace {

using plugin_support::PluginTest;

constexpr std::size_t kLogLimit = 1024 * 1024;

class PluginLogFile : public PluginTest {
protected:
    std::size_t LogSize() { return directory.ReadLog().size(); }
};

TEST_F(PluginLogFile, TheLogTellsWhatWasDoneAndWhatIsWrongWithTheFile) {
    Prepare(1001, settings_cases::ReferenceWith({{5, "code x5.5"}, {12, "row1 1 2 3"}}));
    Load();
    Unload();
    const std::string log = directory.ReadLog();
    const std::string expectedInOrder[] = {
        "AimingPlugin " AIMING_PLUGIN_VERSION " (built from commit ",
        "), started 20",
        "game: build 1001, image at 0x00400000\r\n",
        "aim call 0x527A95 (at 0x00527A95): held E8 66 9A FF FF, calls the game's aim function; redirected to the "
        "plugin through its gate\r\n",
        "settings file: " + directory.SettingsPath() + "\r\n",
        "  31 line(s), plain text (ASCII or UTF-8)\r\n",
        "  line 5: the 1st value, \"x5.5\", is not a number: the code constant is left as it was\r\n",
        "  line 12: only 3 of 7 values read: values 4 to 7 of aim row 1 stay as the game holds them (its own, or an "
        "earlier save's)\r\n",
        "  line 16: offset row 0 serves no weapon: its values have no effect\r\n",
        "  applied: live reload off, 6 of 6 host values, no code constant, 4 of 4 aim block rows, 16 of 16 weapon "
        "offset rows\r\n",
        "  values in effect, by line (-: none given, kept as it was):\r\n",
        "    line  1 (live reload): 0\r\n",
        "    line  3 (host value 1): 3.5\r\n",
        "    line  5 (the code constant): -\r\n",
        "    line 12 (aim row 1): 1 2 3\r\n",
        "    line 29 (weapon 19): 29 29.25 29.5\r\n",
        "    line 31 (weapon 37): 31 31.25 31.5\r\n",
        "frame call 0x53E981 (at 0x0053E981): redirected to the plugin",
        "verdict: ready: settings partly applied (26 of 27 values, with 3 problem(s) in the file, see above), weapon "
        "offsets on, toggle on (RightMouse held, Space pressed), live reload off (line 1 of the file is 0)\r\n",
        "unload: frame call 0x53E981 put back\r\n",
        "unload: aim call 0x527A95 put back\r\n",
        "unload: no call left inside the plugin (waited ",
        "unloaded\r\n",
    };
    std::size_t at = 0;
    for (const std::string& line : expectedInOrder) {
        const std::size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing, or out of order: " << line << "\nin:\n" << log;
        at = found + line.size();
    }
}

// The log prints a value as the checker does: as a player would write it
// where that is short, never 1e+05 for 100000.
TEST_F(PluginLogFile, TheLogPrintsValuesAsTheCheckerDoes) {
    Prepare(1001, settings_cases::ReferenceWith({{3, "value3 100000"}, {4, "value4 0.0001"}, {6, "value6 123456792"}}));
    Load();
    const std::string log = directory.ReadLog();
    for (const char* line : {"line  3 (host value 1): 100000\r\n", "line  4 (host value 2): 0.0001\r\n",
                             "line  6 (host value 3): 123456792\r\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

// Notepad's Save As writes aimingSets.dat.txt, which Explorer shows as
// aimingSets.dat: the log says so where the file is missing, or older.
TEST_F(PluginLogFile, ANotepadTxtCopyBesideTheFileIsNamed) {
    for (bool datThere : {false, true}) {
        SCOPED_TRACE(datThere);
        Prepare(1001, datThere ? std::optional<std::string>(settings_cases::Join(settings_cases::ReferenceLines()))
                               : std::nullopt);
        if (datThere) directory.AgeSettings();
        const std::string copy = directory.SettingsPath() + ".txt";
        ASSERT_TRUE(
            standin::WriteWholeFile(standin::Wide(copy), settings_cases::Join(settings_cases::ReferenceLines())));
        Load();
        const std::string log = directory.ReadLog();
        EXPECT_NE(log.find("found aimingSets.dat.txt beside it: Notepad added .txt; rename it to aimingSets.dat"),
                  std::string::npos)
            << log;
        Unload();
        DeleteFileA(copy.c_str());
    }
}

// The verdict, for a game where another mod's jump holds the aim call, and
// for a game the plugin does not know.
TEST_F(PluginLogFile, TheVerdictSaysWhatIsOffAndWhy) {
    Prepare(1001, settings_cases::ReferenceWith({{16, "w0 0 0 0"}}));  // a file without a problem
    const std::uint32_t detour = standin::PlaceDetour(host::kAimPointCallSite, host::kAimPointFunction);
    standin::SetCallInstruction(host::kAimPointCallSite, standin::JumpBytes(host::kAimPointCallSite, detour));
    Load();
    EXPECT_NE(directory.ReadLog().find(
                  "verdict: ready: settings applied, weapon offsets off (another mod holds the aim "
                  "call), toggle on (RightMouse held, Space pressed), live reload off (line 1 of the file is 0)"),
              std::string::npos)
        << directory.ReadLog();
}

// The verdict says what a load wrote, not that a file was read, and why
// live reload is off.
TEST_F(PluginLogFile, TheVerdictSaysHowMuchWasAppliedAndWhyLiveReloadIsOff) {
    std::string decimalCommas = settings_cases::Join(settings_cases::ReferenceLines());
    for (char& c : decimalCommas)
        if (c == '.') c = ',';
    const struct {
        const char* name;
        std::optional<std::string> file;
        const char* settings;
        const char* reload;
    } cases[] = {
        {"no file", std::nullopt, "settings not applied (no settings file read, see above)",
         "live reload off (no settings file was read)"},
        {"an empty file", std::string(), "settings not applied (nothing in the file could be used: ",
         "live reload off (line 1 of the file gives no whole number)"},
        {"line 1 a word", settings_cases::ReferenceWith({{1, "reloadEveryFrame on"}}), "settings applied, with ",
         "live reload off (line 1 of the file gives no whole number)"},
        {"decimal commas", decimalCommas, "settings not applied (nothing in the file could be used: 1 problem(s)",
         "live reload off (line 1 of the file is 0)"},
        {"the sample", settings_cases::ReferenceWith({{16, "w0 0 0 0"}}), "settings applied, weapon offsets on",
         "live reload off (line 1 of the file is 0)"},
        {"live reload on", settings_cases::ReferenceWith({{1, "reload 1"}, {16, "w0 0 0 0"}}),
         "settings applied, weapon offsets on", "live reload on"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        directory.RemoveSettings();
        Prepare(1001, c.file);
        Load();
        const std::string log = directory.ReadLog();
        Unload();
        const std::size_t verdict = log.find("verdict: ready: ");
        ASSERT_NE(verdict, std::string::npos) << log;
        const std::string line = log.substr(verdict, log.find("\r\n", verdict) - verdict);
        EXPECT_NE(line.find(c.settings), std::string::npos) << line;
        EXPECT_NE(line.find(c.reload), std::string::npos) << line;
    }
}

TEST_F(PluginLogFile, TheVerdictSaysWhenThePluginIsNotActive) {
    Prepare(0, settings_cases::Join(settings_cases::ReferenceLines()));
    const std::vector<std::uint8_t> foreign = {0x8B, 0x45, 0x08, 0x89, 0xC1};
    standin::SetCallInstruction(host::kAimPointCallSite, foreign);
    Load();
    EXPECT_NE(directory.ReadLog().find("verdict: not active, this is not a game the plugin knows; nothing in the game "
                                       "was changed"),
              std::string::npos)
        << directory.ReadLog();
}

TEST_F(PluginLogFile, LiveReloadLogsAChangeOnceAndIsSilentWhileNothingChanges) {
    Prepare(1001, settings_cases::ReferenceWith({{1, "reload 1"}}));
    Load();
    const std::size_t afterLoad = LogSize();
    for (int i = 0; i < 300; ++i) standin::RunHostFrame();
    EXPECT_EQ(LogSize(), afterLoad) << "300 frames reading the same file log nothing";
    directory.WriteSettings(settings_cases::ReferenceWith({{1, "reload 1"}, {17, "w1 oops"}}));
    standin::RunHostFrame();
    const std::string log = directory.ReadLog();
    EXPECT_NE(log.find("settings file changed (", afterLoad), std::string::npos) << log;
    EXPECT_NE(log.find("  changed:\r\n    line 17 (weapon 22): - (was 17 17.25 17.5)\r\n", afterLoad),
              std::string::npos)
        << log;
    EXPECT_NE(
        log.find("  line 17: the 1st value, \"oops\", is not a number: weapon type 22 keeps the game's own aim point "
                 "(or the offset an earlier save gave it)",
                 afterLoad),
        std::string::npos)
        << log;
    const std::size_t afterEdit = LogSize();
    for (int i = 0; i < 10; ++i) standin::RunHostFrame();
    EXPECT_EQ(LogSize(), afterEdit);
}

// A reader that shares read and write access only (the C runtime's fopen,
// `type`, PowerShell's Get-Content) opens the log while the game runs, on
// the first start in a folder (the log is made then) and on a later one.
TEST_F(PluginLogFile, AReaderThatSharesNoDeleteAccessOpensTheLogWhileThePluginIsLoaded) {
    Prepare(1001, settings_cases::Join(settings_cases::ReferenceLines()));
    for (const char* start : {"first start", "later start"}) {
        SCOPED_TRACE(start);
        Load();
        HANDLE reader = CreateFileA(directory.LogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        char text[64] = {};
        DWORD read = 0;
        if (reader != INVALID_HANDLE_VALUE) {
            ReadFile(reader, text, sizeof text - 1, &read, nullptr);
            CloseHandle(reader);
        }
        EXPECT_EQ(std::string(text).rfind("AimingPlugin ", 0), 0u) << text;
        std::FILE* viaRuntime = std::fopen(directory.LogPath().c_str(), "rb");
        EXPECT_NE(viaRuntime, nullptr);
        if (viaRuntime) std::fclose(viaRuntime);
        Unload();
    }
}

TEST_F(PluginLogFile, TheLogStopsAtOneMegabyteAndSaysSo) {
    // Every frame reads a file with other problems than the last: a log entry each.
    // Line 3 changes on every frame; the 28 lines after it without a number stay.
    auto broken = [](int value) {
        std::string text = "reload 1\nx\na " + std::to_string(value) + "\n";
        for (int line = 4; line <= 31; ++line) text += "x\n";
        return text;
    };
    Prepare(1001, broken(0));
    Load();
    for (int frame = 0; frame < 600; ++frame) {
        directory.WriteSettings(broken(frame + 1));
        standin::RunHostFrame();
    }
    const std::string log = directory.ReadLog();
    EXPECT_LE(log.size(), kLogLimit);
    EXPECT_GT(log.size(), kLogLimit - 2048);
    const std::string last = "the log is full (1 MB): nothing more is written to it until the game starts again\r\n";
    ASSERT_GE(log.size(), last.size());
    EXPECT_EQ(log.substr(log.size() - last.size()), last);
}

TEST_F(PluginLogFile, AFolderWhereTheLogCannotBeWrittenChangesNothingElse) {
    Prepare(1001, settings_cases::Join(settings_cases::ReferenceLines()));
    ASSERT_TRUE(CreateDirectoryA(directory.LogPath().c_str(), nullptr));  // the log's name is taken by a folder
    Load();
    ExpectSameAsHost(Observe(), settings_cases::Reference());
    Unload();
    RemoveDirectoryA(directory.LogPath().c_str());
}

// Two game processes that load the plugin from one folder: the second finds
// the log held by the first, and writes a log of its own instead of emptying
// or interleaving with it.
TEST_F(PluginLogFile, ALogThatAnotherProcessWritesIsLeftAlone) {
    Prepare(1001, settings_cases::Join(settings_cases::ReferenceLines()));
    const std::string first = "the first game's log\r\n";
    HANDLE held = CreateFileA(directory.LogPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(held, first.data(), static_cast<DWORD>(first.size()), &written, nullptr);
    Load();
    Unload();
    CloseHandle(held);
    EXPECT_EQ(directory.ReadLog(), first) << "neither emptied nor written into";
    const std::string own = directory.Path() + "AimingPlugin." + std::to_string(GetCurrentProcessId()) + ".log";
    const std::string log = standin::ReadWholeFile(standin::Wide(own));
    EXPECT_EQ(log.rfind("another game process writes " + directory.LogPath() + ": this one writes this log instead", 0),
              0u)
        << log;
    EXPECT_NE(log.find("unloaded\r\n"), std::string::npos) << log;
    DeleteFileA(own.c_str());
}

// A log name that is a link to another file (made by the build, see
// tests/CMakeLists.txt): a file of another name, another folder's
// AimingPlugin.log, a hard link, or a link that leads nowhere yet. The file
// it leads to is neither emptied nor written nor made, the log stays closed,
// and the plugin does everything else.
TEST_F(PluginLogFile, ALogNameThatLinksToAnotherFileLeavesThatFileAlone) {
    struct LinkCase {
        const char* kind;
        const char* target;  // where the link leads, beside the kind's folder
        bool targetExists;
    };
    const LinkCase cases[] = {
        {"symlink", "symlink\\target.txt", true},
        {"hardlink", "hardlink\\target.txt", true},
        {"samename", "samename-target\\AimingPlugin.log", true},
        {"dangling", "dangling-target\\AimingPlugin.log", false},
    };
    for (const LinkCase& c : cases) {
        SCOPED_TRACE(c.kind);
        Prepare(1001, std::nullopt);
        const std::string folder = std::string(AIMING_SPECIAL_FILES) + "\\" + c.kind + "\\";
        const std::wstring target = standin::Wide(std::string(AIMING_SPECIAL_FILES) + "\\" + c.target);
        const std::string contents = "a file that is not the plugin's log\n";
        if (c.targetExists) {
            ASSERT_TRUE(standin::WriteWholeFile(target, contents));
        } else {
            DeleteFileW(target.c_str());
        }
        ASSERT_TRUE(CopyFileA(directory.PluginPath().c_str(), (folder + "AimingPlugin.dll").c_str(), FALSE));
        standin::WriteWholeFile(standin::Wide(folder + "aimingSets.dat"),
                                settings_cases::Join(settings_cases::ReferenceLines()));
        {
            standin::PluginModule linked(folder + "AimingPlugin.dll");
            ASSERT_TRUE(linked.Loaded());
            ExpectSameAsHost(Observe(), settings_cases::Reference());
        }
        if (c.targetExists)
            EXPECT_EQ(standin::ReadWholeFile(target), contents);
        else
            EXPECT_EQ(GetFileAttributesW(target.c_str()), INVALID_FILE_ATTRIBUTES) << "no file made at the target";
        DeleteFileA((folder + "AimingPlugin.dll").c_str());
        DeleteFileA((folder + "aimingSets.dat").c_str());
    }
}

}  // namespace
