// The plugin's start-up: everything it does is set going while this module's
// global objects are constructed, during the host's load of the module, and
// taken back while they are destroyed at its unload.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "codepatch/call_gate.h"
#include "codepatch/in_flight.h"
#include "host/FrameEvent.h"
#include "host/HostBuild.h"
#include "plugin/AimPointHook.h"
#include "plugin/AimSite.h"
#include "plugin/FrameInput.h"
#include "plugin/PluginLog.h"
#include "plugin/PluginPaths.h"
#include "plugin/SettingsReload.h"

// The C++ runtime's own release of its emergency exception pool (about
// 19 KB, which it never frees by itself).
namespace __gnu_cxx {
void __freeres();
}

// The linker's name for this module's own image: its base address.
extern "C" IMAGE_DOS_HEADER __ImageBase;

// The name under which each load of the plugin finds its call gates again.
const wchar_t codepatch::call_gate_owner[] = L"AimingPlugin";

namespace {
// Set when the process is ending (DLL_PROCESS_DETACH with a non-null
// reserved argument): no other thread runs then, and nothing is waited for.
bool processExiting = false;
}  // namespace

// The runtime's own entry point calls this before it destroys the module's
// global objects.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved) processExiting = true;
    return TRUE;
}

namespace {

// Constructed before every other static object of the plugin, so destroyed
// after them all: the last thing an unload does is hand the runtime's
// emergency exception pool back. Without it, every load and unload by a
// plugin manager would leave that pool behind in the process.
struct RuntimeRelease {
    ~RuntimeRelease() { __gnu_cxx::__freeres(); }
} runtimeRelease;

// One copy of the plugin per process: a second copy (renamed, or
// "AimingPlugin - Copy.dll") finds the first one's claim. The claim is a
// small named memory block that says whose it is, so that a name taken by
// something else (any program can take it) is told apart from a copy of
// this plugin, and does not switch the plugin off.
struct Claim {
    static constexpr char kMagic[24] = "AimingPlugin claim v1";
    char magic[sizeof kMagic];
    std::uint32_t module;  // the claiming copy's module base
};

std::uint32_t OwnModule() {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&__ImageBase));
}

enum class ClaimOutcome { Ours, AnotherCopy, NameTaken };

ClaimOutcome ClaimProcess(HANDLE& claim) {
    wchar_t name[64];
    std::swprintf(name, 64, L"Local\\AimingPlugin.%lu", GetCurrentProcessId());
    claim = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Claim), name);
    if (!claim) return ClaimOutcome::NameTaken;  // another kind of object holds the name
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    auto* view = static_cast<Claim*>(MapViewOfFile(claim, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(Claim)));
    ClaimOutcome outcome = ClaimOutcome::Ours;
    if (!view) {
        outcome = ClaimOutcome::NameTaken;
    } else if (!existed) {
        std::memcpy(view->magic, Claim::kMagic, sizeof Claim::kMagic);
        view->module = OwnModule();
    } else {
        // A copy of this plugin, still loaded, or a name someone else took.
        wchar_t path[8];
        const bool copy =
            std::memcmp(view->magic, Claim::kMagic, sizeof Claim::kMagic) == 0 && view->module &&
            view->module != OwnModule() &&
            GetModuleFileNameW(reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(view->module)), path, 8) != 0;
        outcome = copy ? ClaimOutcome::AnotherCopy : ClaimOutcome::NameTaken;
    }
    if (view) UnmapViewOfFile(view);
    if (outcome != ClaimOutcome::Ours) {
        CloseHandle(claim);
        claim = nullptr;
    }
    return outcome;
}

// Calls still inside the plugin's hooks at unload, once both sites and
// gates lead elsewhere: the unload waits for them, a little while at most,
// before the module's code goes. The grace period lets a thread that has
// just made the call, and not yet reached the hook's count, be counted.
constexpr DWORD kUnloadGraceMs = 10;
constexpr DWORD kUnloadWaitMs = 250;

std::uint32_t CallsInFlight() {
    return codepatch::calls_in_flight(aimCallsInFlight) + GetFrameEvent().CallsInFlight();
}

// Milliseconds since `start` (a performance-counter reading): the tick
// count moves in steps too coarse for a wait of a few milliseconds.
DWORD MillisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<DWORD>((now.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart);
}

