// The plugin's start-up: everything it does is set going while this module's
// global objects are constructed, during the host's load of the module, and
// taken back while they are destroyed at its unload.
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "codepatch/branch.h"
#include "codepatch/memory.h"
#include "codepatch/scoped_patch.h"
#include "host/FrameEvent.h"
#include "host/HostBuild.h"
#include "host/HostInterface.h"
#include "plugin/AimPointHook.h"
#include "plugin/FrameInput.h"
#include "plugin/PluginLog.h"
#include "plugin/PluginPaths.h"
#include "plugin/SettingsReload.h"

// The C++ runtime's own release of its emergency exception pool (about
// 19 KB, which it never frees by itself).
namespace __gnu_cxx {
void __freeres();
}

namespace {

// Constructed before every other static object of the plugin, so destroyed
// after them all: the last thing an unload does is hand the runtime's
// emergency exception pool back. Without it, every load and unload by a
// plugin manager would leave that pool behind in the process.
struct RuntimeRelease {
    ~RuntimeRelease() { __gnu_cxx::__freeres(); }
} runtimeRelease;

std::uint32_t AddressOf(const void* function) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(function));
}

std::uint32_t HookAddress() {
    return AddressOf(reinterpret_cast<const void*>(&AimPointHook));
}

// The bytes at `site` as the log shows them ("E8 95 1A FF FF", "??" for a
// byte that is not there to read), in a buffer that the next call reuses.
const char* BytesAt(codepatch::patch_address site, std::uint32_t count) {
    static char text[3 * 16 + 1];
    char* out = text;
    *out = '\0';
    for (std::uint32_t i = 0; i < count && i < 16; ++i) {
        const char* separator = i ? " " : "";
        if (codepatch::is_committed(site + i, 1))
            out += std::snprintf(out, 4, "%s%02X", separator, codepatch::peek_u8(site + i));
        else
            out += std::snprintf(out, 4, "%s??", separator);
    }
    return text;
}

// The host build and image base are fixed first, before the start-up below
// (initialisers of one file run in the order they are written).
[[maybe_unused]] const HostBuild buildAtLoad = GetHostBuild();

// What the aim call site holds, and whether the plugin may take it over.
struct AimSiteCheck {
    bool known = false;
    std::uint32_t destination = 0;  // the call's destination, when it is one
    const char* what = "";
};

// The site must hold E8 rel32 to the host's aim function, or to committed
// executable memory outside the host image (another plugin's hook, which
// the plugin then chains to). Anything else means a game this plugin does
// not know, and nothing is written.
AimSiteCheck CheckAimSite(codepatch::patch_address site) {
    AimSiteCheck check;
    if (!codepatch::is_committed(site, codepatch::kRelativeBranchSize)) {
        check.what = "is not in the game's memory";
        return check;
    }
    if (codepatch::peek_u8(site) != codepatch::kOpCallRel32) {
        check.what = "is not a call";
        return check;
    }
    check.destination = codepatch::branch_target(site);
    const std::uint32_t imageBase = GetHostImageBase();
    const bool insideImage = check.destination - imageBase < GetHostImageSize();
    if (check.destination == RebaseHostAddress(host::kAimPointFunction)) {
        check.known = true;
        check.what = "calls the game's aim function";
    } else if (!insideImage && codepatch::is_executable(codepatch::patch_address(check.destination), 1)) {
        check.known = true;
        check.what = "calls another plugin's hook, which the plugin will call in turn";
    } else {
        check.what = insideImage ? "calls another function of the game" : "calls memory that holds no code";
    }
    return check;
}

// One copy of the plugin per process: a second copy (renamed, or
// "AimingPlugin - Copy.dll") finds the first one's name taken.
HANDLE ClaimProcess() {
    char name[64];
    std::snprintf(name, sizeof name, "Local\\AimingPlugin.%lu", GetCurrentProcessId());
    HANDLE claim = CreateMutexA(nullptr, FALSE, name);
    if (claim && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        return nullptr;
    }
    return claim;
}

