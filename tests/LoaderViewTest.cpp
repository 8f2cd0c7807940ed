// The checker's reading of a game executable against the system's loader:
// each layout of tests/GameLayouts.h written to a file and mapped as an image
// (SEC_IMAGE), which is what the loader does with a program it starts, then
// compared page by page with the image the checker lays out from the same
// file. What the loader refuses, the checker refuses.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "GameLayouts.h"
#include "host/HostConstants.h"
#include "tools/settings_checker/GameFile.h"

namespace {

// A layout's file, mapped as the loader maps an image.
class MappedImage {
public:
    explicit MappedImage(const std::string& bytes) {
        wchar_t folder[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        path_ = std::wstring(folder) + L"aiming-layout.exe";
        HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
        file_ = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        mapping_ = CreateFileMappingW(file_, nullptr, SEC_IMAGE | PAGE_READONLY, 0, 0, nullptr);
        if (mapping_) view_ = static_cast<const unsigned char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0));
    }
    ~MappedImage() {
        if (view_) UnmapViewOfFile(view_);
        if (mapping_) CloseHandle(mapping_);
        CloseHandle(file_);
        DeleteFileW(path_.c_str());
    }
    MappedImage(const MappedImage&) = delete;
    MappedImage& operator=(const MappedImage&) = delete;

    const unsigned char* View() const { return view_; }
    // The bytes the view spans, and whether the page at `rva` can be read, and run.
    std::uint32_t Size() const {
        std::uint32_t size = 0;
        MEMORY_BASIC_INFORMATION info;
        while (VirtualQuery(view_ + size, &info, sizeof info) && info.AllocationBase == view_)
            size += static_cast<std::uint32_t>(info.RegionSize);
        return size;
    }
    DWORD Protection(std::uint32_t rva) const {
        MEMORY_BASIC_INFORMATION info;
        if (!VirtualQuery(view_ + rva, &info, sizeof info) || info.State != MEM_COMMIT) return PAGE_NOACCESS;
        return info.Protect & 0xFF;
    }

private:
    std::wstring path_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE mapping_ = nullptr;
    const unsigned char* view_ = nullptr;
};

bool Readable(DWORD protection) {
    return protection != PAGE_NOACCESS && protection != 0;
}
bool Runnable(DWORD protection) {
    return (protection & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
}

TEST(LoaderView, TheCheckerReadsEachLayoutAsTheLoaderMapsIt) {
    for (const game_layouts::Layout& layout : game_layouts::Layouts()) {
        SCOPED_TRACE(layout.name);
        const std::string bytes = layout.program.Bytes();
        const MappedImage loader(bytes);
        checker::ExecutableImage image;
        const std::string problem = image.Parse(bytes);
        if (layout.wineMapsIt) {
            // Windows refuses it, and so does the checker; Wine maps it.
            EXPECT_NE(problem.find("Windows would not start this program"), std::string::npos) << problem;
            continue;
        }
        ASSERT_EQ(loader.View() == nullptr, !problem.empty()) << (problem.empty() ? "the loader refuses it" : problem);
        if (!loader.View()) continue;
        ASSERT_EQ(loader.Size(), image.Size());
        // Every page the loader lets be read, byte for byte.
        std::vector<unsigned char> page(0x1000);
        int differing = 0;
        for (std::uint32_t rva = 0; rva < image.Size(); rva += 0x1000) {
            if (!Readable(loader.Protection(rva))) continue;
            ASSERT_TRUE(image.Read(image.Base() + rva, page.data(), 0x1000)) << std::hex << rva;
            if (std::memcmp(page.data(), loader.View() + rva, 0x1000) == 0) continue;
            if (differing++ < 3) {
                std::uint32_t at = 0;
                while (page[at] == loader.View()[rva + at]) ++at;
                ADD_FAILURE() << std::hex << "image offset 0x" << rva + at << ": the loader has 0x"
                              << +loader.View()[rva + at] << ", the checker 0x" << +page[at];
            }
        }
        EXPECT_EQ(differing, 0) << "pages that differ";
        // Whether code may run at the aim call (each layout has a section
        // there; between sections, where Wine lets code run, no game code lies).
        const std::uint32_t aim = host::kAimPointCallSite - host::kPreferredImageBase;
        EXPECT_EQ(image.Executable(image.Base() + aim), Runnable(loader.Protection(aim)));
    }
}

}  // namespace
