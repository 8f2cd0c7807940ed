#include "plugin/PluginPaths.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <utility>

#include "plugin/ErrorReport.h"

namespace {

struct PluginPaths {
    wchar_t module[kPathCapacity];
    wchar_t directory[kPathCapacity];
    wchar_t settings[kPathCapacity];
    wchar_t log[kPathCapacity];
    wchar_t ini[kPathCapacity];
    wchar_t name[kPathCapacity];  // the module's file name with another extension
};
PluginPaths paths;

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
    return std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
}

// The module's path, whole, or empty: GetModuleFileNameW cuts a path that
// does not fit and says so only through its length.
void FindModulePath() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&FindModulePath), &module)) {
        ReportError("FILESYSTEM\nFailed to retrieve plugin dir path");
        module = nullptr;  // GetModuleFileNameW then names the host's executable
    }
    const DWORD length = GetModuleFileNameW(module, paths.module, kPathCapacity);
    paths.module[length < kPathCapacity ? length : 0] = L'\0';
}

void FindPaths() {
    FindModulePath();
    std::wcscpy(paths.directory, paths.module);
    CutAfterLastSeparator(paths.directory);
    if (paths.module[0] == L'\0') {
        // No path of its own at all: the bare names, which Windows looks up
        // in the process's current folder.
        std::wcscpy(paths.settings, kSettingsFileName);
        std::wcscpy(paths.log, L"AimingPlugin.log");
        std::wcscpy(paths.ini, L"AimingPlugin.ini");
        return;
    }
    ComposePath(paths.directory, kSettingsFileName, paths.settings, kPathCapacity);
    // The module's own name with another extension: a renamed DLL has its
    // own log and ini.
    for (const auto& [extension, out] :
         {std::pair<const wchar_t*, wchar_t*>{L".log", paths.log}, {L".ini", paths.ini}}) {
        wchar_t* name = paths.name;
        std::wcscpy(name, paths.module + std::wcslen(paths.directory));
        if (wchar_t* dot = std::wcsrchr(name, L'.')) *dot = L'\0';
        if (std::wcslen(name) + 5 > kPathCapacity) return;
        std::wcscat(name, extension);
        ComposePath(paths.directory, name, out, kPathCapacity);
    }
}

const PluginPaths& Paths() {
    static const bool found = (FindPaths(), true);
    (void)found;
    return paths;
}

}  // namespace

void CutAfterLastSeparator(wchar_t* path) {
    wchar_t* backslash = std::wcsrchr(path, L'\\');
    wchar_t* slash = std::wcsrchr(path, L'/');
    wchar_t* last = backslash > slash ? backslash : slash;
    if (last) last[1] = L'\0';
}

bool ComposePath(const wchar_t* directory, const wchar_t* name, wchar_t* out, std::size_t capacity) {
    const std::size_t directoryLength = std::wcslen(directory);
    const std::size_t nameLength = std::wcslen(name);
    const wchar_t* prefix = L"";
    const wchar_t* rest = directory;
    if (directoryLength + nameLength >= MAX_PATH && !StartsWith(directory, L"\\\\?\\")) {
        if (StartsWith(directory, L"\\\\")) {
            prefix = L"\\\\?\\UNC\\";  // \\server\share\... -> \\?\UNC\server\share\...
            rest = directory + 2;
        } else if (directory[0] != L'\0' && directory[1] == L':') {
            prefix = L"\\\\?\\";
        }
    }
    const std::size_t prefixLength = std::wcslen(prefix);
    const std::size_t restLength = std::wcslen(rest);
    if (prefixLength + restLength + nameLength + 1 > capacity) {
        if (capacity) out[0] = L'\0';
        return false;
    }
    std::wmemcpy(out, prefix, prefixLength);
    std::wmemcpy(out + prefixLength, rest, restLength);
    std::wmemcpy(out + prefixLength + restLength, name, nameLength + 1);
    // The long-path form takes no forward slashes.
    if (prefixLength)
        for (wchar_t* p = out + prefixLength; *p; ++p)
            if (*p == L'/') *p = L'\\';
    return true;
}

bool PluginFolderFound() {
    return Paths().module[0] != L'\0';
}

const wchar_t* SettingsFilePath() {
    return Paths().settings;
}

const wchar_t* LogFilePath() {
    return Paths().log;
}

const wchar_t* IniFilePath() {
    return Paths().ini;
}