void LogFrameHook() {
    const codepatch::patch_address site = FrameCallSite::address();
    switch (GetFrameEvent().hookState) {
        case FrameEvent::HookState::Installed:
            Log("frame call 0x53E981 (at 0x%08X): redirected to the plugin; the aim toggle and live reload work",
                site.value);
            break;
        case FrameEvent::HookState::SiteNotACall:
            Log("frame call 0x53E981 (at 0x%08X) holds %s, not a 5-byte call (another plugin may have changed it): "
                "left alone, so no aim toggle and no live reload this time",
                site.value, BytesAt(site, 6));
            break;
        default:
            Log("frame call: this game build has none the plugin hooks; no aim toggle, and the settings file is read "
                "once, now");
            break;
    }
}

class AimingPlugin {
public:
    AimingPlugin() {
        OpenLog(LogFilePath());
        Log("AimingPlugin %s", AIMING_PLUGIN_VERSION);
        const HostBuild build = GetHostBuild();
        if (build)
            Log("game: build %d, image at 0x%08X", build, GetHostImageBase());
        else
            Log("game: build not recognised, image at 0x%08X", GetHostImageBase());

        claim_ = ClaimProcess();
        if (!claim_) {
            Log("another copy of this plugin is already loaded in this game: this copy changes nothing (remove one of "
                "the two DLLs)");
            return;
        }
        const codepatch::patch_address site(RebaseHostAddress(host::kAimPointCallSite));
        const AimSiteCheck check = CheckAimSite(site);
        if (!check.known) {
            Log("aim call 0x527A95 (at 0x%08X) holds %s and %s: this is not a game the plugin knows, so it changes "
                "nothing in it",
                site.value, BytesAt(site, codepatch::kRelativeBranchSize), check.what);
            return;
        }
        Log("aim call 0x527A95 (at 0x%08X): held %s, %s; redirected to the plugin", site.value,
            BytesAt(site, codepatch::kRelativeBranchSize), check.what);
        aimContinuation = check.destination;
        saved_.capture(site, codepatch::kRelativeBranchSize, codepatch::protection::lift);
        codepatch::redirect_call(site, HookAddress());
        installed_ = true;
        reload_.LoadAimSettings();
        try {
            RegisterFrameInput(reload_);
        } catch (...) {
            // Nothing may be left calling into a module that fails to start.
            GetFrameEvent().RemoveHook();
            saved_.revert();
            installed_ = false;
            Log("the frame callback could not be registered (out of memory?): everything is put back");
            return;
        }
        LogFrameHook();
    }

    // Unloading while the host goes on: each call site goes back to what it
    // held, but only while it still calls this module; a site that something
    // else has rewritten since keeps that code's bytes.
    ~AimingPlugin() {
        if (installed_) {
            if (GetFrameEvent().hookState == FrameEvent::HookState::Installed) {
                if (GetFrameEvent().RemoveHook())
                    Log("unload: frame call 0x53E981 put back");
                else
                    Log("unload: frame call 0x53E981 no longer calls the plugin (something else changed it): left "
                        "alone");
            }
            if (codepatch::is_call_to(saved_.address, HookAddress())) {
                saved_.revert();
                Log("unload: aim call 0x527A95 put back");
            } else {
                saved_.is_saved = false;
                Log("unload: aim call 0x527A95 holds %s, no longer the plugin's call (something else changed it): "
                    "left alone",
                    BytesAt(saved_.address, codepatch::kRelativeBranchSize));
            }
        }
        Log("unloaded");
        CloseLog();
        if (claim_) CloseHandle(claim_);
    }

private:
    SettingsReload reload_;
    codepatch::scoped_call saved_;  // the host's own call at 0x527A95
    HANDLE claim_ = nullptr;
    bool installed_ = false;
};

AimingPlugin aimingPlugin;

}  // namespace
