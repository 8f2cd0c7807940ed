#include "tools/settings_checker/GameFile.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "tools/settings_checker/FileBytes.h"
#include "tools/settings_checker/SettingsCheck.h"

namespace checker {
namespace {

// Larger than any executable of the game: read no further.
constexpr std::size_t kLargestProgram = std::size_t{512} << 20;

std::uint32_t U16(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
}
std::uint32_t U32(const std::string& bytes, std::size_t at) {
    return U16(bytes, at) | U16(bytes, at + 2) << 16;
}

std::uint32_t RoundUp(std::uint32_t value, std::uint32_t alignment) {
    return alignment ? (value + alignment - 1) / alignment * alignment : value;
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

const char kCutShort[] = "it is cut short: the file ends before the program does (a broken download or copy?)";

}  // namespace

std::string ExecutableImage::Parse(std::string bytes) {
    bytes_ = std::move(bytes);
    const std::string& b = bytes_;
    if (b.size() < 2 || b[0] != 'M' || b[1] != 'Z') return "it is not a Windows program (it does not start as one)";
    if (b.size() < 0x40) return kCutShort;
    const std::uint32_t nt = U32(b, 0x3C);
    if (nt > b.size() || b.size() - nt < 24) return kCutShort;
    if (std::memcmp(&b[nt], "PE\0\0", 4) != 0) return "it is an old DOS program, not a Windows one";
    const std::uint32_t machine = U16(b, nt + 4);
    const std::uint32_t sectionCount = U16(b, nt + 6);
    const std::uint32_t optionalSize = U16(b, nt + 20);
    const std::uint32_t characteristics = U16(b, nt + 22);
    if (machine == 0x8664 || machine == 0xAA64)
        return "it is a 64-bit program: the game is a 32-bit one, and the plugin works only in that";
    if (machine != 0x14C) {
        char text[128];
        std::snprintf(text, sizeof text, "it is a program for another kind of processor (machine 0x%04X), not the game",
                      machine);
        return text;
    }
    const std::uint32_t optional = nt + 24;
    if (b.size() - optional < 96 || optionalSize < 96) return kCutShort;
    if (U16(b, optional) != 0x10B)
        return "it is a 64-bit program: the game is a 32-bit one, and the plugin works only in that";
    if (characteristics & 0x2000) return "it is a DLL, not a program: name the game's .exe";
    base_ = U32(b, optional + 28);
    const std::uint32_t sectionAlignment = U32(b, optional + 32);
    size_ = U32(b, optional + 56);
    headers_ = U32(b, optional + 60);
    const std::uint32_t dllCharacteristics = U16(b, optional + 70);
    const std::uint32_t directories = U32(b, optional + 92);
    const bool relocations = directories > 5 && optionalSize >= 96 + 6 * 8 && b.size() - optional >= 96 + 6 * 8 &&
                             U32(b, optional + 96 + 5 * 8 + 4) != 0;
    mayMove_ = (dllCharacteristics & 0x40) && !(characteristics & 0x1) && relocations;
    const std::uint32_t table = optional + optionalSize;
    if (table > b.size() || (b.size() - table) / 40 < sectionCount) return kCutShort;
    sections_.clear();
    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        const std::uint32_t at = table + 40 * i;
        Section s;
        s.address = U32(b, at + 12);
        s.fileSize = U32(b, at + 16);
        s.fileOffset = U32(b, at + 20);
        const std::uint32_t virtualSize = U32(b, at + 8);
        s.size = RoundUp(virtualSize ? virtualSize : s.fileSize, sectionAlignment);
        s.executable = (U32(b, at + 36) & 0x20000020u) != 0;  // MEM_EXECUTE or CNT_CODE
        if (s.fileSize && (s.fileOffset > b.size() || b.size() - s.fileOffset < s.fileSize)) return kCutShort;
        if (s.fileSize > s.size) s.fileSize = s.size;
        sections_.push_back(s);
    }
    return "";
}

long long ExecutableImage::FileOffsetOf(std::uint32_t rva) const {
    if (rva >= size_) return -1;
    for (const Section& s : sections_)
        if (rva - s.address < s.size)
            return rva - s.address < s.fileSize ? static_cast<long long>(s.fileOffset) + (rva - s.address) : -2;
    if (rva < headers_) return rva < bytes_.size() ? static_cast<long long>(rva) : -2;
    return -1;
}

bool ExecutableImage::Read(std::uint32_t address, void* into, std::uint32_t size) const {
    auto* out = static_cast<unsigned char*>(into);
    for (std::uint32_t i = 0; i < size; ++i) {
        const long long at = FileOffsetOf(address - base_ + i);
        if (at == -1) return false;
        out[i] = at == -2 ? 0 : static_cast<unsigned char>(bytes_[static_cast<std::size_t>(at)]);
    }
    return true;
}

bool ExecutableImage::Executable(std::uint32_t address) const {
    const std::uint32_t rva = address - base_;
    if (rva >= size_) return false;
    for (const Section& s : sections_)
        if (rva - s.address < s.size) return s.executable;
    return false;
}

bool LooksLikeProgram(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    if (dot != std::string::npos) {
        std::string extension = path.substr(dot);
        for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        if (extension == ".exe") return true;
    }
    const FileBytes start = ReadFileBytes(path, 2);
    return start.read && start.bytes == "MZ";
}

GameReport CheckGameFile(const std::string& path) {
    GameReport report;
    report.path = path;
    FileBytes file = ReadFileBytes(path, kLargestProgram);
    report.fullPath = file.fullPath;
    report.folder = FolderOf(file.fullPath);
    if (!file.read) {
        // The file's own advice speaks of settings files; a game is named.
        report.problem =
            file.missing ? "no such file: name the game's executable (the .exe in the game's folder)" : file.why;
        return report;
    }
    report.readable = true;
    if (file.more) {
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
    report.dllBeside = FileExists(report.folder + "AimingPlugin.dll");
    report.settingsBeside = FileExists(report.folder + "aimingSets.dat");
    ReadLastStart(report.folder + "AimingPlugin.log", report);
    return report;
}

int GameExitStatus(const GameReport& report) {
    if (!report.program) return 2;
    return report.game.Active() ? 0 : 1;
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
    if (r.mayMove)
        out +=
            "  the system may load it elsewhere as it starts (the game's own executable it cannot move): there the "
            "plugin would change nothing\n";
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
    out += "  aim call (at " + Hex(host::kAimPointCallSite) + "): " + g.aim.what +
           (r.aimBytes.empty() ? std::string() : " (" + r.aimBytes + ")") + "\n";
    out += "  frame call (at " + Hex(host::kFrameCallSite) + "): " + FrameWords(r) + "\n";
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
    out += ",\n  \"plugin\": {\"active\": " + std::string(g.Active() ? "true" : "false") +
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
