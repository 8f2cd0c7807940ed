#include "tools/settings_checker/GameFile.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "tools/settings_checker/FileBytes.h"
#include "tools/settings_checker/SettingsCheck.h"

namespace checker {
namespace {

// Larger than any executable of the game: read no further.
constexpr std::size_t kLargestProgram = std::size_t{512} << 20;

std::uint32_t U16(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8;
}
std::uint32_t U32(const unsigned char* bytes) {
    return U16(bytes) | U16(bytes + 2) << 16;
}

constexpr std::uint64_t kPage = 0x1000;
constexpr std::uint64_t kSector = 0x200;  // the loader's unit of file data, whatever FileAlignment says
constexpr std::uint32_t kMostSections = 96;

std::uint64_t RoundUp(std::uint64_t value, std::uint64_t unit) {
    return (value + unit - 1) / unit * unit;
}

std::string NotStarted(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string NotStarted(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return std::string("Windows would not start this program: ") + text;
}

// A section's name as the table holds it (8 bytes, NUL-padded), printable.
std::string SectionName(const unsigned char* entry) {
    std::string name;
    for (int i = 0; i < 8 && entry[i]; ++i)
        name += entry[i] >= 0x20 && entry[i] < 0x7F ? static_cast<char>(entry[i]) : '?';
    return name;
}

// `count` bytes at `address` as "E8 66 9A FF FF", or "" where the image has none.
std::string HexAt(const host::GameImage& image, std::uint32_t address, std::uint32_t count) {
    unsigned char bytes[8];
    if (count > sizeof bytes || !image.Read(address, bytes, count)) return "";
    std::string text;
    for (std::uint32_t i = 0; i < count; ++i) {
        char b[4];
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
        text += b;
    }
    return text;
}

// The first line of the log at `path` and its last verdict line, if any.
void ReadLastStart(const std::string& path, GameReport& report) {
    const FileBytes log = ReadFileBytes(path, std::size_t{1} << 20);
    if (!log.read) return;
    const std::string& text = log.bytes;
    const auto line = [&text](std::size_t at) {
        const std::size_t end = text.find('\n', at);
        std::string found = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (!found.empty() && found.back() == '\r') found.pop_back();
        return found;
    };
    static const char kFirstWord[] = "AimingPlugin ";
    if (text.compare(0, sizeof kFirstWord - 1, kFirstWord) != 0) return;  // not the plugin's log
    report.logStarted = line(0);
    for (std::size_t at = text.find("\nverdict: "); at != std::string::npos; at = text.find("\nverdict: ", at + 1))
        report.logVerdict = line(at + 1);
}

const char kCutShort[] = "it is cut short: the file ends before its headers do (a broken download or copy?)";

}  // namespace

std::string ExecutableImage::Parse(std::unique_ptr<ByteSource> bytes) {
    bytes_ = std::move(bytes);
    pieces_.clear();
    const std::uint64_t fileSize = bytes_->Size();
    unsigned char dos[0x40];
    if (fileSize < 2 || !bytes_->ReadAt(0, dos, 2) || dos[0] != 'M' || dos[1] != 'Z')
        return "it is not a Windows program (it does not start as one)";
    if (fileSize < sizeof dos || !bytes_->ReadAt(0, dos, sizeof dos)) return kCutShort;
    // The signature, the file header, and the optional header with its
    // data directories: read as far as the file holds them, whatever
    // SizeOfOptionalHeader says (a short one ends inside the fields, and the
    // section table begins there).
    const std::uint64_t nt = U32(dos + 0x3C);
    unsigned char head[24 + 96 + 16 * 8] = {};
    if (nt > fileSize || fileSize - nt < 24 || !bytes_->ReadAt(nt, head, 24)) return kCutShort;
    if (std::memcmp(head, "PE\0\0", 4) != 0) return "it is an old DOS program, not a Windows one";
    const std::uint32_t machine = U16(head + 4);
    const std::uint32_t sectionCount = U16(head + 6);
    const std::uint32_t optionalSize = U16(head + 20);
    const std::uint32_t characteristics = U16(head + 22);
    if (machine == 0x8664 || machine == 0xAA64)
        return "it is a 64-bit program: the game is a 32-bit one, and the plugin works only in that";
    if (machine != 0x14C) {
        char text[128];
        std::snprintf(text, sizeof text, "it is a program for another kind of processor (machine 0x%04X), not the game",
                      machine);
        return text;
    }
    const std::uint64_t optionalAt = nt + 24;
    const std::uint64_t held = std::min<std::uint64_t>(fileSize - optionalAt, sizeof head - 24);
    if (held < 96 || !bytes_->ReadAt(optionalAt, head + 24, static_cast<std::size_t>(held))) return kCutShort;
    const unsigned char* optional = head + 24;
    if (U16(optional) != 0x10B)
        return "it is a 64-bit program: the game is a 32-bit one, and the plugin works only in that";
    if (characteristics & 0x2000) return "it is a DLL, not a program: name the game's .exe";
    base_ = U32(optional + 28);
    const std::uint32_t sectionAlignment = U32(optional + 32);
    const std::uint32_t fileAlignment = U32(optional + 36);
    const std::uint32_t imageSize = U32(optional + 56);
    const std::uint32_t headersSize = U32(optional + 60);
    const std::uint32_t dllCharacteristics = U16(optional + 70);
    const std::uint32_t directories = U32(optional + 92);
    // A data directory counts where the optional header holds it.
    const auto directory = [&](std::uint32_t index, std::uint32_t& rva, std::uint32_t& size) {
        const std::uint32_t end = 96 + 8 * (index + 1);
        const bool there = index < directories && end <= optionalSize && end <= held;
        rva = there ? U32(optional + end - 8) : 0;
        size = there ? U32(optional + end - 4) : 0;
    };
    directory(1, importRva_, importSize_);
    std::uint32_t relocationsRva = 0, relocationsSize = 0;
    directory(5, relocationsRva, relocationsSize);
    mayMove_ = (dllCharacteristics & 0x40) && !(characteristics & 0x1) && relocationsRva && relocationsSize;

    // What the loader refuses.
    if (sectionCount > kMostSections)
        return NotStarted("it has %u sections, and Windows takes at most %u", sectionCount, kMostSections);
    const std::uint64_t tableAt = optionalAt + optionalSize;
    unsigned char table[kMostSections * 40];
    if (tableAt > fileSize || fileSize - tableAt < 40ull * sectionCount ||
        !bytes_->ReadAt(tableAt, table, 40 * sectionCount))
        return kCutShort;
    if (headersSize > imageSize)
        return NotStarted("its headers (SizeOfHeaders 0x%X) are larger than the whole program (SizeOfImage 0x%X)",
                          headersSize, imageSize);
    const std::uint64_t imageEnd = RoundUp(imageSize, kPage);
    if (imageEnd > 0xFFFFFFFFull - base_)
        return NotStarted("its image (SizeOfImage 0x%X) would not fit in memory", imageSize);
    size_ = static_cast<std::uint32_t>(imageEnd);
    // Sections aligned to less than a page are mapped as the file lays them
    // out: only a file laid out as the image is taken.
    const bool fileLayout = sectionAlignment < kPage;
    if (fileLayout && fileAlignment != sectionAlignment)
        return NotStarted(
            "its sections are aligned to less than a page (0x%X), which Windows takes only when the file is aligned "
            "alike (here 0x%X)",
            sectionAlignment, fileAlignment);
    const std::uint64_t fileEnd = RoundUp(fileSize, kSector);
    // The headers: their pages, from the start of the file (with a layout
    // of the file's own, the whole image is).
    Piece headers{0, static_cast<std::uint32_t>(fileLayout ? imageEnd : RoundUp(headersSize, kPage)), 0, 0, false};
    headers.fileSize =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(headers.size, fileLayout ? fileSize : headersSize));
    pieces_.push_back(headers);
    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        const unsigned char* entry = table + 40 * i;
        const std::uint32_t virtualSize = U32(entry + 8), address = U32(entry + 12);
        const std::uint32_t rawSize = U32(entry + 16), rawOffset = U32(entry + 20);
        const std::string name = SectionName(entry);
        if (fileLayout && address != rawOffset)
            return NotStarted(
                "its sections are aligned to less than a page, which Windows takes only when the file is laid out as "
                "the image, and section %u (%s) is not (address 0x%X, file offset 0x%X)",
                i + 1, name.c_str(), address, rawOffset);
        if (!fileLayout && address % kPage)
            return NotStarted("section %u (%s) does not start on a page boundary (address 0x%X)", i + 1, name.c_str(),
                              address);
        const std::uint64_t inMemory = RoundUp(virtualSize ? virtualSize : rawSize, kPage);
        if (address + inMemory > imageEnd)
            return NotStarted(
                "a section reaches past the end of the program's image: section %u (%s), 0x%llX bytes "
                "from 0x%X, past SizeOfImage 0x%X",
                i + 1, name.c_str(), static_cast<unsigned long long>(inMemory), address, imageSize);
        Piece piece{address, static_cast<std::uint32_t>(inMemory),
                    fileLayout ? rawOffset : rawOffset / kSector * kSector, 0,
                    (U32(entry + 36) & 0x20000020u) != 0};  // MEM_EXECUTE or CNT_CODE
        // From the offset rounded down to the end rounded up, both to 512.
        const std::uint64_t rawEnd = RoundUp(std::uint64_t{rawOffset} + rawSize, fileLayout ? 1 : kSector);
        piece.fileSize =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(rawSize ? rawEnd - piece.fileOffset : 0, inMemory));
        if (piece.fileSize && piece.fileOffset + piece.fileSize > fileEnd)
            return NotStarted(
                "section %u (%s) holds data past the end of the file: it is cut short (a broken download or copy?)",
                i + 1, name.c_str());
        if (piece.size) pieces_.push_back(piece);
    }
    return "";
}

