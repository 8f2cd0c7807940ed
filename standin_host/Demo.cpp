// The demonstration: the real plugin DLL in the stand-in host, over a few
// hundred simulated frames, told as a player would follow it.
//
//   standin-host.exe standin-demo.dll [--build N] [--settings FILE] [--frames N]
//                                     [--dll FILE] [--folder DIR]
//
// With --folder, the plugin runs in that folder as in the game's: it reads
// the aimingSets.dat there and writes its log there, and the demonstration
// leaves the file as it is (no live edit). --dll runs that DLL in place of
// the one built; outside the folder, it is copied in for the run.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "codepatch/branch.h"
#include "host/HostBuild.h"
#include "settings/SettingsLayout.h"
#include "settings/WeaponTable.h"
#include "standin_host/Standin.h"

namespace {

struct Options {
    std::int32_t build = 1001;
    std::wstring settings;  // empty: the sample next to the plugin in dist/
    int frames = 300;
    std::wstring dll;     // empty: the plugin built
    std::wstring folder;  // empty: a temporary folder of the demonstration's own
};

// The demonstration's arguments as the command line gave them, in UTF-16:
// after the host and this module. Paths with any letters survive.
std::vector<std::wstring> WideArguments() {
    int count = 0;
    LPWSTR* all = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> arguments;
    for (int i = 2; all && i < count; ++i) arguments.push_back(all[i]);
    LocalFree(all);
    return arguments;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"" : path.substr(0, slash + 1);
}

// Where the plugin runs: the DLL, the settings file beside it, its log.
struct PluginFolder {
    std::wstring dll, settings, log;
    std::wstring copied;  // a DLL copied in for the run, removed afterwards
};

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char b[4];
    for (std::uint8_t v : bytes) {
        std::snprintf(b, sizeof b, "%02X ", v);
        text += b;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

std::string Float(std::uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, 4);
    if (std::isnan(f)) return "(host's own)";
    char b[32];
    std::snprintf(b, sizeof b, "%g", static_cast<double>(f));
    return b;
}

std::string Vector(const float* v) {
    char b[96];
    std::snprintf(b, sizeof b, "(%.2f, %.2f, %.2f)", static_cast<double>(v[0]), static_cast<double>(v[1]),
                  static_cast<double>(v[2]));
    return b;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

int hostObject = 0;

// The host makes its aim call for the current weapon; returns the offset
// that reached 0x5334F0 (or null when the host's own point went through).
const standin::OffsetCall* AimWithWeapon(std::uint32_t code) {
    standin::Character().SetWeapon(code);
    const std::size_t before = standin::OffsetCalls().size();
    static const float hostPoint[3] = {1.0f, 2.0f, 3.0f};
    standin::AimCallArgs args;
    args.object = &hostObject;
    args.point = hostPoint;
    standin::RunHostAimCall(args);
    return standin::OffsetCalls().size() > before ? &standin::OffsetCalls().back() : nullptr;
}

float FirstOffsetComponent(std::uint32_t code) {
    const standin::OffsetCall* call = AimWithWeapon(code);
    if (!call) return NAN;
    float f;
    std::memcpy(&f, &call->offsetBits[0], 4);
    return f;
}

bool ParseOptions(Options& options) {
    const std::vector<std::wstring> args = WideArguments();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == L"--build" && hasValue)
            options.build = static_cast<std::int32_t>(std::wcstol(args[++i].c_str(), nullptr, 10));
        else if (arg == L"--settings" && hasValue)
            options.settings = args[++i];
        else if (arg == L"--frames" && hasValue)
            options.frames = std::max(60, static_cast<int>(std::wcstol(args[++i].c_str(), nullptr, 10)));
        else if (arg == L"--dll" && hasValue)
            options.dll = args[++i];
        else if (arg == L"--folder" && hasValue)
            options.folder = args[++i];
        else {
            std::printf(
                "usage: demo [--build 1001|1002|1011|1101|1111|3200|3210|0] [--settings FILE] [--frames N]\n"
                "            [--dll FILE] [--folder DIR]\n");
            return false;
        }
    }
    if (!options.folder.empty() && options.folder.back() != L'\\' && options.folder.back() != L'/')
        options.folder += L'\\';
    if (!options.folder.empty() && !options.settings.empty()) {
        std::printf("--folder reads the aimingSets.dat in that folder: leave out --settings\n");
        return false;
    }
    return true;
}

