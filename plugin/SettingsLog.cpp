#include "plugin/SettingsLog.h"

#include <windows.h>

#include "host/HostInterface.h"
#include "plugin/AimSettings.h"
#include "plugin/PluginLog.h"
#include "plugin/PluginPaths.h"

namespace {

using settings::LineKind;

const char* OpenErrorMeaning(unsigned long error) {
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return ", no such file";
    if (error == ERROR_SHARING_VIOLATION) return ", another program holds it";
    return "";
}

void LogOutcome(const SettingsLoad& load) {
    if (load.path[0] == L'\0') {
        Log("  nothing read, nothing applied");
        return;
    }
    if (load.notRegular) {
        Log("  it is not a file on a disk (a device, a pipe or a folder): not read, nothing applied");
        return;
    }
    if (!load.file) {
        Log("  cannot be opened (Windows error %lu%s): nothing applied", load.openError,
            OpenErrorMeaning(load.openError));
        return;
    }
    const settings::SettingsFile& file = *load.file;
    const HostSettings& host = *load.host;
    for (int i = 0; i < file.problems.Kept(); ++i) {
        const settings::Problem& problem = file.problems.kept[i];
        if (problem.line)
            Log("  line %d: %s", problem.line, problem.text);
        else
            Log("  file: %s", problem.text);
    }
    if (file.problems.count > file.problems.Kept())
        Log("  file: %d more problem(s) not listed", file.problems.count - file.problems.Kept());
    for (int k = 0; k < settings::kHostValueCount; ++k)
        if (host.HostValueSkipped(k))
            Log("  line %d: host value %d at 0x%06X is not writable memory in this game: left alone",
                settings::LineOf(LineKind::HostValue, k), k + 1, host::kAimValues[k]);
    if (host.CodeConstantSkipped())
        Log("  line %d: the code constant at 0x%06X cannot be written: left alone",
            settings::LineOf(LineKind::CodeConstant), host::kAimCodeConstant);
    if (host.AimBlockSkipped())
        Log("  lines %d-%d: the aim block at 0x%06X is not writable memory in this game: left alone",
            settings::LineOf(LineKind::AimRow, 0), settings::LineOf(LineKind::AimRow, settings::kAimRowCount - 1),
            host::kAimBlock);
    int hostValues = 0, offsetRows = 0;
    for (int k = 0; k < settings::kHostValueCount; ++k) hostValues += file.Given(LineKind::HostValue, k).count ? 1 : 0;
    for (int r = 0; r < settings::kWeaponOffsetRows; ++r)
        offsetRows += file.Given(LineKind::WeaponOffset, r).count ? 1 : 0;
    Log("  applied: live reload %s, %d of %d host values, %s, %d of %d aim block rows, %d of %d weapon offset rows",
        !file.Given(LineKind::ReloadSwitch).count ? "unchanged"
        : aimSettings.reloadEveryFrame            ? "on"
                                                  : "off",
        hostValues, settings::kHostValueCount,
        file.Given(LineKind::CodeConstant).count ? "the code constant" : "no code constant",
        host.AimBlockSkipped() ? 0 : file.aimRowsPublished, settings::kAimRowCount, offsetRows,
        settings::kWeaponOffsetRows);
}

}  // namespace

void LogSettingsLoad(const SettingsLoad& load, bool changed) {
    BeginLogEntry();
    if (PluginFolderFound()) {
        Log("%s %s", changed ? "settings file changed:" : "settings file:", Utf8(load.path));
    } else {
        // (Utf8 has one buffer: the folder goes first, into one of its own.)
        static wchar_t folder[kPathCapacity];
        static char folderText[3 * kPathCapacity];
        if (!GetCurrentDirectoryW(kPathCapacity, folder) ||
            !WideCharToMultiByte(CP_UTF8, 0, folder, -1, folderText, sizeof folderText, nullptr, nullptr))
            folderText[0] = '\0';
        Log("%s %s in the current folder, %s (the plugin's own folder could not be found)",
            changed ? "settings file changed:" : "settings file:", Utf8(load.path), folderText);
    }
    LogOutcome(load);
    EndLogEntry();
}
