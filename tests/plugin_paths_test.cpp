// The plugin's directory, its settings path and its one error report.
#include <windows.h>

#include <cstring>

#include "plugin/PluginPaths.h"
#include "plugin_support.h"

namespace {

using plugin_support::PluginTest;

TEST(PluginPaths, DirectoryEndsAfterTheLaterSeparator) {
    struct Case {
        const char* modulePath;
        const char* directory;
        const char* settingsPath;
    };
    const Case cases[] = {
        {"C:\\x\\y\\plugin.dll", "C:\\x\\y\\", "C:\\x\\y\\aimingSets.dat"},
        {"C:/x/y/plugin.dll", "C:/x/y/", "C:/x/y/aimingSets.dat"},
        {"C:\\x/y\\plugin.dll", "C:\\x/y\\", "C:\\x/y\\aimingSets.dat"},
        {"C:/x\\y/plugin.dll", "C:/x\\y/", "C:/x\\y/aimingSets.dat"},
        {"plugin.dll", "plugin.dll", "plugin.dllaimingSets.dat"},
        {"", "", "aimingSets.dat"},
        {"\\\\server\\share\\p.dll", "\\\\server\\share\\", "\\\\server\\share\\aimingSets.dat"},
    };
    for (const Case& c : cases) {
        char directory[kDirectoryCapacity];
        std::strcpy(directory, c.modulePath);
        CutAfterLastSeparator(directory);
        EXPECT_STREQ(directory, c.directory) << c.modulePath;
        char path[kSettingsPathCapacity];
        EXPECT_TRUE(ComposeSettingsPath(directory, path, sizeof path));
        EXPECT_STREQ(path, c.settingsPath);
    }
}

TEST(PluginPaths, SettingsPathThatWouldNotFitIsEmptyAndNothingIsWrittenBeyond) {
    for (std::size_t length : {244u, 245u, 246u, 259u, 260u, 300u}) {
        const std::string directory = std::string(length - 1, 'd') + "\\";
        char buffer[kSettingsPathCapacity + 16];
        std::memset(buffer, 0x5A, sizeof buffer);
        const bool fits = ComposeSettingsPath(directory.c_str(), buffer, kSettingsPathCapacity);
        EXPECT_EQ(fits, length + 14 < kSettingsPathCapacity) << length;
        if (fits)
            EXPECT_EQ(std::string(buffer), directory + "aimingSets.dat");
        else
            EXPECT_EQ(buffer[0], '\0');
        for (std::size_t i = kSettingsPathCapacity; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 0x5A) << length;
    }
}

// ReportError, linked into this module, with MessageBoxA recorded instead of shown.
struct RecordedBox {
    std::string text, caption;
    UINT type;
    HWND owner;
};
std::vector<RecordedBox> recordedBoxes;
int WINAPI RecordBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    recordedBoxes.push_back({text, caption, type, owner});
    return IDOK;
}

