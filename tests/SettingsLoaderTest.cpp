// The settings loader inside the real plugin: real files beside the DLL,
// loaded at start-up, with host words, block and code bytes read back; files
// that are locked, folders, pipes, devices and giants.
#include <clocale>

#include "PluginSupport.h"

namespace {

using plugin_support::PluginTest;

class SettingsLoad : public PluginTest, public testing::WithParamInterface<settings_cases::Case> {};

TEST_P(SettingsLoad, HostAndAimCallsSeeExactlyTheExpectedValues) {
    const settings_cases::Case& c = GetParam();
    Prepare(1001, c.contents ? std::optional<std::string>(c.contents()) : std::nullopt);
    Load();
    EXPECT_EQ(standin::Counters().settingsOpens, 1) << "one load at start-up";
    const settings_cases::Snapshot expected = c.expected();
    ExpectSameAsHost(Observe(), expected);
    // The log says what the reader says, and the verdict what was applied.
    const std::string log = directory.ReadLog();
    if (c.said && *c.said) {
        EXPECT_NE(log.find(c.said), std::string::npos) << log;
    }
    if (c.verdict) {
        const std::size_t verdict = log.find("verdict: ready: ");
        ASSERT_NE(verdict, std::string::npos) << log;
        EXPECT_NE(log.substr(verdict, log.find('\n', verdict) - verdict).find(c.verdict), std::string::npos) << log;
    }
    // Live reload runs exactly when line 1 gave a non-zero value: a save of
    // the same text is read again then, and only then; a file the start-up
    // found cut short is read once more too, to see it whole (an editor may
    // have been saving it), and no more after that.
    const bool cutShort = c.contents && settings_cases::Read(c.contents()).linesRead < settings::kLineCount;
    if (c.contents) directory.WriteSettings(c.contents());
    standin::RunHostFrame();
    EXPECT_EQ(standin::Counters().settingsOpens, expected.reload != 0 || cutShort ? 2 : 1);
    if (expected.reload == 0) {
        standin::RunHostFrame();
        EXPECT_EQ(standin::Counters().settingsOpens, cutShort ? 2 : 1) << "one confirming read, no more";
    }
}

INSTANTIATE_SETTINGS_CASES(SettingsLoad);

class SettingsFileAccess : public PluginTest {};

TEST_F(SettingsFileAccess, FileLockedByAnotherWriterChangesNothing) {
    Prepare(1001, settings_cases::Join(settings_cases::ReferenceLines()));
    HANDLE lock = CreateFileA(directory.SettingsPath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    Load();
    CloseHandle(lock);
    ExpectSameAsHost(Observe(), settings_cases::Initial());
}

TEST_F(SettingsFileAccess, SettingsPathThatIsADirectoryChangesNothing) {
    Prepare(1001, std::nullopt);
    ASSERT_TRUE(CreateDirectoryA(directory.SettingsPath().c_str(), nullptr));
    Load();
    RemoveDirectoryA(directory.SettingsPath().c_str());
    ExpectSameAsHost(Observe(), settings_cases::Initial());
}

TEST_F(SettingsFileAccess, SampleFileShippedWithThePluginLoads) {
    Prepare(1001, std::nullopt);
    ASSERT_TRUE(CopyFileA(AIMING_SAMPLE_SETTINGS_PATH, directory.SettingsPath().c_str(), FALSE));
    Load();
    const settings_cases::Snapshot s = Observe();
    EXPECT_EQ(plugin_support::FloatOf(s.codeConstant), 1.1f);
    EXPECT_EQ(plugin_support::FloatOf(s.hostValues[0]), 1.0f);    // line 3
    EXPECT_EQ(plugin_support::FloatOf(s.block[2][6]), 0.6f);      // line 13, last value
    EXPECT_EQ(plugin_support::FloatOf(s.offsets[1][0]), 0.10f);   // weapon 22
    EXPECT_EQ(plugin_support::FloatOf(s.offsets[15][2]), 0.72f);  // weapon 37
    standin::RunHostFrame();
    EXPECT_EQ(standin::Counters().settingsOpens, 1) << "the sample leaves live reload off";
}

TEST_F(SettingsFileAccess, PatchedHostCodeKeepsItsExecuteReadProtection) {
    Prepare(1001, settings_cases::Join(settings_cases::ReferenceLines()));
    Load();
    standin::RunHostFrame();
    for (std::uint32_t address : {host::kAimCodeConstant, host::kAimPointCallSite, host::kFrameCallSite}) {
        MEMORY_BASIC_INFORMATION info;
        VirtualQuery(reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)), &info, sizeof info);
        EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_EXECUTE_READ)) << std::hex << address;
    }
}

