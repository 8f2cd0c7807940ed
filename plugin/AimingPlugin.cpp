// The plugin's start-up: everything it does is set going while this module's
// global objects are constructed, during the host's load of the module, and
// taken back while they are destroyed at its unload.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>

#include "codepatch/caller_state.h"
#include "codepatch/gate_drain.h"
#include "codepatch/gate_registry.h"
#include "codepatch/memory.h"
#include "codepatch/process_claim.h"
#include "host/FrameEvent.h"
#include "host/HostBuild.h"
#include "host/RunningGame.h"
#include "plugin/AimSettings.h"
#include "plugin/AimSite.h"
#include "plugin/CallSiteLog.h"
#include "plugin/FrameInput.h"
#include "plugin/FrameSite.h"
#include "plugin/ModuleLifetime.h"
#include "plugin/OptionsFile.h"
#include "plugin/PluginLog.h"
#include "plugin/PluginPaths.h"
#include "plugin/SettingsReload.h"
#include "plugin/Sounds.h"
#include "source_commit.h"

namespace {

// What only a copy of this plugin holds, at this place in its image: what
// the one-copy claim checks another claimant by.
const std::uint8_t kCopyMark[16] = {0x41, 0x69, 0x6D, 0x50, 0x6C, 0x75, 0x67, 0x69,
                                    0x6E, 0xC3, 0x1A, 0x7E, 0x92, 0x05, 0xD4, 0x6B};

void LogGame(const host::GameCheck& game) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    Log("AimingPlugin %s (built from commit %s), started %04u-%02u-%02u %02u:%02u:%02u", AIMING_PLUGIN_VERSION,
        AIMING_SOURCE_COMMIT, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    if (game.build)
        Log("game: build %d, image at 0x%08X", game.build, GetHostImageBase());
    else
        Log("game: build not recognised, image at 0x%08X", GetHostImageBase());
}

// The game's executable carries no relocations: its own code reaches its
// functions and data at fixed addresses, which only hold where the image is
// meant to be.
bool ImageWhereTheGameExpectsIt(const host::GameCheck& game) {
    if (game.atPreferredBase) return true;
    Log("game: its image is at 0x%08X, not at 0x%08X where the game's code expects it (a changed or repacked "
        "executable?): the plugin changes nothing in it",
        GetHostImageBase(), host::kPreferredImageBase);
    return false;
}

// One copy of the plugin per process: false when another copy (renamed, or
// "AimingPlugin - Copy.dll") is loaded already, and this one is to stay out.
bool ClaimTheProcess(const codepatch::gate_registry& gates) {
    const codepatch::process_claim claim = codepatch::claim_process(gates, kCopyMark, sizeof kCopyMark);
    // The module the claim names, by its file (as much of it as a log line holds).
    const auto holderFile = [&claim] {
        wchar_t holder[1024];
        if (!GetModuleFileNameW(reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(claim.holder)), holder, 1024))
            std::wcscpy(holder, L"no module of the game now");
        return Utf8Text(holder);
    };
    switch (claim.result) {
        case codepatch::claim_result::another_copy:
            Log("another copy of this plugin is already loaded in this game (%s): this copy changes nothing (remove "
                "one of the two DLLs)",
                holderFile().c_str());
            return false;
        case codepatch::claim_result::taken_over:
            Log("the claim that keeps a second copy of this plugin out named something that is not a copy of it "
                "(%s, at 0x%08X: left over, or written by another program): this copy holds the claim now",
                holderFile().c_str(), claim.holder);
            return true;
        case codepatch::claim_result::name_taken:
            Log("the name under which this plugin keeps its call gates and its one-copy claim is held by something "
                "that is not this plugin (another program took it): going on without the one-copy guard");
            return true;
        case codepatch::claim_result::ours:
            return true;
    }
    return true;
}

// How long an unload waits for a game thread inside the plugin's own code.
// What runs there is bounded by itself: the aim handler is a few hundred
// instructions that neither block nor call the game; the frame handler makes
// two key queries and, with live reload on, one look at the settings file
// and at most one read of it. Two seconds is far beyond either, emulated
// too; a thread still inside after that is starved or stuck in the system.
constexpr std::uint32_t kUnloadWaitMilliseconds = 2000;

