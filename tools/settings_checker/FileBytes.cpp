#include "tools/settings_checker/FileBytes.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/SettingsFile.h"

namespace checker {
namespace {

FileBytes NotRead(const std::string& fullPath, const std::string& why) {
    FileBytes file;
    file.fullPath = fullPath;
    file.why = why;
    return file;
}

const char kNotOnDisk[] = "it is not a file on a disk (a device or a pipe): the plugin does not read it";

// The first `limit` bytes from `read`, and whether there are more: memory
// grows with the file, a megabyte at a time.
template <typename Read>
void TakeBytes(FileBytes& file, std::size_t limit, Read read) {
    std::size_t size = 0;
    while (size <= limit) {
        const std::size_t room = std::min<std::size_t>(std::size_t{1} << 20, limit + 1 - size);
        file.bytes.resize(size + room);
        const std::size_t got = settings::ReadUpTo(&file.bytes[size], room, read);
        size += got;
        if (got < room) break;
    }
    file.more = size > limit;
    file.bytes.resize(file.more ? limit : size);
    file.read = true;
}

}  // namespace

#ifdef _WIN32
std::string Utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], n);
    return out;
}

bool PathExists(const std::string& path) {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

FileBytes ReadFileBytes(const std::string& path, std::size_t limit) {
    // Paths are UTF-8 here; Windows takes any script through its wide API.
    const std::wstring wide = Wide(path);
    std::wstring full(32768, L'\0');
    const DWORD fullLength = GetFullPathNameW(wide.c_str(), 32768, &full[0], nullptr);
    const std::string fullPath = fullLength && fullLength < 32768 ? Utf8(full.c_str()) : path;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return NotRead(fullPath, "it is a folder, not a file");
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const settings::OpenFailure failure = settings::OpenFailureOf(error);
        FileBytes file = NotRead(fullPath, settings::OpenFailureMeaning(failure));
        file.missing = failure == settings::OpenFailure::NoSuchFile;
        if (failure == settings::OpenFailure::Other) file.why += " (Windows error " + std::to_string(error) + ")";
        return file;
    }
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return NotRead(fullPath, kNotOnDisk);
    }
    FileBytes file;
    file.fullPath = fullPath;
    TakeBytes(file, limit, [handle](char* into, std::size_t room) {
        DWORD got = 0;
        const auto ask = static_cast<DWORD>(room < 0x10000000 ? room : 0x10000000);
        return ReadFile(handle, into, ask, &got, nullptr) ? std::size_t{got} : std::size_t{0};
    });
    CloseHandle(handle);
    return file;
}

std::string FolderOf(const std::string& fullPath) {
    const std::size_t slash = fullPath.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".\\") : fullPath.substr(0, slash + 1);
}

bool NewerFileExists(const std::string& path, const std::string& than) {
    WIN32_FILE_ATTRIBUTE_DATA file, other;
    return GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &file) &&
           !(file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           GetFileAttributesExW(Wide(than).c_str(), GetFileExInfoStandard, &other) &&
           CompareFileTime(&file.ftLastWriteTime, &other.ftLastWriteTime) > 0;
}
#else
bool PathExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

bool FileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool NewerFileExists(const std::string& path, const std::string& than) {
    struct stat file, other;
    if (stat(path.c_str(), &file) != 0 || S_ISDIR(file.st_mode) || stat(than.c_str(), &other) != 0) return false;
    return file.st_mtim.tv_sec != other.st_mtim.tv_sec ? file.st_mtim.tv_sec > other.st_mtim.tv_sec
                                                       : file.st_mtim.tv_nsec > other.st_mtim.tv_nsec;
}

// The full name of `path`: as the system resolves it, or, for a name that
// is not there, the current folder's with the path after it.
std::string FullPathOf(const std::string& path) {
    if (char* resolved = realpath(path.c_str(), nullptr)) {
        std::string full = resolved;
        std::free(resolved);
        return full;
    }
    if (!path.empty() && path[0] == '/') return path;
    char* folder = getcwd(nullptr, 0);
    if (!folder) return path;
    std::string full = std::string(folder) + "/" + path;
    std::free(folder);
    return full;
}

FileBytes ReadFileBytes(const std::string& path, std::size_t limit) {
    const std::string fullPath = FullPathOf(path);
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT) return NotRead(fullPath, std::string("it cannot be looked at: ") + std::strerror(errno));
        FileBytes file = NotRead(fullPath, settings::OpenFailureMeaning(settings::OpenFailure::NoSuchFile));
        file.missing = true;
        return file;
    }
    if (S_ISDIR(info.st_mode)) return NotRead(fullPath, "it is a folder, not a file");
    // A pipe would make the open wait for a writer; a device may never end.
    if (!S_ISREG(info.st_mode)) return NotRead(fullPath, kNotOnDisk);
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    if (!stream) return NotRead(fullPath, std::string("it cannot be opened: ") + std::strerror(errno));
    FileBytes file;
    file.fullPath = fullPath;
    TakeBytes(file, limit, [stream](char* into, std::size_t room) { return std::fread(into, 1, room, stream); });
    std::fclose(stream);
    return file;
}

std::string FolderOf(const std::string& fullPath) {
    const std::size_t slash = fullPath.rfind('/');
    return slash == std::string::npos ? std::string("./") : fullPath.substr(0, slash + 1);
}
#endif

}  // namespace checker