bool ExecutableImage::Read(std::uint32_t address, void* into, std::uint32_t size) const {
    const std::uint32_t rva = address - base_;
    if (rva > size_ || size_ - rva < size) return false;
    auto* out = static_cast<unsigned char*>(into);
    std::memset(out, 0, size);
    const std::uint64_t begin = rva, end = std::uint64_t{rva} + size;
    const std::uint64_t fileSize = bytes_->Size();
    // In the table's order: a later section's pages over an earlier one's.
    for (const Piece& piece : pieces_) {
        const std::uint64_t from = std::max<std::uint64_t>(begin, piece.address);
        const std::uint64_t to = std::min<std::uint64_t>(end, std::uint64_t{piece.address} + piece.size);
        if (from >= to) continue;
        std::memset(out + (from - begin), 0, static_cast<std::size_t>(to - from));
        const std::uint64_t dataTo = std::min<std::uint64_t>(to, std::uint64_t{piece.address} + piece.fileSize);
        if (from >= dataTo) continue;
        // What lies past the file's end (in its last 512-byte unit) reads as zeros.
        const std::uint64_t offset = piece.fileOffset + (from - piece.address);
        const std::uint64_t held = offset < fileSize ? std::min(dataTo - from, fileSize - offset) : 0;
        if (held && !bytes_->ReadAt(offset, out + (from - begin), static_cast<std::size_t>(held))) return false;
    }
    return true;
}