void LogDrain(const codepatch::gate_drain& drain) {
    // Whole tenths, printed as integers: the C runtime's formatting of a
    // floating-point number keeps memory of its own that an unload would leave.
    const auto tenths = static_cast<unsigned>(drain.milliseconds * 10 + 0.5);
    if (!drain.clear()) {
        if (drain.threads_still_inside)
            Log("unload: %u thread(s) of the game were still inside the plugin after %u.%u s (held up by the "
                "system?)",
                drain.threads_still_inside, tenths / 10000, tenths / 1000 % 10);
        if (drain.threads_not_inspected)
            Log("unload: %u thread(s) of the game could not be looked at (Windows would not let the plugin "
                "see them), so the plugin cannot tell whether they are inside it",
                drain.threads_not_inspected);
        Log("unload: so that the game cannot crash, the plugin keeps its code and data in memory "
            "until the game exits; everything it changed in the game is put back all the same");
        return;
    }
    if (drain.threads_waited_for == 0)
        Log("unload: no call left inside the plugin (waited %u.%u ms, for no thread)", tenths / 10, tenths % 10);
    else
        Log("unload: no call left inside the plugin (waited %u.%u ms, for %u thread(s) that were inside it)",
            tenths / 10, tenths % 10, drain.threads_waited_for);
}

// Keeps this module mapped until the process ends, whatever FreeLibrary is
// called for it (the loader honours it during the unload that is under way).
void KeepModuleLoaded() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&KeepModuleLoaded), &self);
}

// Nothing may be left calling into a module that fails to start: unless the
// start-up gets to its end, this puts back what it had changed.
class StartupRollback {
public:
    StartupRollback(const codepatch::gate_registry& gates, AimSite& aimSite, FrameSite& frameSite)
        : gates_(gates), aimSite_(aimSite), frameSite_(frameSite) {}
    StartupRollback(const StartupRollback&) = delete;
    StartupRollback& operator=(const StartupRollback&) = delete;
    ~StartupRollback() {
        if (done_) return;
        frameSite_.Remove();
        aimSite_.Remove();
        codepatch::drain_call_gates(gates_, kUnloadWaitMilliseconds);
        Log("the start-up failed half-way (out of memory?): everything is put back");
    }
    void Done() { done_ = true; }

private:
    const codepatch::gate_registry& gates_;
    AimSite& aimSite_;
    FrameSite& frameSite_;
    bool done_ = false;
};

// The plugin: its start-up, while this module's global objects are
// constructed, and its unload, while they are destroyed.
class AimingPlugin {
public:
    AimingPlugin() noexcept {
        // The start-up reads numbers and calls the system on the game's
        // loading thread: it leaves that thread's state as it found it.
        const codepatch::caller_state_guard callerState;
        OpenLog(LogFilePath());
        // What the game's image holds decides everything below; nothing is
        // written before it is known (the settings checker decides the same
        // from the executable on disk).
        const host::GameCheck game = CheckRunningGame(gates_);
        LogGame(game);
        if (!ImageWhereTheGameExpectsIt(game)) {
            LogInactive(game.WhyInactive());
            return;
        }
        if (!ClaimTheProcess(gates_)) {
            LogInactive("another copy of this plugin is loaded");
            return;
        }
        claimed_ = true;
        // The aim call is the evidence that this is the game the plugin
        // knows: where it holds neither the game's call nor another mod's
        // hook of it, nothing at all is written.
        const host::AimVerdict aim = aimSite_.Install(game.aim);
        if (aim == host::AimVerdict::Unknown) {
            LogInactive(game.WhyInactive());
            return;
        }
        installed_ = LoadSettingsAndHookFrames();
        if (installed_) LogReady(aim == host::AimVerdict::Hooked);
        // Heard where the game's screen shows nothing: ready, settings applied.
        if (installed_ && options_.Options().loadedSound && reload_.DestinationsApplied() > 0)
            PlaySystemSound(Sound::Loaded);
    }

