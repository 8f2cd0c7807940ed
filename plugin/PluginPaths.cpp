#include "plugin/PluginPaths.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

PluginPaths paths;
// False when the module path came back cut short: no directory can be trusted.
bool directoryUsable = true;

void FindPluginDirectory() {
    paths.directory[0] = '\0';
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&FindPluginDirectory), &module)) {
        ReportError("FILESYSTEM\nFailed to retrieve plugin dir path");
        module = nullptr;  // GetModuleFileNameA then names the host's executable
    }
    const DWORD length = GetModuleFileNameA(module, paths.directory, kModulePathCapacity);
    if (length >= kModulePathCapacity) {
        // Cut short (Windows XP leaves it unterminated): never use a partial path.
        paths.directory[0] = '\0';
        directoryUsable = false;
        return;
    }
    paths.directory[length] = '\0';
    CutAfterLastSeparator(paths.directory);
}

}  // namespace

void CutAfterLastSeparator(char* path) {
    char* backslash = std::strrchr(path, '\\');
    char* slash = std::strrchr(path, '/');
    char* last = backslash > slash ? backslash : slash;
    if (last) last[1] = '\0';
}

bool ComposeSettingsPath(const char* directory, char* out, std::size_t capacity) {
    const std::size_t directoryLength = std::strlen(directory);
    const std::size_t total = directoryLength + sizeof kSettingsFileName;  // NUL included
    if (total > capacity) {
        if (capacity) out[0] = '\0';
        return false;
    }
    std::memcpy(out, directory, directoryLength);
    std::memcpy(out + directoryLength, kSettingsFileName, sizeof kSettingsFileName);
    return true;
}

const char* PluginDirectory() {
    static const bool found = (FindPluginDirectory(), true);
    (void)found;
    return paths.directory;
}

const char* SettingsFilePath() {
    const char* directory = PluginDirectory();
    if (!directoryUsable) {
        paths.settingsPath[0] = '\0';
        return paths.settingsPath;
    }
    ComposeSettingsPath(directory, paths.settingsPath, sizeof paths.settingsPath);
    return paths.settingsPath;
}

void ReportError(const char* format, ...) {
    static char message[kErrorMessageCapacity];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    MessageBoxA(GetActiveWindow(), message, kErrorCaption, MB_ICONERROR);
}