TEST(ErrorReport, FormatsIntoItsBufferAndShowsOneErrorBox) {
    void* real =
        standin::ReplaceImport(standin::ThisModule(), "user32.dll", "MessageBoxA", reinterpret_cast<void*>(&RecordBox));
    ASSERT_NE(real, nullptr);
    recordedBoxes.clear();
    ReportError("FILESYSTEM\nFailed to retrieve plugin dir path");
    ReportError("%s|%d", std::string(5000, 'q').c_str(), 42);
    standin::ReplaceImport(standin::ThisModule(), "user32.dll", "MessageBoxA", real);
    ASSERT_EQ(recordedBoxes.size(), 2u);
    EXPECT_EQ(recordedBoxes[0].text, "FILESYSTEM\nFailed to retrieve plugin dir path");
    EXPECT_EQ(recordedBoxes[0].caption, "marlinth");
    EXPECT_EQ(recordedBoxes[0].type, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(recordedBoxes[1].text, std::string(1023, 'q'));  // cut to the 1024-character buffer
}

class PluginDirectoryLookup : public PluginTest {
protected:
    void TearDown() override { standin::FailPluginModuleLookup(false); }
};

TEST_F(PluginDirectoryLookup, ModuleIsLookedUpOnceAcrossEveryReload) {
    std::vector<std::string> lines = settings_cases::ReferenceLines();
    lines[0] = "reload 1";
    Prepare(1001, settings_cases::Join(lines));
    Load();
    for (int frame = 0; frame < 5; ++frame) standin::RunHostFrame();
    EXPECT_EQ(standin::Counters().settingsOpens, 6);
    EXPECT_EQ(standin::Counters().moduleLookups, 1);
    EXPECT_TRUE(standin::Counters().messageBoxes.empty());
}

TEST_F(PluginDirectoryLookup, FailedModuleLookupShowsTheBoxAndReadsBesideTheHost) {
    char hostPath[MAX_PATH];
    GetModuleFileNameA(nullptr, hostPath, MAX_PATH);
    std::string hostSettings = hostPath;
    hostSettings = hostSettings.substr(0, hostSettings.find_last_of('\\') + 1) + "aimingSets.dat";
    {
        HANDLE f = CreateFileA(hostSettings.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        const std::string text = settings_cases::Join(settings_cases::ReferenceLines());
        DWORD written;
        WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(f);
    }
    std::vector<std::string> lines = settings_cases::ReferenceLines();
    lines[2] = "a 99.5";  // the plugin's own directory: must not be the one read
    Prepare(1001, settings_cases::Join(lines));
    standin::FailPluginModuleLookup(true);
    Load();
    DeleteFileA(hostSettings.c_str());
    ASSERT_EQ(standin::Counters().messageBoxes.size(), 1u);
    const standin::MessageBoxShown& box = standin::Counters().messageBoxes[0];
    EXPECT_EQ(box.text, "FILESYSTEM\nFailed to retrieve plugin dir path");
    EXPECT_EQ(box.caption, "marlinth");
    EXPECT_EQ(box.type, static_cast<unsigned>(MB_ICONERROR));
    ExpectSameAsHost(Observe(), settings_cases::Reference());  // the file beside the host
}

// Paths past MAX_PATH go through the wide API in its long-path form.
std::wstring Long(const std::string& path) {
    const std::string full = "\\\\?\\" + path;
    return std::wstring(full.begin(), full.end());
}

// A directory of exactly `length` characters (trailing backslash included)
// under the temp directory.
std::string MakeLongDirectory(std::size_t length) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string path = std::string(temp) + "aimplugin-long-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryW(Long(path).c_str(), nullptr);
    while (path.size() < length) {
        const std::size_t remaining = length - path.size();
        const std::size_t part = remaining > 100 ? 90 : remaining - 1;
        path += std::string(part == 0 ? 1 : part, 'p') + "\\";
        CreateDirectoryW(Long(path).c_str(), nullptr);
    }
    return path;
}

// Removes the directories of `path` deeper than its first `keep` characters.
void RemoveDirectories(std::string path, std::size_t keep) {
    while (path.size() > keep) {
        RemoveDirectoryW(Long(path).c_str());
        path.pop_back();
        path = path.substr(0, path.find_last_of('\\') + 1);
    }
}

void WriteFileAt(const std::string& path, const std::string& text) {
    HANDLE f = CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << GetLastError();
    DWORD written;
    WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
}

TEST_F(PluginDirectoryLookup, PathsTooLongForTheirBuffersReadNoFile) {
    struct Case {
        const char* dllName;
        std::size_t directoryLength;  // module path cut short, or settings path too long
    };
    const Case cases[] = {{"AimingPlugin.dll", 250}, {"a.dll", 250}};
    char temp[MAX_PATH];
    const std::size_t tempLength = GetTempPathA(MAX_PATH, temp);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dllName);
        standin::ResetHost(1001);
        const std::string dir = MakeLongDirectory(c.directoryLength);
        ASSERT_EQ(dir.size(), c.directoryLength);
        const std::string dll = dir + c.dllName;
        const std::string built = standin::BuiltPluginPath();
        if (!CopyFileW(std::wstring(built.begin(), built.end()).c_str(), Long(dll).c_str(), FALSE)) {
            RemoveDirectories(dir, tempLength);
            GTEST_SKIP() << "no long paths here";
        }
        WriteFileAt(dir + "aimingSets.dat", settings_cases::Join(settings_cases::ReferenceLines()));
        {
            standin::PluginModule longPlugin(dll);
            ASSERT_TRUE(longPlugin.Loaded()) << GetLastError();
            EXPECT_EQ(standin::Counters().settingsOpens, 0);
            ExpectSameAsHost(Observe(), settings_cases::Initial());
        }
        EXPECT_TRUE(DeleteFileW(Long(dir + "aimingSets.dat").c_str()));
        EXPECT_TRUE(DeleteFileW(Long(dll).c_str()));
        RemoveDirectories(dir, tempLength);
        EXPECT_EQ(GetFileAttributesW(
                      Long(std::string(temp) + "aimplugin-long-" + std::to_string(GetCurrentProcessId())).c_str()),
                  INVALID_FILE_ATTRIBUTES);
    }
}

}  // namespace
