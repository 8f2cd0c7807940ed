// Reading a file the checker was given: its full name as the system has it,
// its bytes up to a limit, or why they cannot be read, in a player's words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace checker {

struct FileBytes {
    std::string fullPath;  // as the system names it (the path given, where it cannot say)
    bool read = false;
    bool missing = false;  // no such file (why says so too)
    std::string why;       // when not read: why not, and what to do
    std::string bytes;     // when read: the first `limit` bytes
    bool more = false;     // the file goes on past them
};

// A folder, a device or a pipe is never opened, so nothing waits on it.
FileBytes ReadFileBytes(const std::string& path, std::size_t limit);

// Bytes read where they lie, by offset: a file opened once, or bytes in
// memory. Only what is asked for is read, so memory does not grow with the
// file.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Copies `size` bytes from `offset`; false when the source has not all of them.
    virtual bool ReadAt(std::uint64_t offset, void* into, std::size_t size) const = 0;
};
std::unique_ptr<ByteSource> BytesInMemory(std::string bytes);

// A file opened for reading by offset, or why it cannot be (as ReadFileBytes
// tells it).
struct OpenedFile {
    std::string fullPath;
    bool missing = false;
    std::string why;                    // when not opened
    std::unique_ptr<ByteSource> bytes;  // null when not opened
};
OpenedFile OpenFile(const std::string& path);

// The folder that holds `fullPath`, with its separator at the end.
std::string FolderOf(const std::string& fullPath);

// Whether `path` ends in `extension` (".exe"), in any case.
bool HasExtension(const std::string& path, const char* extension);

// Whether anything (a file, a folder, a device) is at `path`, and whether
// it is a file.
bool PathExists(const std::string& path);
bool FileExists(const std::string& path);
// Whether `path` is a file written after `than` was (as the plugin tells a
// Notepad copy that is newer than the file it reads).
bool NewerFileExists(const std::string& path, const std::string& than);

#ifdef _WIN32
// UTF-8 as UTF-16, for the wide API (paths in any script), and back.
std::wstring Wide(const std::string& text);
std::string Utf8(const wchar_t* text);
#endif

}  // namespace checker
