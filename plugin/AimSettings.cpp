#include "plugin/AimSettings.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "codepatch/memory.h"
#include "host/HostBuild.h"
#include "plugin/PluginLog.h"
#include "plugin/PluginPaths.h"
#include "plugin/SettingsWatch.h"
#include "settings/SettingsDiagnostics.h"
#include "settings/SettingsReader.h"

AimSettings aimSettings = {};

namespace {

std::size_t ReadFromHandle(void* context, char* buffer, std::size_t size) {
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(context), buffer, static_cast<DWORD>(size), &got, nullptr)) return 0;
    return got;
}

template <typename T>
T* HostData(host::Address address) {
    return reinterpret_cast<T*>(static_cast<std::uintptr_t>(address));
}

codepatch::patch_address At(host::Address address) {
    return codepatch::patch_address(address);
}

// What one load did, kept until the next so that a reload that changes
// nothing is not written to the log again.
struct LoadRecord {
    static constexpr int kMaxProblems = 48;
    static constexpr std::size_t kProblemLength = 320;

    DWORD openError = 0;      // the file could not be opened: GetLastError()
    bool notRegular = false;  // opened, but not a file on a disk
    bool read = false;
    bool reloadGiven = false;
    int hostValuesGiven = 0;
    bool hostValueSkipped[settings::kHostValueCount] = {};
    bool codeConstantGiven = false;
    bool codeConstantSkipped = false;
    int aimRowsPublished = 0;
    bool aimBlockSkipped = false;
    int offsetRowsGiven = 0;
    int problemCount = 0;
    int problemLine[kMaxProblems] = {};
    char problem[kMaxProblems][kProblemLength] = {};
    std::uint64_t fingerprint = 14695981039346656037ull;  // FNV-1a over everything above and every value

    void Mix(const void* data, std::size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < size; ++i) fingerprint = (fingerprint ^ bytes[i]) * 1099511628211ull;
    }
    template <typename T>
    void Mix(const T& value) {
        Mix(&value, sizeof value);
    }
};

// What the last load put into the host, to be put back on frames that do not
// read the file: exactly what reading it again would write.
struct Applied {
    bool hostValue[settings::kHostValueCount] = {};
    float hostValues[settings::kHostValueCount] = {};
    bool codeConstant = false;
    std::uint32_t codeBits = 0;
    bool aim[settings::kAimRowCount][settings::kAimRowLength] = {};  // values in aimSettings.aimRows
    bool anyAim = false;
};

LoadRecord current;
Applied applied;
SettingsWatch watch;
std::uint64_t lastLogged = 0;
bool anyLogged = false;
std::uint64_t lastLoad = 0;  // the fingerprint of the load before
// Line 1 read 0 from a file that was still being written: live reload goes on
// until a load confirms it (below).
bool stopUnconfirmed = false;

void AddProblem(void* context, int lineNumber, const char* text) {
    auto* record = static_cast<LoadRecord*>(context);
    record->Mix(lineNumber);
    record->Mix(text, std::strlen(text));
    if (record->problemCount == LoadRecord::kMaxProblems) return;
    record->problemLine[record->problemCount] = lineNumber;
    std::snprintf(record->problem[record->problemCount], LoadRecord::kProblemLength, "%s", text);
    ++record->problemCount;
}

// The settings' destinations in the host and in aimSettings. The host's data
// words and block are written with plain stores at their fixed addresses,
// and only where the memory is committed and writable; the constant inside
// the host's code goes through a protection bracket.
class HostSink final : public settings::SettingsSink {
public:
    explicit HostSink(LoadRecord& record) : record_(record) {}