bool ExecutableImage::Executable(std::uint32_t address) const {
    const std::uint32_t rva = address - base_;
    if (rva >= size_) return false;
    bool executable = false;
    for (const Piece& piece : pieces_)
        if (rva - piece.address < piece.size) executable = piece.executable;
    return executable;
}

namespace {

// A NUL-terminated name of at most 63 characters at `address` ("" where none).
std::string NameAt(const host::GameImage& image, std::uint32_t address) {
    std::string name;
    for (char c = 0; name.size() < 63 && image.Read(address + static_cast<std::uint32_t>(name.size()), &c, 1) && c;)
        name += c >= 0x20 && c < 0x7F ? c : '?';
    return name;
}

}  // namespace

std::string ExecutableImage::ImportAt(std::uint32_t slot) const {
    const std::uint32_t slotRva = slot - base_;
    if (!importRva_ || slotRva >= size_) return "";
    // The import descriptors, up to the empty one that ends them.
    for (std::uint32_t d = 0; d < 1024; ++d) {
        unsigned char descriptor[20];
        if (!Read(base_ + importRva_ + 20 * d, descriptor, sizeof descriptor)) return "";
        const std::uint32_t names = U32(descriptor), dll = U32(descriptor + 12), slots = U32(descriptor + 16);
        if (!names && !dll && !slots) return "";
        if (slotRva < slots || (slotRva - slots) % 4 || (slotRva - slots) / 4 >= 16384) continue;
        // The slot is this DLL's when the table reaches it: no empty slot before it.
        const std::uint32_t index = (slotRva - slots) / 4;
        std::vector<unsigned char> table(4 * (index + 1));
        if (!Read(base_ + (names ? names : slots), table.data(), static_cast<std::uint32_t>(table.size()))) continue;
        bool reached = true;
        for (std::uint32_t k = 0; k <= index && reached; ++k) reached = U32(&table[4 * k]) != 0;
        if (!reached) continue;
        const std::uint32_t entry = U32(&table[4 * index]);
        std::string function =
            entry & 0x80000000u ? "#" + std::to_string(entry & 0xFFFF) : NameAt(*this, base_ + entry + 2);
        std::string library = NameAt(*this, base_ + dll);
        return (library.empty() ? std::string("a DLL") : library) + "!" + (function.empty() ? "?" : function);
    }
    return "";
}

