#include "plugin/OptionsFile.h"

#include <windows.h>

#include "plugin/PluginLog.h"
#include "plugin/PluginPaths.h"

namespace {

// The ini's name as the log gives it: the file name alone.
const wchar_t* FileName(const wchar_t* path) {
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/') name = p + 1;
    return name;
}

// The ini's bytes, at most `capacity`; -1 when there is no file to read
// (none, a folder, a device or a pipe in its place, or one it may not open).
long ReadIni(char* bytes, std::size_t capacity) {
    HANDLE file = CreateFileW(IniFilePath(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    long size = -1;
    if (GetFileType(file) == FILE_TYPE_DISK)
        size = static_cast<long>(settings::ReadUpTo(bytes, capacity, [file](char* into, std::size_t room) {
            DWORD got = 0;
            return ReadFile(file, into, static_cast<DWORD>(room), &got, nullptr) ? std::size_t{got} : 0;
        }));
    CloseHandle(file);
    return size;
}

}  // namespace

OptionsFile::Stamp OptionsFile::StampNow() {
    Stamp stamp;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(IniFilePath(), GetFileExInfoStandard, &data)) return stamp;
    stamp.there = true;
    stamp.size = data.nFileSizeLow;
    stamp.writeLow = data.ftLastWriteTime.dwLowDateTime;
    stamp.writeHigh = data.ftLastWriteTime.dwHighDateTime;
    return stamp;
}

void OptionsFile::Load() {
    Read(true);
}

void OptionsFile::Frame() {
    const unsigned long long now = GetTickCount64();
    if (now - lastGlance_ < 1000) return;
    lastGlance_ = now;
    if (!(StampNow() == stamp_)) Read(false);
}

void OptionsFile::Read(bool atStart) {
    stamp_ = StampNow();
    lastGlance_ = GetTickCount64();
    const long size = ReadIni(bytes_, sizeof bytes_);
    if (size < 0) {
        ini_.options = settings::PluginOptions{};
        ini_.problems.count = 0;
    } else {
        settings::ReadPluginIni(bytes_, static_cast<std::size_t>(size), ini_);
    }
    const Utf8Text name(FileName(IniFilePath()));
    // No file at start-up: the defaults, as without any; nothing to say.
    if (size < 0 && atStart) return;
    char described[128];
    if (size < 0) {
        Log("%s is gone: the defaults again (%s)", name.c_str(), settings::DescribeOptions(ini_.options, described));
        return;
    }
    Log("%s %s: %s", name.c_str(), atStart ? "read" : "changed, read again",
        settings::DescribeOptions(ini_.options, described));
    for (int i = 0; i < ini_.problems.Kept(); ++i) {
        const settings::Problem& problem = ini_.problems.kept[i];
        if (problem.line)
            Log("  %s line %d: %s", name.c_str(), problem.line, problem.text);
        else
            Log("  %s: %s", name.c_str(), problem.text);
    }
    if (ini_.problems.count > ini_.problems.Kept())
        Log("  %s: %d more problem(s) not listed", name.c_str(), ini_.problems.count - ini_.problems.Kept());
}

const char* OptionsFile::Keys(char (&out)[64]) const {
    return settings::DescribeKeys(ini_.options, out);
}