    void SetReloadEveryFrame(std::int32_t value) override {
        aimSettings.reloadEveryFrame = value;
        record_.reloadGiven = true;
        record_.Mix(value);
    }
    void SetHostValue(int index, float value) override {
        record_.Mix(index);
        record_.Mix(value);
        ++record_.hostValuesGiven;
        const host::Address address = host::kAimValues[index];
        if (!codepatch::is_writable(At(address), 4)) {
            record_.hostValueSkipped[index] = true;
            return;
        }
        *HostData<float>(address) = value;
        applied.hostValue[index] = true;
        applied.hostValues[index] = value;
    }
    void SetCodeConstant(std::uint32_t bits) override {
        record_.Mix(bits);
        record_.codeConstantGiven = true;
        const codepatch::patch_address at(RebaseHostAddress(host::kAimCodeConstant));
        record_.codeConstantSkipped = !codepatch::try_poke_u32(at, bits);
        applied.codeConstant = !record_.codeConstantSkipped;
        applied.codeBits = bits;
    }
    void StageAimRow(int row, const float* values, int count) override {
        record_.Mix(row);
        record_.Mix(values, static_cast<std::size_t>(count) * sizeof(float));
        // Staged over the host's block as it is now, so that what no file
        // gives keeps the host's own value.
        if (!staged_ && codepatch::is_writable(At(host::kAimBlock), host::kAimBlockBytes))
            std::memcpy(aimSettings.aimRows, HostData<void>(host::kAimBlock), sizeof aimSettings.aimRows);
        staged_ = true;
        std::memcpy(aimSettings.aimRows[row], values, static_cast<std::size_t>(count) * sizeof(float));
        for (int i = 0; i < count; ++i) stagedGiven_[row][i] = true;
    }
    void PublishAimRows(int rowCount) override {
        record_.aimRowsPublished = rowCount;
        const std::size_t size = static_cast<std::size_t>(rowCount) * sizeof aimSettings.aimRows[0];
        if (!codepatch::is_writable(At(host::kAimBlock), static_cast<std::uint32_t>(size))) {
            record_.aimBlockSkipped = true;
            return;
        }
        std::memcpy(HostData<void>(host::kAimBlock), aimSettings.aimRows, size);
        std::memcpy(applied.aim, stagedGiven_, sizeof stagedGiven_[0] * static_cast<std::size_t>(rowCount));
        applied.anyAim = true;
    }
    void SetWeaponOffset(int row, const float* values, int count) override {
        record_.Mix(row);
        record_.Mix(values, static_cast<std::size_t>(count) * sizeof(float));
        if (count == 0) return;
        ++record_.offsetRowsGiven;
        std::memcpy(aimSettings.weaponOffsets[row], values, static_cast<std::size_t>(count) * sizeof(float));
        aimSettings.weaponOffsetGiven[row] = true;
    }
    void LineRead(int lineNumber, const settings::Line& line, const settings::ParsedLine& parsed) override {
        settings::DiagnoseLine(lineNumber, line, parsed, &AddProblem, &record_);
    }

private:
    LoadRecord& record_;
    bool staged_ = false;
    bool stagedGiven_[settings::kAimRowCount][settings::kAimRowLength] = {};
};

// A frame that does not read the file puts back what the last load wrote,
// with plain stores; the code constant only where its bytes differ, so that
// an unchanged frame lifts no protection.
void ReapplyLastLoad() {
    for (int k = 0; k < settings::kHostValueCount; ++k)
        if (applied.hostValue[k] && codepatch::is_writable(At(host::kAimValues[k]), 4))
            *HostData<float>(host::kAimValues[k]) = applied.hostValues[k];
    if (applied.anyAim && codepatch::is_writable(At(host::kAimBlock), host::kAimBlockBytes)) {
        auto* block = HostData<float>(host::kAimBlock);
        for (int r = 0; r < settings::kAimRowCount; ++r)
            for (int i = 0; i < settings::kAimRowLength; ++i)
                if (applied.aim[r][i]) block[r * settings::kAimRowLength + i] = aimSettings.aimRows[r][i];
    }
    if (applied.codeConstant) {
        const codepatch::patch_address at(RebaseHostAddress(host::kAimCodeConstant));
        std::uint32_t now = 0;
        if (!codepatch::is_readable(at, 4) || (std::memcpy(&now, at.pointer(), 4), now != applied.codeBits))
            codepatch::try_poke_u32(at, applied.codeBits);
    }
}