// The DLL `dll` (the built one when empty) in `folder`, copied there under
// its own name when it is not there already (over a DLL of that name only
// when `overwrite`).
bool PlaceDll(const std::wstring& dll, const std::wstring& folder, bool overwrite, PluginFolder& place) {
    const std::wstring source = dll.empty() ? standin::Wide(standin::BuiltPluginPath()) : dll;
    const std::size_t slash = source.find_last_of(L"\\/");
    const std::wstring name = slash == std::wstring::npos ? source : source.substr(slash + 1);
    place.dll = folder + name;
    if (_wcsicmp(FolderOf(source).c_str(), folder.c_str()) != 0) {
        if (!CopyFileW(source.c_str(), place.dll.c_str(), overwrite ? FALSE : TRUE)) {
            std::printf("cannot copy %s into %s (error %lu; is a DLL of that name there already?)\n",
                        standin::Utf8(source).c_str(), standin::Utf8(folder).c_str(), GetLastError());
            return false;
        }
        place.copied = place.dll;
    }
    place.settings = folder + L"aimingSets.dat";
    const std::size_t dot = name.find_last_of(L'.');
    place.log = folder + (dot == std::wstring::npos ? name : name.substr(0, dot)) + L".log";
    return true;
}

}  // namespace

extern "C" __declspec(dllexport) int standin_module_main(int, char**) {
    Options options;
    if (!ParseOptions(options)) return 2;

    standin::ResetHost(options.build);
    const bool ownFolder = !options.folder.empty();
    std::unique_ptr<standin::PluginSandbox> sandbox;
    PluginFolder place;
    std::vector<std::string> lines;
    if (ownFolder) {
        if (GetFileAttributesW(options.folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
            std::printf("no folder %s\n", standin::Utf8(options.folder).c_str());
            return 2;
        }
        if (!PlaceDll(options.dll, options.folder, false, place)) return 2;
        lines = SplitLines(standin::ReadWholeFile(place.settings));
    } else {
        const std::wstring source = options.settings.empty() ? standin::Wide(AIMING_DIST_SETTINGS) : options.settings;
        lines = SplitLines(standin::ReadWholeFile(source));
        if (lines.empty()) {
            std::printf("cannot read the settings file %s\n", standin::Utf8(source).c_str());
            return 2;
        }
        if (options.settings.empty()) lines[0] = "reloadEveryFrame 1";
        sandbox = std::make_unique<standin::PluginSandbox>();
        const std::wstring folder = standin::Wide(sandbox->Path());
        if (!options.dll.empty() && !PlaceDll(options.dll, folder, true, place)) return 2;
        if (options.dll.empty()) {
            place.dll = standin::Wide(sandbox->PluginPath());
            place.settings = standin::Wide(sandbox->SettingsPath());
            place.log = standin::Wide(sandbox->LogPath());
        }
        standin::WriteWholeFile(place.settings, Join(lines));
    }
    const bool ownSettings = !options.settings.empty() || ownFolder;

    std::printf("== The stand-in host ==\n");
    const int probe = FindMatchingBuildProbe(GetHostImageBase());
    std::printf("  image base           0x%08X\n", GetHostImageBase());
    if (probe >= 0)
        std::printf("  host build           %d (word 0x%08X found at 0x%06X)\n", host::kBuildProbes[probe].build,
                    host::kBuildProbes[probe].expected, host::kBuildProbes[probe].address);
    else
        std::printf("  host build           not recognised (no probe word matches)\n");
    std::printf("  plugin               %s\n", standin::Utf8(place.dll).c_str());
    std::printf("  settings file        %s%s\n", standin::Utf8(place.settings).c_str(),
                ownSettings ? (lines.empty() ? "  (none there: the plugin says so in its log)" : "")
                            : "\n                       (the sample, with live reload switched on in line 1)");

    const auto aimBefore = standin::ReadHostBytes(host::kAimPointCallSite, 5);
    const auto frameBefore = standin::ReadHostBytes(host::kFrameCallSite, 5);
    const std::uint32_t codeBefore = standin::ReadHostWord(host::kAimCodeConstant);

    std::printf("\n== Loading the plugin (LoadLibrary) ==\n");
    auto plugin = std::make_unique<standin::PluginModule>(place.dll);
    if (!plugin->Loaded()) {
        std::printf("  the plugin did not load (error %lu)\n", GetLastError());
        if (!place.copied.empty()) DeleteFileW(place.copied.c_str());
        return 1;
    }
    const auto pluginBase = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(plugin->Handle()));
    std::printf("  plugin loaded at     0x%08X; settings file read %d time(s)\n", pluginBase,
                standin::Counters().settingsOpens);
    const std::uint32_t aimTarget = codepatch::branch_target(codepatch::patch_address(host::kAimPointCallSite));
    std::printf("  aim call 0x527A95    %s  ->  %s  (now calls 0x%08X, the plugin's gate to 0x%08X)\n",
                Hex(aimBefore).c_str(), Hex(standin::ReadHostBytes(host::kAimPointCallSite, 5)).c_str(), aimTarget,
                standin::PastGate(aimTarget));
    const auto frameAfter = standin::ReadHostBytes(host::kFrameCallSite, 5);
    if (frameAfter != frameBefore)
        std::printf("  frame call 0x53E981  %s  ->  %s  (the per-frame hook)\n", Hex(frameBefore).c_str(),
                    Hex(frameAfter).c_str());
    else
        std::printf(
            "  frame call 0x53E981  %s  unchanged: build %d gets no per-frame hook, so no toggle and no live reload\n",
            Hex(frameBefore).c_str(), options.build);

    std::printf("\n== Values applied to the host ==\n");
    for (int k = 0; k < settings::kHostValueCount; ++k)
        std::printf("  line %d   float at 0x%06X       %s\n", settings::LineOf(settings::LineKind::HostValue, k),
                    host::kAimValues[k], Float(standin::ReadHostWord(host::kAimValues[k])).c_str());
    std::printf("  line 5   code constant 0x521632  %s  ->  %s\n", Float(codeBefore).c_str(),
                Float(standin::ReadHostWord(host::kAimCodeConstant)).c_str());
    for (int row = 0; row < 4; ++row) {
        std::printf("  line %d  block 0x%06X row %d:", 11 + row, host::kAimBlock + 28 * row, row);
        for (int i = 0; i < 7; ++i)
            std::printf(" %s", Float(standin::ReadHostWord(host::kAimBlock + 28 * row + 4 * i)).c_str());
        std::printf("\n");
    }

    std::printf("\n== Per-weapon aim offset: the host aims, 0x5334F0 turns the offset into a point ==\n");
    std::printf("  (the stand-in's character stands at (100, 200, 300); the point is position + offset)\n");
    // Every weapon the file serves, in file order, then code 59 and one code
    // the table does not list; each pass-through with its true reason.
    std::vector<std::uint32_t> codes;
    for (int row = 1; row < settings::kWeaponOffsetRows; ++row) codes.push_back(weapons::CodeOfRow(row));
    codes.push_back(59u);
    codes.push_back(40u);
    for (std::uint32_t code : codes) {
        const standin::OffsetCall* call = AimWithWeapon(code);
        if (!call) {
            const int row = weapons::OffsetRow(code);
            if (row == weapons::kNone)
                std::printf("  weapon %2u  not in the table: the host's own point goes through unchanged\n", code);
            else
                std::printf(
                    "  weapon %2u  no offset in the file (line %d gave none): the host's own point goes "
                    "through unchanged\n",
                    code, settings::LineOf(settings::LineKind::WeaponOffset, row));
            continue;
        }
        float offset[3];
        std::memcpy(offset, call->offsetBits.data(), 12);
        std::printf("  weapon %2u  offset %-24s -> point %s%s\n", code, Vector(offset).c_str(),
                    Vector(call->point.data()).c_str(), code == 59 ? "  (always the zero offset)" : "");
    }

    std::printf("\n== %d frames at 60 a second: right mouse button and Space, then a live edit ==\n", options.frames);
    const int pressButton = options.frames / 6, pressSpace = options.frames / 4, releaseSpace = options.frames / 3,
              releaseButton = options.frames / 2, spaceAlone = options.frames * 7 / 12, edit = options.frames * 3 / 4;
    float last = FirstOffsetComponent(22);
    std::printf("  frame %3d  weapon 22's first offset component reaching the host: %.2f\n", 0,
                static_cast<double>(last));
    bool button = false, space = false;
    for (int frame = 1; frame <= options.frames; ++frame) {
        const char* what = nullptr;
        if (frame == pressButton) button = true, what = "right button pressed";
        if (frame == pressSpace) space = true, what = "Space pressed while the button is held";
        if (frame == releaseSpace) space = false, what = "Space released, button still held";
        if (frame == releaseButton) button = false, what = "right button released";
        if (frame == spaceAlone) space = true, what = "Space pressed alone";
        if (frame == spaceAlone + 5) space = false;
        if (frame == edit && !ownFolder) {
            std::vector<std::string> edited = lines;
            if (edited.size() > 16) edited[16] = "weapon22 0.90 0.00 0.60";
            standin::WriteWholeFile(place.settings, Join(edited));
            std::printf("  frame %3d  the file is edited: weapon 22's line now reads \"weapon22 0.90 0.00 0.60\"%s\n",
                        frame, options.settings.empty() ? "" : " (in the demo's copy: your file is left as it is)");
        }
        standin::SetKeys(button, space);
        // At the game's pace, 60 frames a second: live reload sees saves
        // and seconds go by as it would in the game.
        Sleep(16);
        standin::RunHostFrame();
        const float now = FirstOffsetComponent(22);
        if (what || now != last)
            std::printf("  frame %3d  %-40s first component now %.2f\n", frame, what ? what : "",
                        static_cast<double>(now));
        last = now;
    }
    if (standin::Counters().settingsOpens > 1)
        std::printf(
            "  settings file read %d time(s) in all: once at load; then, with live reload on, on the frame after its\n"
            "  size or time stamp changed, on each frame for 20 ms after a save (a second save so soon may carry the\n"
            "  same time stamp), and once a second to be safe\n",
            standin::Counters().settingsOpens);
    else
        std::printf("  settings file read once, at load (live reload is off: line 1 of the file is 0)\n");

    std::printf("\n== Unloading the plugin (FreeLibrary) ==\n");
    plugin.reset();
    const bool aimBack = standin::ReadHostBytes(host::kAimPointCallSite, 5) == aimBefore;
    const bool frameBack = standin::ReadHostBytes(host::kFrameCallSite, 5) == frameBefore;
    std::printf("  aim call 0x527A95    %s  %s\n", Hex(standin::ReadHostBytes(host::kAimPointCallSite, 5)).c_str(),
                aimBack ? "original bytes back" : "NOT RESTORED");
    std::printf("  frame call 0x53E981  %s  %s\n", Hex(standin::ReadHostBytes(host::kFrameCallSite, 5)).c_str(),
                frameBack ? "original bytes back" : "NOT RESTORED");
    const bool direct = AimWithWeapon(22) == nullptr;
    std::printf("  the next aim call    %s\n", direct ? "reaches the host's own function" : "STILL ENTERS THE PLUGIN");

    if (!place.copied.empty()) DeleteFileW(place.copied.c_str());
    std::printf("\n== The plugin's log, %s ==\n", standin::Utf8(place.log).c_str());
    const std::string log = standin::ReadWholeFile(place.log);
    std::fwrite(log.data(), 1, log.size(), stdout);
    return aimBack && frameBack && direct && !log.empty() ? 0 : 1;
}
