#include "GameLayouts.h"

#include <algorithm>
#include <cstring>

namespace game_layouts {
namespace {

void Put16(std::string& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>(v >> 8 & 0xFF);
}
void Put32(std::string& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}
std::string Word(std::uint32_t v) {
    std::string b(4, '\0');
    Put32(b, 0, v);
    return b;
}

// What fills the file where nothing else is: no two nearby offsets alike,
// so that data read from the wrong offset shows.
char Pattern(std::uint32_t offset) {
    return static_cast<char>((offset * 167u + (offset >> 9) * 31u + 0x5Au) & 0xFF);
}

constexpr std::uint32_t kAimSite = 0x127A95;    // the aim call, as an offset in the image
constexpr std::uint32_t kFrameSite = 0x13E981;  // the frame call
constexpr std::uint32_t kAimFunction = 0x121500;
constexpr std::uint32_t kFrameFunction = 0x13F0A0;
const std::string kGameCall = "\xE8\x66\x9A\xFF\xFF";  // the aim call's own bytes
const std::string kNops = "\x90\x90\x90\x90\x90";

// One code section from 0x1000 through the last build probe, its file data
// reaching past the frame call: the game as build 1001 has it.
Program Game() {
    Program p;
    Section text;
    text.virtualSize = 0x460000;
    text.rawSize = 0x140000;
    p.sections.push_back(text);
    p.At(0, 0x1000, "\x55\x8B\xEC\x53");
    p.At(0, kAimSite, Call(0x400000 + kAimSite, 0x400000 + kAimFunction));
    p.At(0, kFrameSite, Call(0x400000 + kFrameSite, 0x400000 + kFrameFunction));
    return p;
}

// The game's code split in two at the aim call's page: .text, then .data
// from 0x127000 holding the aim call.
Program Split() {
    Program p = Game();
    p.sections[0].virtualSize = 0x126000;
    p.sections[0].rawSize = 0x126000;
    Section data;
    std::strcpy(data.name, ".data");
    data.address = 0x127000;
    data.virtualSize = 0x339000;
    data.rawOffset = 0x126400;
    data.rawSize = 0x1A000;
    p.sections.push_back(data);
    p.patches.clear();
    p.At(0, 0x1000, "\x55\x8B\xEC\x53");
    p.At(1, kAimSite, Call(0x400000 + kAimSite, 0x400000 + kAimFunction));
    return p;
}

// Import data for KERNEL32.dll!GetTickCount at image offset 0x130000: its
// import address table's one slot at 0x130300.
Program WithImport(Program p) {
    const std::uint32_t at = 0x130000;
    std::string descriptors(40, '\0');
    Put32(descriptors, 0, at + 0x100);   // the names' table
    Put32(descriptors, 12, at + 0x200);  // the DLL's name
    Put32(descriptors, 16, at + 0x300);  // the import address table
    p.At(0, at, descriptors);
    p.At(0, at + 0x100, Word(at + 0x400) + Word(0));
    p.At(0, at + 0x200, std::string("KERNEL32.dll", 13));
    p.At(0, at + 0x300, Word(at + 0x400) + Word(0));
    p.At(0, at + 0x400, std::string("\0\0GetTickCount", 15));
    p.importRva = at;
    p.importSize = 40;
    return p;
}

}  // namespace

std::string Call(std::uint32_t site, std::uint32_t destination, unsigned op) {
    return std::string(1, static_cast<char>(op)) + Word(destination - site - 5);
}

Program& Program::At(std::size_t index, std::uint32_t rva, const std::string& bytes) {
    const Section& s = sections[index];
    patches.emplace_back(s.rawOffset + (rva - s.address), bytes);
    return *this;
}

std::string Program::Bytes() const {
    std::uint32_t size = fileSize;
    std::uint32_t imageEnd = 0;
    for (const Section& s : sections) {
        if (fileSize == 0) size = std::max(size, s.rawOffset + s.rawSize);
        const std::uint32_t inMemory = s.virtualSize ? s.virtualSize : s.rawSize;
        imageEnd =
            std::max(imageEnd, s.address + (inMemory + sectionAlignment - 1) / sectionAlignment * sectionAlignment);
    }
    const std::uint32_t optional = 0x98;
    const std::size_t table = optional + optionalSize;
    size = std::max<std::uint32_t>(size, static_cast<std::uint32_t>(table + 40 * sections.size()));
    std::string b(size, '\0');
    for (std::uint32_t i = 0; i < size; ++i) b[i] = Pattern(i);
    std::fill(b.begin(),
              b.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(size, table + 40 * sections.size())), '\0');
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, 0x80);
    std::memcpy(&b[0x80], "PE\0\0", 4);
    Put16(b, 0x84, 0x14C);
    Put16(b, 0x86, static_cast<std::uint32_t>(sections.size()));
    Put16(b, 0x94, optionalSize);
    Put16(b, 0x96, characteristics);
    Put16(b, optional, 0x10B);
    Put32(b, optional + 16, 0x1000);  // the entry point
    Put32(b, optional + 28, base);
    Put32(b, optional + 32, sectionAlignment);
    Put32(b, optional + 36, fileAlignment);
    Put16(b, optional + 40, 4);  // the oldest Windows it runs on: 4.0
    Put16(b, optional + 48, 4);
    Put32(b, optional + 56, sizeOfImage ? sizeOfImage : imageEnd);
    Put32(b, optional + 60, sizeOfHeaders);
    Put16(b, optional + 68, 2);  // a windowed program
    Put16(b, optional + 70, dllCharacteristics);
    Put32(b, optional + 72, 0x100000);  // stack and heap
    Put32(b, optional + 76, 0x1000);
    Put32(b, optional + 80, 0x100000);
    Put32(b, optional + 84, 0x1000);
    // The data directories, as far as the optional header holds them (with
    // a short optional header, none: the section table starts there).
    if (optionalSize >= 96 + 16 * 8) {
        Put32(b, optional + 92, 16);
        Put32(b, optional + 96 + 8, importRva);
        Put32(b, optional + 96 + 8 + 4, importSize);
        Put32(b, optional + 96 + 5 * 8, relocationRva);
        Put32(b, optional + 96 + 5 * 8 + 4, relocationSize);
    }
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const Section& s = sections[i];
        const std::size_t at = table + 40 * i;
        std::memcpy(&b[at], s.name, std::min<std::size_t>(8, std::strlen(s.name)));
        Put32(b, at + 8, s.virtualSize);
        Put32(b, at + 12, s.address);
        Put32(b, at + 16, s.rawSize);
        Put32(b, at + 20, s.rawOffset);
        Put32(b, at + 36, s.flags);
    }
    for (const auto& [offset, bytes] : patches)
        for (std::size_t k = 0; k < bytes.size(); ++k)
            if (offset + k < b.size()) b[offset + k] = bytes[k];
    return b;
}

