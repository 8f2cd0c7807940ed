// 32-bit Windows programs built byte by byte, each laid out in a way the
// system's loader has rules for: section data at offsets off the 512-byte
// grid, raw sizes that end mid-sector, sections that overlap, alignments
// coarser or finer than a page, headers the loader refuses, a branch through
// an import slot. Shared by the checker's native tests, which hold what the
// loader's rules give for each, and the Wine suite, which maps each file
// with the loader itself (SEC_IMAGE) and compares it with the checker's
// reading byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace game_layouts {

struct Section {
    char name[9] = ".text";
    std::uint32_t address = 0x1000;  // relative to the base
    std::uint32_t virtualSize = 0;
    std::uint32_t rawOffset = 0x400;
    std::uint32_t rawSize = 0;
    std::uint32_t flags = 0x60000020;  // code, execute, read
};

struct Program {
    std::uint32_t base = 0x400000;
    std::uint16_t optionalSize = 0xE0;
    std::uint16_t characteristics = 0x0102;  // an executable, 32-bit
    std::uint16_t dllCharacteristics = 0;
    std::uint32_t sectionAlignment = 0x1000;
    std::uint32_t fileAlignment = 0x200;
    std::uint32_t sizeOfImage = 0;  // 0: the end of the last section, rounded to the section alignment
    std::uint32_t sizeOfHeaders = 0x400;
    std::uint32_t importRva = 0, importSize = 0;
    std::uint32_t relocationRva = 0, relocationSize = 0;
    std::vector<Section> sections;
    std::uint32_t fileSize = 0;  // 0: the end of the last section's raw data
    // Bytes put at file offsets, over the pattern that fills the file.
    std::vector<std::pair<std::uint32_t, std::string>> patches;

    // Puts `bytes` where section `index` holds image offset `rva`, by the
    // offsets as the section table gives them (not as the loader rounds them).
    Program& At(std::size_t index, std::uint32_t rva, const std::string& bytes);
    // The file.
    std::string Bytes() const;
};

// A 5-byte E8 (or E9) call from `site` to `destination`.
std::string Call(std::uint32_t site, std::uint32_t destination, unsigned op = 0xE8);

struct Layout {
    const char* name;
    Program program;
    // What the loader's rules give: the reason it refuses the file (part of
    // the checker's words), or "" and the 5 bytes at the aim call site, as
    // hex ("" where the image has none).
    const char* refused;
    const char* aimBytes;
    // Where Wine's loader maps a file that Windows' rules refuse, why the
    // checker follows Windows (null: Wine and Windows agree).
    const char* wineMapsIt = nullptr;
};

// Every layout, ordinary ones first.
std::vector<Layout> Layouts();

}  // namespace game_layouts
