// The plugin's start-up: everything it does is set going while this module's
// global objects are constructed, during the host's load of the module, and
// taken back while they are destroyed at its unload.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "codepatch/call_gate.h"
#include "codepatch/caller_state.h"
#include "codepatch/memory.h"
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
// small named memory block that says which module made it and where in that
// module its mark is: only a loaded module that holds this plugin's mark at
// that place is a copy of the plugin. Any program can take the name and
// write anything into it, but no data it can name makes a module of this
// process hold the mark, so a forged claim is told apart from a copy and
// switches nothing off.
const std::uint8_t kCopyMark[16] = {0x41, 0x69, 0x6D, 0x50, 0x6C, 0x75, 0x67, 0x69,
                                    0x6E, 0xC3, 0x1A, 0x7E, 0x92, 0x05, 0xD4, 0x6B};

struct Claim {
    static constexpr char kMagic[24] = "AimingPlugin claim v2";
    char magic[sizeof kMagic];
    std::uint32_t module;  // the claiming copy's module base
    std::uint32_t mark;    // where its kCopyMark is, from its base
};

std::uint32_t OwnModule() {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&__ImageBase));
}

std::uint32_t MarkOffset() {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(kCopyMark)) - OwnModule();
}

// Whether the claim names a loaded module, other than this one, that holds
// the mark where the claim says, inside its own image.
bool NamesACopy(const Claim& claim) {
    if (std::memcmp(claim.magic, Claim::kMagic, sizeof Claim::kMagic) != 0 || claim.module == OwnModule()) return false;
    HMODULE module = nullptr;
    const auto* base = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(claim.module));
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(base), &module) ||
        reinterpret_cast<const char*>(module) != base)
        return false;
    const codepatch::patch_address mark(claim.module + claim.mark);
    MEMORY_BASIC_INFORMATION info;
    return claim.mark >= sizeof(IMAGE_DOS_HEADER) && codepatch::is_readable(mark, sizeof kCopyMark) &&
           VirtualQuery(mark.pointer(), &info, sizeof info) != 0 && info.AllocationBase == base &&
           std::memcmp(mark.pointer(), kCopyMark, sizeof kCopyMark) == 0;
}

enum class ClaimOutcome { Ours, AnotherCopy, NameTaken };

ClaimOutcome ClaimProcess(HANDLE& claim, wchar_t (&holder)[kPathCapacity]) {
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
        view->mark = MarkOffset();
    } else if (NamesACopy(*view)) {
        outcome = ClaimOutcome::AnotherCopy;
        if (!GetModuleFileNameW(reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(view->module)), holder,
                                kPathCapacity))
            holder[0] = L'\0';
    } else {
        outcome = ClaimOutcome::NameTaken;
    }
    if (view) UnmapViewOfFile(view);
    if (outcome != ClaimOutcome::Ours) {
        CloseHandle(claim);
        claim = nullptr;
    }
    return outcome;
}

void LogDrain(const codepatch::gate_drain& drain) {
    // Whole tenths, printed as integers: the C runtime's formatting of a
    // floating-point number keeps memory of its own that an unload would leave.
    const auto tenths = static_cast<unsigned>(drain.milliseconds * 10 + 0.5);
    if (drain.threads_waited_for == 0)
        Log("unload: no call left inside the plugin (waited %u.%u ms, for no thread)", tenths / 10, tenths % 10);
    else
        Log("unload: no call left inside the plugin (waited %u.%u ms, for %u thread(s) that were inside it)",
            tenths / 10, tenths % 10, drain.threads_waited_for);
    if (drain.threads_not_inspected)
        Log("unload: %u thread(s) of the game could not be looked at (a debugger holding them?); if one was inside "
            "the plugin at this moment, the game may crash",
            drain.threads_not_inspected);
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
        RemoveFrameHook();
        aimSite_.Remove();
        codepatch::drain_call_gates();
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
        // The start-up reads numbers and calls the system on the game's
        // loading thread: it leaves that thread's state as it found it.
        const codepatch::caller_state_guard callerState;
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
        static wchar_t holder[kPathCapacity];
        switch (ClaimProcess(claim_, holder)) {
            case ClaimOutcome::AnotherCopy:
                Log("another copy of this plugin is already loaded in this game (%s): this copy changes nothing "
                    "(remove one of the two DLLs)",
                    holder[0] ? Utf8(holder) : "its file name could not be had");
                return;
            case ClaimOutcome::NameTaken:
                Log("the name this plugin claims to keep a second copy out is held by something that is not a copy "
                    "of this plugin (another program took it): going on without that guard");
                break;
            case ClaimOutcome::Ours:
                break;
        }
        // The aim call is the evidence that this is the game the plugin
        // knows: where it holds neither the game's call nor another mod's
        // hook of it, nothing at all is written.
        if (aimSite_.Install() == AimSite::Verdict::Unknown) return;
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
    // held, but only while it still calls this module's gate; a site that
    // something else has rewritten since keeps that code's bytes. Then the
    // unload waits for the threads inside the plugin's own code (never for
    // one inside the game's function: that returns into the gate), and only
    // then logs what it did, when no other thread can be logging.
    ~AimingPlugin() {
        if (installed_) {
            const auto frame = RemoveFrameHook();
            const auto aim = aimSite_.Remove();
            // At the process's exit no other thread runs, and none is looked at.
            const codepatch::gate_drain drain =
                processExiting ? codepatch::gate_drain{} : codepatch::drain_call_gates();
            LogCallSiteRemoval("frame", host::kFrameCallSite, frame);
            LogCallSiteRemoval("aim", host::kAimPointCallSite, aim);
            if (!processExiting) LogDrain(drain);
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