std::vector<Layout> Layouts() {
    std::vector<Layout> layouts;
    const auto add = [&layouts](const char* name, const Program& p, const char* refused, const char* aim) {
        layouts.push_back({name, p, refused, aim});
    };
    add("ordinary", Game(), "", "E8 66 9A FF FF");
    add("two sections", Split(), "", "E8 66 9A FF FF");
    {
        // The loader reads section data from the offset rounded down to 512,
        // whatever the file alignment says: here 16 bytes earlier than given.
        Program p = Game();
        p.patches.clear();
        p.sections[0].rawOffset = 0x410;
        p.At(0, kAimSite, Call(0x400000 + kAimSite, 0x400000 + kAimFunction));
        p.patches.emplace_back(0x400 + (kAimSite - 0x1000), kNops);
        add("section data off the 512-byte grid", p, "", "90 90 90 90 90");
        p.patches.clear();
        p.At(0, kAimSite, kNops);
        p.patches.emplace_back(0x400 + (kAimSite - 0x1000), Call(0x400000 + kAimSite, 0x400000 + kAimFunction));
        add("section data off the grid, the call where the loader reads", p, "", "E8 66 9A FF FF");
        p.fileAlignment = 0x10;
        add("section data off the grid, file alignment 16", p, "", "E8 66 9A FF FF");
    }
    {
        // The raw size ends where the call begins: the loader maps on to the
        // next 512-byte boundary.
        Program p = Game();
        p.sections[0].rawSize = kAimSite - 0x1000;
        p.fileSize = 0x140400;
        add("raw size ending mid-sector, the call just past it", p, "", "E8 66 9A FF FF");
    }
    {
        Program p = Game();
        Section patch;
        std::strcpy(patch.name, ".patch");
        patch.address = 0x127000;
        patch.virtualSize = 0x1000;
        patch.rawOffset = 0x140400;
        patch.rawSize = 0x1000;
        p.sections.push_back(patch);
        p.At(1, kAimSite, kNops);
        add("overlapping sections: the last wins", p, "", "90 90 90 90 90");
    }
    {
        // .text's virtual size 4 bytes into .data's first page.
        Program p = Split();
        p.sections[0].virtualSize = 0x126004;
        add("a virtual size a few bytes too long", p, "", "E8 66 9A FF FF");
    }
    {
        Program p = Split();
        p.sectionAlignment = 0x10000;
        p.sizeOfImage = 0x470000;
        add("section alignment coarser than the sections' addresses", p, "", "E8 66 9A FF FF");
    }
    {
        Program p = Game();
        p.sections[0].virtualSize = 0xFFFFF800;
        p.sizeOfImage = 0x461000;
        add("a virtual size of 0xFFFFF800", p, "a section reaches past", "");
        layouts.back().wineMapsIt = "the section's end wraps past 4 GB, and Wine maps the image without it";
    }
    {
        Program p = Game();
        p.sizeOfImage = 0x200000;
        add("a section past the image's size", p, "a section reaches past", "");
    }
    {
        Program p = Split();
        p.sections[1].address = 0x127800;
        p.sections[1].virtualSize = 0x338800;
        add("a section address off the page", p, "does not start on a page", "");
    }
    {
        // Alignment below a page: the file must be laid out as the image.
        Program p = Game();
        p.sectionAlignment = p.fileAlignment = 0x200;
        add("section alignment below a page, the file laid out otherwise", p,
            "only when the file is laid out as the image", "");
        p.sections[0].address = 0x400;
        p.sections[0].virtualSize = 0x140000;
        p.patches.clear();
        p.At(0, kAimSite, Call(0x400000 + kAimSite, 0x400000 + kAimFunction));
        add("section alignment below a page, the file laid out alike", p, "", "E8 66 9A FF FF");
    }
    {
        // 96 sections (the most the loader takes) and 97: the section table
        // needs larger headers, and the code starts after them.
        Program p = Game();
        p.sizeOfHeaders = 0x1200;
        p.sections[0].address = 0x2000;
        p.sections[0].virtualSize = 0x3FF000;
        p.sections[0].rawOffset = 0x1200;
        p.patches.clear();
        p.At(0, kAimSite, Call(0x400000 + kAimSite, 0x400000 + kAimFunction));
        for (std::uint32_t i = 1; i < 96; ++i) {
            Section s;
            std::strcpy(s.name, ".more");
            s.address = 0x401000 + 0x1000 * (i - 1);
            s.virtualSize = 0x1000;
            s.rawOffset = 0;
            s.flags = 0x40000040;  // data, read
            p.sections.push_back(s);
        }
        add("96 sections", p, "", "E8 66 9A FF FF");
        Section last = p.sections.back();
        last.address += 0x1000;
        p.sections.push_back(last);
        add("97 sections", p, "97 sections", "");
    }
    {
        Program p = Game();
        p.sizeOfHeaders = 0xFFFFFFFF;
        add("headers of 0xFFFFFFFF bytes", p, "headers", "");
        layouts.back().wineMapsIt = "Wine maps a page of headers whatever SizeOfHeaders says";
    }
    {
        // The file ends 256 bytes before the last section's raw data does.
        Program p = Game();
        p.fileSize = 0x400 + 0x140000 - 0x100;
        add("raw data ending past the file's end", p, "", "E8 66 9A FF FF");
    }
    {
        Program p = Game();
        p.sections[0].rawOffset = 0x200000;
        p.fileSize = 0x140400;
        add("raw data wholly past the file's end", p, "holds data past the end of the file", "");
        p = Game();
        p.fileSize = 0x140200;
        add("raw data 512 bytes past the file's end", p, "holds data past the end of the file", "");
        p.fileSize = 0x140201;
        add("raw data 511 bytes past the file's end", p, "", "E8 66 9A FF FF");
    }
    {
        // Raw data beyond the virtual size: the loader maps no more than the
        // section's pages.
        Program p = Game();
        p.sections[0].virtualSize = 0x126A00;
        p.sizeOfImage = 0x461000;
        add("raw size beyond the virtual size", p, "", "E8 66 9A FF FF");
    }
    {
        // A short optional header: the section table starts inside it.
        Program p = Game();
        p.optionalSize = 0x5F;
        add("an optional header of 0x5F bytes", p, "", "E8 66 9A FF FF");
    }
    {
        Program p = WithImport(Game());
        p.At(0, kAimSite, "\xFF\x15" + Word(0x530300));
        add("a call through an import slot", p, "", "FF 15 00 03 53");
        p.At(0, kAimSite, "\xFF\x25" + Word(0x530300));
        add("a jump through an import slot", p, "", "FF 25 00 03 53");
    }
    {
        Program p = Game();
        p.At(0, kAimSite, Call(0x400000 + kAimSite, 0x10000000));
        add("a call out of the image", p, "", "E8 66 85 AD 0F");
    }
    {
        // Relocatable: a block of relocations, and the flag that asks for it.
        Program p = Game();
        p.At(0, 0x131000, Word(0x1000) + Word(8));
        p.relocationRva = 0x131000;
        p.relocationSize = 8;
        p.dllCharacteristics = 0x40;
        add("relocatable (dynamic base)", p, "", "E8 66 9A FF FF");
    }
    return layouts;
}

}  // namespace game_layouts
