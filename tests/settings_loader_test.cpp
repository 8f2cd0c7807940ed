// The settings loader inside the real plugin: real files beside the DLL,
// loaded at start-up, with host words, block and code bytes read back.
#include <clocale>

#include "plugin_support.h"

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
    // Live reload runs exactly when line 1 gave a non-zero value: a save of
    // the same text is read again then, and only then.
    if (c.contents) directory.WriteSettings(c.contents());
    standin::RunHostFrame();
    EXPECT_EQ(standin::Counters().settingsOpens, expected.reload != 0 ? 2 : 1);
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

}  // namespace