void WaitForCallsInFlight() {
    if (processExiting) return;
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    Sleep(kUnloadGraceMs);
    std::uint32_t left = CallsInFlight();
    const bool anyInFlight = left != 0;
    while (left != 0 && MillisecondsSince(start) < kUnloadWaitMs) {
        Sleep(1);
        left = CallsInFlight();
    }
    // A call that has just left the count still has the hook's last few
    // instructions to run.
    if (anyInFlight && left == 0) Sleep(kUnloadGraceMs);
    const DWORD waited = MillisecondsSince(start);
    if (left == 0)
        Log("unload: no call left inside the plugin (waited %lu ms)", waited);
    else
        Log("unload: %u call(s) still inside the plugin after %lu ms: going on all the same (the thread making it "
            "may crash the game)",
            left, waited);
}

void LogGame() {
    if (const HostBuild build = GetHostBuild())
        Log("game: build %d, image at 0x%08X", build, GetHostImageBase());
    else
        Log("game: build not recognised, image at 0x%08X", GetHostImageBase());
}

// Nothing may be left calling into a module that fails to start: unless the
// start-up gets to its end, this puts back what it had changed.
class StartupRollback {
public:
    explicit StartupRollback(AimSite& aimSite) : aimSite_(aimSite) {}
    StartupRollback(const StartupRollback&) = delete;
    StartupRollback& operator=(const StartupRollback&) = delete;
    ~StartupRollback() {
        if (done_) return;
        GetFrameEvent().RemoveHook();
        aimSite_.Undo();
        Log("the start-up failed half-way (out of memory?): everything is put back");
    }
    void Done() { done_ = true; }

private:
    AimSite& aimSite_;
    bool done_ = false;
};

class AimingPlugin {
public:
    AimingPlugin() noexcept {
        OpenLog(LogFilePath());
        SYSTEMTIME now;
        GetLocalTime(&now);
        Log("AimingPlugin %s, started %04u-%02u-%02u %02u:%02u:%02u", AIMING_PLUGIN_VERSION, now.wYear, now.wMonth,
            now.wDay, now.wHour, now.wMinute, now.wSecond);
        LogGame();
        if (GetHostImageBase() != host::kPreferredImageBase) {
            // The game's executable carries no relocations: its own code
            // reaches its functions and data at fixed addresses, which only
            // hold where the image is meant to be.
            Log("game: its image is at 0x%08X, not at 0x%08X where the game's code expects it (a changed or "
                "repacked executable?): the plugin changes nothing in it",
                GetHostImageBase(), host::kPreferredImageBase);
            return;
        }
        switch (ClaimProcess(claim_)) {
            case ClaimOutcome::AnotherCopy:
                Log("another copy of this plugin is already loaded in this game: this copy changes nothing (remove "
                    "one of the two DLLs)");
                return;
            case ClaimOutcome::NameTaken:
                Log("the name this plugin claims to keep a second copy out is taken by something that is not this "
                    "plugin: going on without that guard");
                break;
            case ClaimOutcome::Ours:
                break;
        }
        // A game whose build the probes recognise gets its settings and its
        // frame call even where another plugin holds the aim call; in any
        // other game, an aim call that is not the expected one means a game
        // the plugin does not know, and nothing is changed.
        if (!aimSite_.Install(GetHostBuild() != 0) && GetHostBuild() == 0) return;
        try {
            StartupRollback rollback(aimSite_);
            reload_.LoadAimSettings();
            RegisterFrameInput(reload_);
            rollback.Done();
        } catch (...) {
            return;
        }
        installed_ = true;
        LogFrameHook();
    }

    // Unloading while the host goes on: each call site goes back to what it
    // held, but only while it still calls this module; a site that something
    // else has rewritten since keeps that code's bytes.
    ~AimingPlugin() {
        if (installed_) {
            RemoveFrameHook();
            aimSite_.Remove();
            WaitForCallsInFlight();
        }
        Log("unloaded");
        CloseLog();
        if (claim_) CloseHandle(claim_);
    }

private:
    SettingsReload reload_;
    AimSite aimSite_;
    HANDLE claim_ = nullptr;
    bool installed_ = false;
};

AimingPlugin aimingPlugin;

}  // namespace