bool LooksLikeProgram(const std::string& path) {
    if (HasExtension(path, ".exe")) return true;
    const FileBytes start = ReadFileBytes(path, 2);
    return start.read && start.bytes == "MZ";
}

GameReport CheckGameFile(const std::string& path) {
    GameReport report;
    report.path = path;
    OpenedFile file = OpenFile(path);
    report.fullPath = file.fullPath;
    report.folder = FolderOf(file.fullPath);
    if (!file.bytes) {
        // The file's own advice speaks of settings files; a game is named.
        report.problem =
            file.missing ? "no such file: name the game's executable (the .exe in the game's folder)" : file.why;
        return report;
    }
    report.readable = true;
    if (file.bytes->Size() > kLargestProgram) {
        report.problem = "it is larger than any executable of the game (over 512 MB): not the game";
        return report;
    }
    ExecutableImage image;
    report.problem = image.Parse(std::move(file.bytes));
    if (!report.problem.empty()) return report;
    report.program = true;
    report.imageBase = image.Base();
    report.mayMove = image.MayMove();
    report.game = host::CheckGame(image);
    if (report.game.probe >= 0)
        report.probeBytes = HexAt(image, image.Rebase(host::kBuildProbes[report.game.probe].address), 4);
    report.aimBytes = HexAt(image, image.Rebase(host::kAimPointCallSite), 5);
    report.frameBytes = HexAt(image, image.Rebase(host::kFrameCallSite), 5);
    if (report.game.aim.slot) report.aimImport = image.ImportAt(report.game.aim.slot);
    report.dllBeside = FileExists(report.folder + "AimingPlugin.dll");
    report.settingsBeside = FileExists(report.folder + "aimingSets.dat");
    ReadLastStart(report.folder + "AimingPlugin.log", report);
    return report;
}

GameVerdict VerdictOf(const GameReport& report) {
    if (!report.program) return GameVerdict::NotAGame;
    if (report.game.Undecided() || (report.game.Active() && report.mayMove)) return GameVerdict::CannotTell;
    return report.game.Active() ? GameVerdict::Works : GameVerdict::ChangesNothing;
}

std::string WhyCannotTell(const GameReport& report) {
    if (VerdictOf(report) != GameVerdict::CannotTell) return "";
    if (report.game.Undecided()) {
        if (!report.aimImport.empty())
            return "the aim call leads into a system DLL (" + report.aimImport +
                   "), which the file cannot show; the plugin decides when the game runs";
        return std::string("the aim call ") + report.game.aim.what;
    }
    return "the program asks to be movable, and the system may load it elsewhere than " +
           Hex(host::kPreferredImageBase, 8) +
           " as it starts: the plugin works where it is loaded there, and changes nothing elsewhere";
}

int GameExitStatus(const GameReport& report) {
    return static_cast<int>(VerdictOf(report));
}

