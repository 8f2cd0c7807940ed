#include "tools/settings_checker/FileBytes.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "settings/SettingsFile.h"

namespace checker {
namespace {

OpenedFile NotOpened(const std::string& fullPath, const std::string& why) {
    OpenedFile file;
    file.fullPath = fullPath;
    file.why = why;
    return file;
}

const char kNotOnDisk[] = "it is not a file on a disk (a device or a pipe): the plugin does not read it";

// The system's file: a handle (Windows) or a descriptor, read at an offset.
#ifdef _WIN32
using FileHandle = HANDLE;
#else
using FileHandle = int;
#endif
// Reads up to `size` bytes at `offset`; 0 at the end or on a failure.
std::size_t ReadSomeAt(FileHandle file, std::uint64_t offset, char* into, std::size_t size);
void CloseFile(FileHandle file);

class FileOnDisk final : public ByteSource {
public:
    FileOnDisk(FileHandle file, std::uint64_t size) : file_(file), size_(size) {}
    ~FileOnDisk() override { CloseFile(file_); }
    FileOnDisk(const FileOnDisk&) = delete;
    FileOnDisk& operator=(const FileOnDisk&) = delete;
    std::uint64_t Size() const override { return size_; }
    bool ReadAt(std::uint64_t offset, void* into, std::size_t size) const override {
        for (auto* out = static_cast<char*>(into); size;) {
            const std::size_t got = ReadSomeAt(file_, offset, out, size);
            if (got == 0) return false;
            out += got;
            offset += got;
            size -= got;
        }
        return true;
    }

private:
    FileHandle file_;
    std::uint64_t size_;
};

class MemoryBytes final : public ByteSource {
public:
    explicit MemoryBytes(std::string bytes) : bytes_(std::move(bytes)) {}
    std::uint64_t Size() const override { return bytes_.size(); }
    bool ReadAt(std::uint64_t offset, void* into, std::size_t size) const override {
        if (offset > bytes_.size() || bytes_.size() - offset < size) return false;
        if (size) std::memcpy(into, bytes_.data() + offset, size);
        return true;
    }

private:
    std::string bytes_;
};

}  // namespace

bool HasExtension(const std::string& path, const char* extension) {
    const std::size_t length = std::strlen(extension);
    if (path.size() < length) return false;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = path[path.size() - length + i];
        if ((c >= 'A' && c <= 'Z' ? c + 32 : c) != extension[i]) return false;
    }
    return true;
}

std::unique_ptr<ByteSource> BytesInMemory(std::string bytes) {
    return std::make_unique<MemoryBytes>(std::move(bytes));
}

// The first `limit` bytes, and whether there are more: read in one piece,
// no larger than the file.
FileBytes ReadFileBytes(const std::string& path, std::size_t limit) {
    OpenedFile opened = OpenFile(path);
    FileBytes file;
    file.fullPath = opened.fullPath;
    file.missing = opened.missing;
    file.why = opened.why;
    if (!opened.bytes) return file;
    const std::uint64_t size = opened.bytes->Size();
    file.more = size > limit;
    file.bytes.resize(static_cast<std::size_t>(file.more ? limit : size));
    // A file cut shorter while it is read is read as far as whole pieces go.
    constexpr std::size_t kPiece = 64 * 1024;
    std::size_t got = 0;
    while (got < file.bytes.size()) {
        const std::size_t piece = std::min(kPiece, file.bytes.size() - got);
        if (!opened.bytes->ReadAt(got, &file.bytes[got], piece)) break;
        got += piece;
    }
    file.bytes.resize(got);
    file.read = true;
    return file;
}

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

namespace {

std::size_t ReadSomeAt(FileHandle file, std::uint64_t offset, char* into, std::size_t size) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const auto ask = static_cast<DWORD>(size < 0x10000000 ? size : 0x10000000);
    return ReadFile(file, into, ask, &got, &at) ? got : 0;
}

void CloseFile(FileHandle file) {
    CloseHandle(file);
}

}  // namespace

OpenedFile OpenFile(const std::string& path) {
    // Paths are UTF-8 here; Windows takes any script through its wide API.
    const std::wstring wide = Wide(path);
    std::wstring full(32768, L'\0');
    const DWORD fullLength = GetFullPathNameW(wide.c_str(), 32768, &full[0], nullptr);
    const std::string fullPath = fullLength && fullLength < 32768 ? Utf8(full.c_str()) : path;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return NotOpened(fullPath, "it is a folder, not a file");
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const settings::OpenFailure failure = settings::OpenFailureOf(error);
        OpenedFile file = NotOpened(fullPath, settings::OpenFailureMeaning(failure));
        file.missing = failure == settings::OpenFailure::NoSuchFile;
        if (failure == settings::OpenFailure::Other) file.why += " (Windows error " + std::to_string(error) + ")";
        return file;
    }
    LARGE_INTEGER size;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size)) {
        CloseHandle(handle);
        return NotOpened(fullPath, kNotOnDisk);
    }
    OpenedFile file;
    file.fullPath = fullPath;
    file.bytes = std::make_unique<FileOnDisk>(handle, static_cast<std::uint64_t>(size.QuadPart));
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

namespace {

std::size_t ReadSomeAt(FileHandle file, std::uint64_t offset, char* into, std::size_t size) {
    for (;;) {
        const ssize_t got = pread(file, into, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        return got > 0 ? static_cast<std::size_t>(got) : 0;
    }
}

void CloseFile(FileHandle file) {
    close(file);
}

}  // namespace

OpenedFile OpenFile(const std::string& path) {
    const std::string fullPath = FullPathOf(path);
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT) return NotOpened(fullPath, std::string("it cannot be looked at: ") + std::strerror(errno));
        OpenedFile file = NotOpened(fullPath, settings::OpenFailureMeaning(settings::OpenFailure::NoSuchFile));
        file.missing = true;
        return file;
    }
    if (S_ISDIR(info.st_mode)) return NotOpened(fullPath, "it is a folder, not a file");
    // A pipe would make the open wait for a writer; a device may never end.
    if (!S_ISREG(info.st_mode)) return NotOpened(fullPath, kNotOnDisk);
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return NotOpened(fullPath, std::string("it cannot be opened: ") + std::strerror(errno));
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(descriptor);
        return NotOpened(fullPath, kNotOnDisk);
    }
    OpenedFile file;
    file.fullPath = fullPath;
    file.bytes = std::make_unique<FileOnDisk>(descriptor, static_cast<std::uint64_t>(info.st_size));
    return file;
}

std::string FolderOf(const std::string& fullPath) {
    const std::size_t slash = fullPath.rfind('/');
    return slash == std::string::npos ? std::string("./") : fullPath.substr(0, slash + 1);
}
#endif

}  // namespace checker