void LogLoad(const LoadRecord& r, const wchar_t* path) {
    Log("%s %s", anyLogged ? "settings file changed:" : "settings file:",
        path[0] ? Utf8(path) : "(unknown: the plugin's own path could not be found)");
    if (path[0] == L'\0') {
        Log("  nothing read, nothing applied");
        return;
    }
    if (r.notRegular) {
        Log("  it is not a file on a disk (a device, a pipe or a folder): not read, nothing applied");
        return;
    }
    if (!r.read) {
        Log("  cannot be opened (Windows error %lu%s): nothing applied", r.openError,
            r.openError == ERROR_FILE_NOT_FOUND || r.openError == ERROR_PATH_NOT_FOUND ? ", no such file"
            : r.openError == ERROR_SHARING_VIOLATION                                   ? ", another program holds it"
                                                                                       : "");
        return;
    }
    for (int i = 0; i < r.problemCount; ++i) {
        if (r.problemLine[i])
            Log("  line %d: %s", r.problemLine[i], r.problem[i]);
        else
            Log("  file: %s", r.problem[i]);
    }
    for (int k = 0; k < settings::kHostValueCount; ++k)
        if (r.hostValueSkipped[k])
            Log("  line %d: host value %d at 0x%06X is not writable memory in this game: left alone",
                settings::LineOfHostValue(k), k + 1, host::kAimValues[k]);
    if (r.codeConstantSkipped)
        Log("  line 5: the code constant at 0x%06X cannot be written: left alone", host::kAimCodeConstant);
    if (r.aimBlockSkipped)
        Log("  lines 11-14: the aim block at 0x%06X is not writable memory in this game: left alone", host::kAimBlock);
    Log("  applied: live reload %s, %d of %d host values, %s, %d of %d aim block rows, %d of %d weapon offset rows",
        !r.reloadGiven                 ? "unchanged"
        : aimSettings.reloadEveryFrame ? "on"
                                       : "off",
        r.hostValuesGiven, settings::kHostValueCount, r.codeConstantGiven ? "the code constant" : "no code constant",
        r.aimBlockSkipped ? 0 : r.aimRowsPublished, settings::kAimRowCount, r.offsetRowsGiven,
        settings::kWeaponOffsetRows);
}

}  // namespace

void RefreshAimSettings() {
    // An unconfirmed stop reads on every frame until a read confirms it.
    if (stopUnconfirmed || watch.ReadDue())
        LoadAimSettings();
    else
        ReapplyLastLoad();
}

bool ReloadDue() {
    return aimSettings.reloadEveryFrame != 0 || stopUnconfirmed;
}

void LoadAimSettings() {
    const bool reloadWasOn = aimSettings.reloadEveryFrame != 0 || stopUnconfirmed;
    int linesRead = 0;
    current = LoadRecord{};
    applied = Applied{};
    LoadRecord& record = current;
    const wchar_t* path = SettingsFilePath();
    if (!watch.Started() && path[0] != L'\0') watch.Start(path);
    if (path[0] != L'\0') {
        // Every sharing mode: an editor may write, replace or delete the file
        // while the host holds it open for the length of one load.
        HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            record.openError = GetLastError();
        } else {
            // A pipe or a device in the file's place is not read (a folder
            // does not open without FILE_FLAG_BACKUP_SEMANTICS at all).
            record.notRegular = GetFileType(file) != FILE_TYPE_DISK;
            if (!record.notRegular) {
                record.read = true;
                settings::LineReader reader(&ReadFromHandle, file);
                HostSink sink(record);
                linesRead = settings::ApplySettings(reader, sink);
                const bool linesAfter = linesRead == settings::kLineCount && settings::HasMoreText(reader);
                settings::DiagnoseFile(linesRead, linesAfter, reader.LimitReached(), &AddProblem, &record);
            }
            CloseHandle(file);
        }
    }
    record.Mix(record.openError);
    record.Mix(record.notRegular);
    record.Mix(record.read);
    // Another program holding the file (an editor saving it) lets go soon:
    // try again on the next frame rather than wait for the next change.
    watch.Read(record.openError == ERROR_SHARING_VIOLATION || record.openError == ERROR_LOCK_VIOLATION ||
               record.openError == ERROR_ACCESS_DENIED);
    // A save that turns live reload off ends it once it has been read whole:
    // all its lines, or the same text twice in a row. A frame that caught the
    // editor half-way through writing it would otherwise keep the half it saw.
    stopUnconfirmed = reloadWasOn && record.read && aimSettings.reloadEveryFrame == 0 &&
                      linesRead < settings::kLineCount && record.fingerprint != lastLoad;
    lastLoad = record.fingerprint;
    if (anyLogged && record.fingerprint == lastLogged) return;
    BeginLogEntry();
    LogLoad(record, path);
    EndLogEntry();
    lastLogged = record.fingerprint;
    anyLogged = true;
}
