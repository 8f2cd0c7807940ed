// The plugin's directory, its settings path and its one error report.
#include <windows.h>

#include <cstring>
#include <cwchar>

#include "PluginSupport.h"
#include "plugin/ErrorReport.h"
#include "plugin/PluginPaths.h"

namespace {

using plugin_support::PluginTest;

TEST(PluginPaths, DirectoryEndsAfterTheLaterSeparator) {
    struct Case {
        const wchar_t* modulePath;
        const wchar_t* directory;
        const wchar_t* settingsPath;
    };
    const Case cases[] = {
        {L"C:\\x\\y\\plugin.dll", L"C:\\x\\y\\", L"C:\\x\\y\\aimingSets.dat"},
        {L"C:/x/y/plugin.dll", L"C:/x/y/", L"C:/x/y/aimingSets.dat"},
        {L"C:\\x/y\\plugin.dll", L"C:\\x/y\\", L"C:\\x/y\\aimingSets.dat"},
        {L"C:/x\\y/plugin.dll", L"C:/x\\y/", L"C:/x\\y/aimingSets.dat"},
        {L"plugin.dll", L"plugin.dll", L"plugin.dllaimingSets.dat"},
        {L"", L"", L"aimingSets.dat"},
        {L"\\\\server\\share\\p.dll", L"\\\\server\\share\\", L"\\\\server\\share\\aimingSets.dat"},
        {L"C:\\Игры\\フォルダ\\p.dll", L"C:\\Игры\\フォルダ\\", L"C:\\Игры\\フォルダ\\aimingSets.dat"},
    };
    for (const Case& c : cases) {
        wchar_t directory[MAX_PATH];
        wcscpy(directory, c.modulePath);
        CutAfterLastSeparator(directory);
        EXPECT_STREQ(directory, c.directory);
        wchar_t path[MAX_PATH];
        EXPECT_TRUE(ComposePath(directory, kSettingsFileName, path, MAX_PATH));
        EXPECT_STREQ(path, c.settingsPath);
    }
}

TEST(PluginPaths, LongPathsTakeTheLongPathFormAndNothingIsWrittenBeyond) {
    const std::wstring deep(300, L'd');
    struct Case {
        std::wstring directory;
        std::wstring expected;  // empty: does not fit
        std::size_t capacity;
    };
    const Case cases[] = {
        {L"C:\\" + deep + L"\\", L"\\\\?\\C:\\" + deep + L"\\aimingSets.dat", kPathCapacity},
        {L"C:/" + deep + L"/", L"\\\\?\\C:\\" + deep + L"\\aimingSets.dat", kPathCapacity},
        {L"\\\\server\\share\\" + deep + L"\\", L"\\\\?\\UNC\\server\\share\\" + deep + L"\\aimingSets.dat",
         kPathCapacity},
        {L"\\\\?\\C:\\" + deep + L"\\", L"\\\\?\\C:\\" + deep + L"\\aimingSets.dat", kPathCapacity},
        {L"C:\\short\\", L"C:\\short\\aimingSets.dat", kPathCapacity},
        {L"C:\\" + deep + L"\\", L"", 310},  // 4 + 304 + 14 + 1 units do not fit 310
    };
    for (const Case& c : cases) {
        std::vector<wchar_t> buffer(c.capacity + 16, L'Z');
        const bool fits = ComposePath(c.directory.c_str(), kSettingsFileName, buffer.data(), c.capacity);
        EXPECT_EQ(fits, !c.expected.empty());
        EXPECT_EQ(std::wstring(buffer.data()), c.expected);
        for (std::size_t i = c.capacity; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], L'Z');
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
    EXPECT_FALSE(ReportError("FILESYSTEM\nFailed to retrieve plugin dir path"));
    EXPECT_FALSE(ReportError("%s|%d", std::string(5000, 'q').c_str(), 42));
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
    for (int frame = 0; frame < 5; ++frame) {
        lines[2] = "a " + std::to_string(frame) + ".5";  // an edit on every frame: a load on every frame
        directory.WriteSettings(settings_cases::Join(lines));
        standin::RunHostFrame();
    }
    EXPECT_EQ(standin::Counters().settingsOpens, 6);
    EXPECT_EQ(standin::Counters().moduleLookups, 1);
    EXPECT_TRUE(standin::Counters().messageBoxes.empty());
}

TEST_F(PluginDirectoryLookup, FailedModuleLookupShowsTheBoxAndReadsBesideTheHost) {
    char hostPath[MAX_PATH];
    GetModuleFileNameA(nullptr, hostPath, MAX_PATH);
    std::string hostSettings = hostPath;
    hostSettings = hostSettings.substr(0, hostSettings.find_last_of('\\') + 1) + "aimingSets.dat";
    ASSERT_TRUE(
        standin::WriteWholeFile(standin::Wide(hostSettings), settings_cases::Join(settings_cases::ReferenceLines())));
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

// Without any path of its own (GetModuleFileNameW fails), the plugin reads
// aimingSets.dat by its bare name, from the game's current folder, writes its
// log there, and says so.
TEST_F(PluginDirectoryLookup, WithoutAPathOfItsOwnTheCurrentFolderIsUsedAndNamed) {
    Prepare(1001, settings_cases::Join(settings_cases::ReferenceLines()));
    standin::PluginSandbox current;
    current.WriteSettings(settings_cases::ReferenceWith({{3, "a 99.5"}}));
    wchar_t before[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, before);
    ASSERT_TRUE(SetCurrentDirectoryA(current.Path().c_str()));
    standin::FailPluginModuleFileName(true);
    Load();
    standin::FailPluginModuleFileName(false);
    const settings_cases::Snapshot seen = Observe();
    Unload();
    SetCurrentDirectoryW(before);
    EXPECT_EQ(seen.hostValues[0], plugin_support::Bits(99.5f)) << "line 3 of the file in the current folder";
    const std::string log = current.ReadLog();
    EXPECT_NE(log.find("settings file: aimingSets.dat in the current folder, "), std::string::npos) << log;
    EXPECT_NE(log.find("(the plugin's own folder could not be found)"), std::string::npos) << log;
    EXPECT_TRUE(directory.ReadLog().empty()) << "no log beside the DLL: the plugin could not tell where that is";
}

// A folder under the temp directory named `name` (any script), whose path is
// made at least `length` units long with nested folders, holding a copy of
// the plugin and the reference settings file. Removed on destruction.
class PluginFolder {
public:
    PluginFolder(const std::wstring& name, std::size_t length) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        top_ = std::wstring(L"\\\\?\\") + temp + L"aimplugin-folder-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
        path_ = top_ + name + L"\\";
        CreateDirectoryW(top_.c_str(), nullptr);
        CreateDirectoryW(path_.c_str(), nullptr);
        while (path_.size() - 4 < length) {
            path_ += std::wstring(90, L'p') + L"\\";
            CreateDirectoryW(path_.c_str(), nullptr);
        }
        copied_ = CopyFileW(standin::Wide(standin::BuiltPluginPath()).c_str(), Dll().c_str(), FALSE) != 0;
        standin::WriteWholeFile(path_ + L"aimingSets.dat", settings_cases::Join(settings_cases::ReferenceLines()));
    }
    ~PluginFolder() {
        for (const wchar_t* file : {L"AimingPlugin.dll", L"aimingSets.dat", L"AimingPlugin.log"})
            DeleteFileW((path_ + file).c_str());
        for (std::wstring dir = path_; dir.size() > top_.size() - 1;
             dir = dir.substr(0, dir.find_last_of(L'\\', dir.size() - 2) + 1))
            RemoveDirectoryW(dir.c_str());
    }
    bool Ready() const { return copied_; }
    std::wstring Dll() const { return path_ + L"AimingPlugin.dll"; }
    std::wstring Log() const { return path_ + L"AimingPlugin.log"; }

private:
    std::wstring top_, path_;
    bool copied_ = false;
};

TEST_F(PluginDirectoryLookup, FoldersInAnyScriptAndOfAnyLengthWork) {
    struct Case {
        const char* name;
        std::wstring folder;
        std::size_t length;
    };
    const Case cases[] = {
        {"cyrillic", L"Папка", 0},
        {"japanese", L"フォルダ", 0},
        {"polish", L"Łódź", 0},
        {"longer_than_260", L"long", 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        standin::ResetHost(1001);
        {
            PluginFolder folder(c.folder, c.length);
            ASSERT_TRUE(folder.Ready()) << GetLastError();
            {
                standin::PluginModule inFolder(folder.Dll());
                ASSERT_TRUE(inFolder.Loaded()) << GetLastError();
                EXPECT_EQ(standin::Counters().settingsOpens, 1);
                ExpectSameAsHost(Observe(), settings_cases::Reference());
            }
            const std::string log = standin::ReadWholeFile(folder.Log());
            const std::size_t line = log.find("settings file: ");
            ASSERT_NE(line, std::string::npos) << log;
            const std::string settingsLine = log.substr(line, log.find('\r', line) - line);
            EXPECT_NE(settingsLine.find(standin::Utf8(c.folder) + "\\"), std::string::npos) << settingsLine;
            EXPECT_EQ(settingsLine.substr(settingsLine.size() - 14), "aimingSets.dat") << settingsLine;
        }
    }
}

}  // namespace