    // Unloading while the host goes on: each call site goes back to what it
    // held, but only while it still calls this module's gate; a site that
    // something else has rewritten since keeps that code's bytes. Then the
    // unload waits, for a bounded time, for the threads inside the plugin's
    // own code (never for one inside a game function: that returns into the
    // gate), and only then logs what it did. False when a thread may still
    // be inside: the plugin's code and this object must then stay.
    bool Unload() noexcept {
        bool clear = true;
        if (installed_) {
            const auto frame = frameSite_.Remove();
            const auto aim = aimSite_.Remove();
            // At the process's exit no other thread runs, and none is looked at.
            const bool exiting = ProcessIsExiting();
            const codepatch::gate_drain drain =
                exiting ? codepatch::gate_drain{} : codepatch::drain_call_gates(gates_, kUnloadWaitMilliseconds);
            clear = drain.clear();
            if (!clear) {
                KeepModuleLoaded();
                KeepRuntimeResources();
            }
            LogCallSiteRemoval("frame", host::kFrameCallSite, frame);
            LogCallSiteRemoval("aim", host::kAimPointCallSite, aim);
            if (!exiting) LogDrain(drain);
        }
        if (claimed_) codepatch::release_process_claim(gates_, kCopyMark);
        Log("unloaded");
        if (clear) CloseLog();
        return clear;
    }

private:
    // The start-up's verdict: one line that says what works, and what does
    // not and why.
    static void LogInactive(const char* why) {
        Log("verdict: not active, %s; nothing in the game was changed (see above)", why);
    }
    void LogReady(bool weaponOffsets) const {
        char offsetsText[96];
        std::snprintf(offsetsText, sizeof offsetsText, weaponOffsets ? "on" : "off (%s)", aimSite_.WhyNoOffsets());
        // What was written, not what was read: a file whose every line was
        // refused is read, and applies nothing.
        char settingsText[128];
        const int applied = reload_.DestinationsApplied();
        char problems[64] = "";
        if (reload_.Problems())
            std::snprintf(problems, sizeof problems, ", with %d problem(s) in the file", reload_.Problems());
        if (!reload_.FileRead())
            std::snprintf(settingsText, sizeof settingsText, "settings not applied (no settings file read, see above)");
        else if (applied == 0)
            std::snprintf(settingsText, sizeof settingsText,
                          "settings not applied (nothing in the file could be used: %d problem(s), see above)",
                          reload_.Problems());
        else if (applied < SettingsReload::kDestinations)
            std::snprintf(settingsText, sizeof settingsText, "settings partly applied (%d of %d values%s, see above)",
                          applied, SettingsReload::kDestinations, problems);
        else if (reload_.Problems())
            std::snprintf(settingsText, sizeof settingsText, "settings applied%s (see above)", problems);
        else
            std::snprintf(settingsText, sizeof settingsText, "settings applied");
        char frameText[224];
        char keys[64];
        if (frameSite_.Hooked())
            std::snprintf(frameText, sizeof frameText, "toggle on (%s), live reload %s", options_.Keys(keys),
                          aimSite_.Settings().reloadEveryFrame ? "on"
                          : !reload_.FileRead()                ? "off (no settings file was read)"
                          : !reload_.ReloadSwitchGiven()       ? "off (line 1 of the file gives no whole number)"
                                                               : "off (line 1 of the file is 0)");
        else
            std::snprintf(frameText, sizeof frameText, "toggle and live reload off (%s)", frameSite_.WhyNot());
        Log("verdict: ready: %s, weapon offsets %s, %s", settingsText, offsetsText, frameText);
    }

    // The settings file read and applied once, and the frame callback
    // registered (which hooks the frame call); everything put back when
    // memory runs out half-way.
    bool LoadSettingsAndHookFrames() noexcept {
        try {
            StartupRollback rollback(gates_, aimSite_, frameSite_);
            reload_.LoadAimSettings();
            options_.Load();
            frameSite_.Install(frameParts_);
            rollback.Done();
            return true;
        } catch (...) {
            return false;
        }
    }

    // The name under which each load of the plugin finds its call gates again.
    codepatch::gate_registry gates_{L"AimingPlugin"};
    AimSite aimSite_{gates_};
    SettingsReload reload_{aimSite_.Settings()};
    OptionsFile options_;
    const FrameInputParts frameParts_{&reload_, &options_};
    FrameSite frameSite_{gates_};
    bool claimed_ = false;
    bool installed_ = false;
};

// The plugin in storage that the runtime never destroys by itself: an
// unload that cannot make sure that no game thread is inside the plugin any
// more keeps it whole, with the module's code, for the rest of the process.
class PluginInstance {
public:
    PluginInstance() noexcept { new (storage_) AimingPlugin; }
    ~PluginInstance() {
        AimingPlugin& plugin = *std::launder(reinterpret_cast<AimingPlugin*>(storage_));
        if (plugin.Unload()) plugin.~AimingPlugin();
    }
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

private:
    alignas(AimingPlugin) unsigned char storage_[sizeof(AimingPlugin)];
};

PluginInstance aimingPlugin;

}  // namespace