namespace {

const char* HoldsName(host::AimSiteHolds holds) {
    switch (holds) {
        case host::AimSiteHolds::Nothing:
            return "nothing";
        case host::AimSiteHolds::NotACall:
            return "not_a_call";
        case host::AimSiteHolds::GameCall:
            return "game_call";
        case host::AimSiteHolds::EarlierGate:
            return "plugin_gate";
        case host::AimSiteHolds::ModCall:
            return "mod_call";
        case host::AimSiteHolds::ModJump:
            return "mod_jump";
        case host::AimSiteHolds::OtherGameFunction:
            return "other_game_function";
        case host::AimSiteHolds::BranchIntoImage:
            return "branch_into_game";
        case host::AimSiteHolds::NoCodeThere:
            return "no_code_there";
        case host::AimSiteHolds::ThroughImportSlot:
            return "through_import_slot";
        case host::AimSiteHolds::OutOfImage:
            return "out_of_image";
    }
    return "";
}

const char* HoldsName(host::FrameSiteHolds holds) {
    switch (holds) {
        case host::FrameSiteHolds::NoFrameCall:
            return "no_frame_call";
        case host::FrameSiteHolds::NotACall:
            return "not_a_call";
        case host::FrameSiteHolds::GameCall:
            return "game_call";
        case host::FrameSiteHolds::ModCall:
            return "mod_call";
    }
    return "";
}

// What the frame call holds, in a player's words.
std::string FrameWords(const GameReport& r) {
    const std::string bytes = r.frameBytes.empty() ? "" : " (" + r.frameBytes + ")";
    switch (r.game.frame.holds) {
        case host::FrameSiteHolds::NoFrameCall:
            return "not looked at: " + std::string(host::WhyNoFrameHook(r.game.frame.holds));
        case host::FrameSiteHolds::NotACall:
            return "not a 5-byte call" + bytes;
        case host::FrameSiteHolds::GameCall:
            return "calls the game's frame function" + bytes;
        case host::FrameSiteHolds::ModCall:
            return "calls out of the game's image, another mod's hook" + bytes;
    }
    return "";
}

std::string OnOff(bool on, const std::string& whyNot) {
    return on ? "on" : "off (" + whyNot + ")";
}

}  // namespace

namespace {

// What the log beside the game says of the plugin's last start there.
std::string LastStart(const GameReport& r) {
    if (r.logStarted.empty()) return "";
    return "its log beside the game, from the last start (" + r.logStarted + "):\n  " +
           (r.logVerdict.empty() ? std::string("no verdict: that start did not get to its end") : r.logVerdict) + "\n";
}

}  // namespace

std::string FormatGameText(const GameReport& r) {
    if (!r.readable || !r.program)
        return r.path + ": " + (r.readable ? "not the game: " : "cannot be read: ") + r.problem + "\n  (looked at " +
               r.fullPath + ")\n";
    const host::GameCheck& g = r.game;
    std::string out = "checked game " + r.fullPath + "\n";
    out += "  a 32-bit Windows program, loaded at " + Hex(r.imageBase, 8);
    out += g.atPreferredBase ? " as the game's code expects"
                             : ", not at " + Hex(host::kPreferredImageBase, 8) + " where the game's code expects it";
    out += "\n";
    if (!g.atPreferredBase)
        return out + "the plugin in this game: not active (" + g.WhyInactive() +
               ": a changed or repacked executable?); it would change nothing in it\n" + LastStart(r);
    if (g.probe >= 0)
        out += "  build " + std::to_string(g.build) + ", known by its bytes at " +
               Hex(host::kBuildProbes[g.probe].address) + " (" + r.probeBytes + ")\n";
    else
        out += "  build not recognised: none of the " +
               std::to_string(sizeof host::kBuildProbes / sizeof host::kBuildProbes[0]) +
               " known builds' marks is in it\n";
    const std::string aimWhat =
        r.aimImport.empty() ? std::string(g.aim.what)
                            : "leads into a system DLL (" + r.aimImport + "); the plugin decides when the game runs";
    out += "  aim call (at " + Hex(host::kAimPointCallSite) + "): " + aimWhat +
           (r.aimBytes.empty() ? std::string() : " (" + r.aimBytes + ")") + "\n";
    out += "  frame call (at " + Hex(host::kFrameCallSite) + "): " + FrameWords(r) + "\n";
    if (VerdictOf(r) == GameVerdict::CannotTell)
        return out + "the plugin in this game: cannot tell from the file: " + WhyCannotTell(r) + "\n" +
               "with AimingPlugin.dll beside the game, its log says what it did:\n  log: " + r.folder +
               "AimingPlugin.log\n" + LastStart(r);
    if (!g.Active())
        return out + "the plugin in this game: not active (" + g.WhyInactive() +
               "); it would change nothing in it: no settings, no weapon offsets, no toggle\n" + LastStart(r);
    const std::string frameWhy = host::WhyNoFrameHook(g.frame.holds);
    out += "the plugin in this game:\n";
    out += "  settings: on (aimingSets.dat is applied as the game starts)\n";
    out += "  weapon offsets: " + OnOff(g.WeaponOffsets(), g.aim.WhyNoOffsets()) + "\n";
    out += "  aim toggle: " + OnOff(g.ToggleAndReload(), frameWhy) + "\n";
    out += "  live reload: " +
           (g.ToggleAndReload() ? std::string("on, unless line 1 of the settings file is 0")
                                : "off (" + frameWhy + "): the settings file is read once, as the game starts") +
           "\n";
    out += "with AimingPlugin.dll beside the game (" +
           std::string(r.dllBeside ? "it is there now" : "it is not there yet") + "):\n";
    out += "  settings file: " + r.folder + "aimingSets.dat" + (r.settingsBeside ? "" : " (not there yet)") + "\n";
    out += "  log: " + r.folder + "AimingPlugin.log\n";
    return out + LastStart(r);
}

