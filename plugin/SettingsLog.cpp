#include "plugin/SettingsLog.h"

#include <windows.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <system_error>

#include "host/HostInterface.h"
#include "plugin/AimSettings.h"
#include "plugin/PluginLog.h"
#include "plugin/PluginPaths.h"
#include "settings/NumberRules.h"

namespace {

using settings::LineKind;

// A value as the checker prints it too, whatever the game's locale says of
// decimal points.
void AppendNumber(char*& out, char* end, float value) {
    char number[settings::kNumberTextSize];
    const std::size_t length = settings::FormatNumber(value, number);
    if (static_cast<std::size_t>(end - out) < length + 1) return;
    *out++ = ' ';
    std::memcpy(out, number, length);
    out += length;
}

// What line `number` gave, "1.5 0 2", or "-" for nothing; in `text`.
void DescribeValues(int number, const settings::LineValues& given, char* text, std::size_t size) {
    char* out = text;
    char* end = text + size - 1;
    if (given.count == 0) {
        std::snprintf(text, size, " -");
        return;
    }
    if (settings::kLayout[number - 1].kind == LineKind::ReloadSwitch) {
        std::snprintf(text, size, " %ld", static_cast<long>(given.integer));
        return;
    }
    for (int i = 0; i < given.count; ++i) AppendNumber(out, end, given.values[i]);
    *out = '\0';
}

bool SameValues(const settings::LineValues& a, const settings::LineValues& b) {
    return a.count == b.count && a.integer == b.integer &&
           std::memcmp(a.values, b.values, static_cast<std::size_t>(a.count) * sizeof(float)) == 0;
}

// The values the lines gave: every value line for the first load, only the
// lines whose values differ from `before` for a later one.
void LogValues(const settings::SettingsFile& file, const settings::LineValues* before) {
    bool heading = false;
    for (int number = 1; number <= settings::kLineCount; ++number) {
        if (settings::kLayout[number - 1].kind == LineKind::FreeText) continue;
        const settings::LineValues& now = file.lines[number - 1];
        if (before && SameValues(now, before[number - 1])) continue;
        if (!heading) Log(before ? "  changed:" : "  values in effect, by line (-: none given, kept as it was):");
        heading = true;
        char values[160], was[160], role[32];
        DescribeValues(number, now, values, sizeof values);
        const char* sets = settings::LineRole(number, role);
        if (before) {
            DescribeValues(number, before[number - 1], was, sizeof was);
            Log("    line %2d (%s):%s (was%s)", number, sets, values, was);
        } else {
            Log("    line %2d (%s):%s", number, sets, values);
        }
    }
}

// Whether "<path>.txt" is there (Notepad's Save As), and, unless `missing`,
// newer than `path` itself.
bool NotepadCopyBeside(const wchar_t* path, bool missing) {
    wchar_t copy[1024];
    const std::size_t length = std::wcslen(path);
    if (length + 5 > sizeof copy / sizeof copy[0]) return false;
    std::wmemcpy(copy, path, length);
    std::wmemcpy(copy + length, L".txt", 5);
    WIN32_FILE_ATTRIBUTE_DATA txt, dat;
    if (!GetFileAttributesExW(copy, GetFileExInfoStandard, &txt) || (txt.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    if (missing) return true;
    return GetFileAttributesExW(path, GetFileExInfoStandard, &dat) &&
           CompareFileTime(&txt.ftLastWriteTime, &dat.ftLastWriteTime) > 0;
}

void LogOutcome(const SettingsLoad& load, const settings::LineValues* before) {
    if (load.path[0] == L'\0') {
        Log("  nothing read, nothing applied");
        return;
    }
    if (load.notRegular) {
        Log("  it is not a file on a disk (a device, a pipe or a folder): not read, nothing applied");
        return;
    }
    if (!load.file) {
        Log("  cannot be opened (Windows error %lu): %s; nothing applied", load.openError,
            settings::OpenFailureMeaning(settings::OpenFailureOf(load.openError)));
        if (NotepadCopyBeside(load.path, true)) Log("  %s", settings::kNotepadTxtHint);
        return;
    }
    // Once, at the first load: a save while the game runs is the player at work.
    if (!before && NotepadCopyBeside(load.path, false))
        Log("  file: %s (it is newer than this one)", settings::kNotepadTxtHint);
    const settings::SettingsFile& file = *load.file;
    const HostSettings& host = *load.host;
    Log("  %d line(s), %s", file.linesRead, settings::EncodingName(file.encoding));
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
        : load.record->reloadEveryFrame           ? "on"
                                                  : "off",
        hostValues, settings::kHostValueCount,
        file.Given(LineKind::CodeConstant).count ? "the code constant" : "no code constant",
        host.AimBlockSkipped() ? 0 : file.aimRowsPublished, settings::kAimRowCount, offsetRows,
        settings::kWeaponOffsetRows);
    LogValues(file, before);
}

}  // namespace

void LogSettingsLoad(const SettingsLoad& load, const settings::LineValues* before) {
    BeginLogEntry();
    char heading[64] = "settings file:";
    if (before) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        std::snprintf(heading, sizeof heading, "settings file changed (%02u:%02u:%02u):", now.wHour, now.wMinute,
                      now.wSecond);
    }
    if (PluginFolderFound()) {
        Log("%s %s", heading, Utf8Text(load.path).c_str());
    } else {
        wchar_t folder[1024];
        const DWORD length = GetCurrentDirectoryW(1024, folder);
        if (length == 0 || length >= 1024) folder[0] = L'\0';
        Log("%s %s in the current folder, %s (the plugin's own folder could not be found)", heading,
            Utf8Text(load.path).c_str(), Utf8Text(folder).c_str());
    }
    LogOutcome(load, before);
    EndLogEntry();
}
