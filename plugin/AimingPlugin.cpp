// The plugin's start-up: everything it does is set going while this module's
// global objects are constructed, during the host's load of the module.
#include <cstdint>

#include "codepatch/branch.h"
#include "codepatch/scoped_patch.h"
#include "host/HostBuild.h"
#include "host/HostInterface.h"
#include "plugin/AimPointHook.h"
#include "plugin/AimSettings.h"
#include "plugin/FrameInput.h"

namespace {

std::uint32_t AddressOf(const void* function) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(function));
}

// The host build and image base are fixed first, before the start-up below
// (initialisers of one file run in the order they are written).
[[maybe_unused]] const HostBuild buildAtLoad = GetHostBuild();

class AimingPlugin {
public:
    AimingPlugin() {
        const codepatch::patch_address site(RebaseHostAddress(host::kAimPointCallSite));
        saved_.capture(site, codepatch::kRelativeBranchSize, codepatch::protection::lift);
        codepatch::redirect_call(site, AddressOf(reinterpret_cast<const void*>(&AimPointHook)));
        LoadAimSettings();
        RegisterFrameInput();
    }
    // Unloading while the host goes on: the host's own call goes back, so the
    // host never jumps into the freed module.
    ~AimingPlugin() { saved_.revert(); }

private:
    codepatch::scoped_call saved_;  // the host's own call at 0x527A95
};

AimingPlugin aimingPlugin;

}  // namespace