TEST_F(SettingsFileAccess, HostLocaleWithADecimalCommaChangesNothing) {
    if (!settings_cases::UseDecimalCommaLocale(LC_ALL)) GTEST_SKIP() << "no locale with a decimal comma here";
    // A long value, and a comma where the point belongs.
    std::vector<std::string> lines = settings_cases::ReferenceLines();
    lines[2] = "a 123456789012345678901234567890.5";
    lines[3] = "b 4,5";
    Prepare(1001, settings_cases::Join(lines));
    Load();
    std::setlocale(LC_ALL, "C");
    settings_cases::Snapshot expected = settings_cases::Reference();
    expected.hostValues[0] = plugin_support::Bits(1.23456789e29f);
    expected.hostValues[1] = settings_cases::kHostFill;  // "4,5" is no number: the value stays
    ExpectSameAsHost(Observe(), expected);
}

// Settings "files" that are no files: a named pipe and a device linked in the
// file's place (made by the build, see tests/CMakeLists.txt), and a file
// with a 300 MB heading line. None may hold the load or slow every frame.
TEST_F(SettingsFileAccess, ASettingsFileThatIsNoFileIsNotRead) {
    for (const char* kind : {"fifo", "device"}) {
        SCOPED_TRACE(kind);
        standin::ResetHost(1001);
        const std::string folder = std::string(AIMING_SPECIAL_FILES) + "\\" + kind + "\\";
        ASSERT_TRUE(CopyFileA(directory.PluginPath().c_str(), (folder + "AimingPlugin.dll").c_str(), FALSE));
        {
            standin::PluginModule special(folder + "AimingPlugin.dll");
            ASSERT_TRUE(special.Loaded());
            EXPECT_EQ(standin::Counters().bytesRead, 0);
            ExpectSameAsHost(Observe(), settings_cases::Initial());
        }
        const std::string log = standin::ReadWholeFile(standin::Wide(folder + "AimingPlugin.log"));
        EXPECT_NE(log.find("it is not a file on a disk"), std::string::npos) << log;
        DeleteFileA((folder + "AimingPlugin.dll").c_str());
        DeleteFileA((folder + "AimingPlugin.log").c_str());
    }
}

TEST_F(SettingsFileAccess, AGiantFileIsReadNoFurtherThanItsFirst64KiBOnAnyLoad) {
    Prepare(1001, std::string("reload 1\nheading "));
    {
        HANDLE f = CreateFileA(directory.SettingsPath().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        LARGE_INTEGER size;
        size.QuadPart = 300ll << 20;  // one 300 MB heading line (zeros: a sparse file, quick to make)
        SetFilePointerEx(f, size, nullptr, FILE_BEGIN);
        ASSERT_TRUE(SetEndOfFile(f));
        CloseHandle(f);
    }
    Load();
    EXPECT_LE(standin::Counters().bytesRead, 64 * 1024);
    for (int i = 0; i < 5; ++i) {
        // The heading grows by a byte before each frame: a change, and a load.
        HANDLE f = CreateFileA(directory.SettingsPath().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        LARGE_INTEGER size;
        size.QuadPart = (300ll << 20) + i + 1;
        SetFilePointerEx(f, size, nullptr, FILE_BEGIN);
        SetEndOfFile(f);
        CloseHandle(f);
        standin::RunHostFrame();
    }
    EXPECT_EQ(standin::Counters().settingsOpens, 6) << "live reload stays on";
    EXPECT_LE(standin::Counters().bytesRead, 6 * 64 * 1024);
    EXPECT_NE(directory.ReadLog().find("file: the file is 65536 bytes or longer"), std::string::npos);
}

}  // namespace
