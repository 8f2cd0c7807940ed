// What Explorer's Details tab shows for the two programs a player gets: one
// version, the project's, everywhere, and the commit they were built from.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "standin_host/Standin.h"

namespace {

struct VersionInfo {
    std::vector<char> data;
    std::wstring Value(const wchar_t* name) const {
        void* value = nullptr;
        UINT length = 0;
        const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        if (!VerQueryValueW(data.data(), key.c_str(), &value, &length) || length == 0) return L"";
        return std::wstring(static_cast<const wchar_t*>(value), length - 1);
    }
    std::wstring Fixed() const {
        void* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(data.data(), L"\\", &value, &length)) return L"";
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
               std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." + std::to_wstring(HIWORD(fixed->dwFileVersionLS));
    }
};

VersionInfo Read(const std::string& path) {
    VersionInfo info;
    const std::wstring wide = standin::Wide(path);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(wide.c_str(), &ignored);
    info.data.resize(size);
    if (size) GetFileVersionInfoW(wide.c_str(), 0, size, info.data.data());
    return info;
}

TEST(Version, BothProgramsCarryTheProjectVersionAndTheirCommitInTheirDetails) {
    const std::wstring version = standin::Wide(AIMING_PLUGIN_VERSION);
    struct Case {
        std::string path;
        const wchar_t* original;
    };
    const Case cases[] = {{standin::BuiltPluginPath(), L"AimingPlugin.dll"},
                          {AIMING_CHECKER_PATH, L"aimingsets-check.exe"}};
    std::wstring commits[2];
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const VersionInfo info = Read(c.path);
        commits[n++] = info.Value(L"Comments");
        ASSERT_FALSE(info.data.empty()) << "no version resource";
        EXPECT_EQ(info.Value(L"FileVersion"), version);
        // Details shows the product version, not the comments: the short commit goes there too.
        const std::wstring full = commits[n - 1].substr(commits[n - 1].find_last_of(L' ') + 1);
        const std::wstring shortCommit =
            full == L"unknown" ? full : full.substr(0, 7) + (full.find(L'+') == std::wstring::npos ? L"" : L"+changes");
        EXPECT_EQ(info.Value(L"ProductVersion"), version + L" (" + shortCommit + L")");
        EXPECT_EQ(info.Fixed(), version);
        EXPECT_EQ(info.Value(L"ProductName"), L"Aiming Plugin");
        EXPECT_EQ(info.Value(L"OriginalFilename"), c.original);
        EXPECT_FALSE(info.Value(L"FileDescription").empty());
    }
    // Both name the one commit they were built from.
    EXPECT_EQ(commits[0].rfind(L"Built from commit ", 0), 0u);
    EXPECT_GT(commits[0].size(), std::wstring(L"Built from commit ").size());
    EXPECT_EQ(commits[0], commits[1]);
}

}  // namespace