std::string FormatGameJson(const GameReport& r) {
    const host::GameCheck& g = r.game;
    std::string out = "{\n  \"game\": " + JsonString(r.path) + ",\n  \"fullPath\": " + JsonString(r.fullPath) +
                      ",\n  \"readable\": " + (r.readable ? "true" : "false") +
                      ",\n  \"program\": " + (r.program ? "true" : "false") +
                      ",\n  \"status\": " + std::to_string(GameExitStatus(r));
    if (!r.program) return out + ",\n  \"problem\": " + JsonString(r.problem) + "\n}\n";
    out += ",\n  \"imageBase\": " + JsonString(Hex(r.imageBase, 8));
    out += ",\n  \"atExpectedBase\": " + std::string(g.atPreferredBase ? "true" : "false");
    out += ",\n  \"mayMove\": " + std::string(r.mayMove ? "true" : "false");
    out += ",\n  \"build\": " + (g.probe >= 0 ? std::to_string(g.build) : std::string("null"));
    if (g.atPreferredBase) {
        out += ",\n  \"aimCall\": {\"address\": " + JsonString(Hex(host::kAimPointCallSite)) +
               ", \"bytes\": " + JsonString(r.aimBytes) + ", \"holds\": " + JsonString(HoldsName(g.aim.holds)) +
               ", \"what\": " + JsonString(g.aim.what) + "}";
        out += ",\n  \"frameCall\": {\"address\": " + JsonString(Hex(host::kFrameCallSite)) +
               ", \"bytes\": " + JsonString(r.frameBytes) + ", \"holds\": " + JsonString(HoldsName(g.frame.holds)) +
               "}";
    }
    const std::string frameWhy = host::WhyNoFrameHook(g.frame.holds);
    const bool cannotTell = VerdictOf(r) == GameVerdict::CannotTell;
    if (!r.aimImport.empty()) out += ",\n  \"aimCallImport\": " + JsonString(r.aimImport);
    out += ",\n  \"verdict\": " +
           JsonString(cannotTell   ? "cannot_tell"
                      : g.Active() ? "works"
                                   : "changes_nothing") +
           ",\n  \"cannotTell\": " + JsonString(WhyCannotTell(r));
    out += ",\n  \"plugin\": {\"active\": " +
           std::string(cannotTell   ? "null"
                       : g.Active() ? "true"
                                    : "false") +
           ", \"whyNot\": " + JsonString(g.WhyInactive()) + ", \"settings\": " + (g.Active() ? "true" : "false") +
           ", \"weaponOffsets\": " + (g.WeaponOffsets() ? "true" : "false") +
           ", \"toggle\": " + (g.ToggleAndReload() ? "true" : "false") +
           ", \"liveReload\": " + (g.ToggleAndReload() ? "true" : "false") +
           ", \"whyNoToggle\": " + JsonString(g.Active() ? frameWhy : "") + "}";
    out += ",\n  \"settingsFile\": " + JsonString(r.folder + "aimingSets.dat") +
           ",\n  \"settingsFileThere\": " + (r.settingsBeside ? "true" : "false") +
           ",\n  \"log\": " + JsonString(r.folder + "AimingPlugin.log") +
           ",\n  \"pluginThere\": " + (r.dllBeside ? "true" : "false") + ",\n  \"lastStart\": " +
           (r.logStarted.empty()
                ? std::string("null")
                : "{\"log\": " + JsonString(r.logStarted) + ", \"verdict\": " + JsonString(r.logVerdict) + "}") +
           "\n}\n";
    return out;
}

}  // namespace checker
