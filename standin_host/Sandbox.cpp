// The plugin as a test meets it: a directory of its own with a copy of the
// DLL and a settings file, and the DLL loaded from there.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "standin_host/Standin.h"
#include "standin_host/StandinInternal.h"

namespace standin {

std::wstring Wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n - 1 : 0), L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], n);
    return wide;
}

std::string Utf8(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    return out;
}

std::string BuiltPluginPath() {
    return AIMING_PLUGIN_BUILT_PATH;
}

PluginSandbox::PluginSandbox() {
    static int serial = 0;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    for (;;) {
        path_ = std::string(temp) + "aimplugin-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++serial) + "\\";
        if (CreateDirectoryA(path_.c_str(), nullptr)) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot create " + path_);
    }
    if (!CopyFileA(BuiltPluginPath().c_str(), PluginPath().c_str(), FALSE))
        throw std::runtime_error("cannot copy the plugin from " + BuiltPluginPath());
}

PluginSandbox::~PluginSandbox() {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path_ + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            SetFileAttributesA((path_ + name).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA((path_ + name).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path_.c_str());
}

void PluginSandbox::WriteSettings(const std::string& contents) const {
    if (!WriteWholeFile(Wide(SettingsPath()), contents))
        throw std::runtime_error("cannot write " + SettingsPath() + " (error " + std::to_string(GetLastError()) + ")");
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    CloseHandle(file);
    return ok;
}

std::string ReadWholeFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    std::string text(2 << 20, '\0');
    DWORD got = 0;
    ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &got, nullptr);
    CloseHandle(file);
    text.resize(got);
    return text;
}

std::string PluginSandbox::ReadLog() const {
    return ReadWholeFile(Wide(LogPath()));
}

void PluginSandbox::AgeSettings() const {
    HANDLE file =
        CreateFileA(SettingsPath().c_str(), FILE_WRITE_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time;
    time.LowPart = now.dwLowDateTime;
    time.HighPart = now.dwHighDateTime;
    time.QuadPart -= 60ull * 10000000ull;
    const FILETIME earlier{time.LowPart, time.HighPart};
    SetFileTime(file, nullptr, nullptr, &earlier);
    CloseHandle(file);
}

void PluginSandbox::RemoveSettings() const {
    DeleteFileA(SettingsPath().c_str());
}

PluginModule::PluginModule(const std::string& dllPath, bool instrument) : PluginModule(Wide(dllPath), instrument) {}

PluginModule::PluginModule(const std::wstring& dllPath, bool instrument) {
    std::unique_ptr<InstrumentationScope> scope;
    if (instrument) scope = std::make_unique<InstrumentationScope>(dllPath);
    // Paths beyond MAX_PATH load through the wide API's long-path form.
    module_ = LoadLibraryW(
        (dllPath.size() >= MAX_PATH && dllPath.rfind(L"\\\\?\\", 0) != 0 ? L"\\\\?\\" + dllPath : dllPath).c_str());
    // Counts of a plugin that was never instrumented would measure nothing.
    if (instrument && module_ && !PluginInstrumented()) {
        std::fprintf(stderr, "standin: the plugin was loaded but not instrumented: its calls cannot be counted\n");
        std::abort();
    }
}

PluginModule::~PluginModule() {
    Free();
}

void PluginModule::Free() {
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
}

}  // namespace standin
