#include "host/FrameEvent.h"

#include "codepatch/caller_state.h"
#include "codepatch/memory.h"

namespace {

using PlainCallback = void (*)();

bool HoldsSamePointer(const FrameEvent::CallbackList& list, PlainCallback function) {
    for (const FrameEvent::Callback& entry : list) {
        const PlainCallback* held = entry.target<PlainCallback>();
        if (held && *held == function) return true;
    }
    return false;
}

// Each callback runs as a copy: one that removes its own entry while it runs
// would otherwise destroy the very object that is executing.
void RunEach(const FrameEvent::CallbackList& list) {
    const codepatch::caller_state_guard callerState;
    for (const FrameEvent::Callback& callback : list) {
        FrameEvent::Callback copy = callback;
        copy();
    }
}

}  // namespace

codepatch::gated_call::handlers FrameEvent::Handlers() {
    codepatch::gated_call::handlers handlers;
    // An empty list costs a frame nothing: the gate skips a handler it has not got.
    if (!before_.empty()) handlers.before = &RunBefore;
    if (!after_.empty()) handlers.after = &RunAfter;
    handlers.context = this;
    return handlers;
}

void FrameEvent::AddCallback(Phase phase, const Callback& callback) {
    CallbackList& list = phase == Phase::Before ? before_ : after_;
    if (const PlainCallback* function = callback.target<PlainCallback>())
        if (HoldsSamePointer(list, *function)) return;
    // The callback first and the call site last: a frame on another thread
    // that comes the moment the site is written finds the lists complete.
    list.push_back(callback);
    if (hookState_ == HookState::Installed) {
        site_.set_handlers(Handlers());
        return;
    }
    if (hookState_ != HookState::Undecided) return;
    const host::FrameSiteCheck check = CheckRunningFrameSite(gates_);
    if (check.holds == host::FrameSiteHolds::NoFrameCall) {
        hookState_ = HookState::NoFrameCall;
    } else if (!check.Hookable()) {
        hookState_ = HookState::SiteNotACall;
    } else {
        // A call into the game's own image is the game's frame function.
        const codepatch::patch_address site(check.site);
        const bool gameFunction = check.holds == host::FrameSiteHolds::GameCall;
        switch (site_.take(gates_, site, check.destination, gameFunction, codepatch::gate_shape{}, Handlers())) {
            case codepatch::gated_call::take_result::taken:
                hookState_ = HookState::Installed;
                break;
            case codepatch::gated_call::take_result::site_changed:
                hookState_ = HookState::SiteChanged;
                break;
            case codepatch::gated_call::take_result::no_gate:
                hookState_ = HookState::NoGate;
                break;
        }
    }
}

std::uint32_t __cdecl FrameEvent::RunBefore(void* event, std::uint32_t*, void*) {
    RunEach(static_cast<FrameEvent*>(event)->before_);
    return 0;
}

std::uint32_t __cdecl FrameEvent::RunAfter(void* event, std::uint32_t*, void*) {
    RunEach(static_cast<FrameEvent*>(event)->after_);
    return 0;
}

codepatch::gated_call::revert_result FrameEvent::RemoveHook() {
    if (hookState_ != HookState::Installed) return codepatch::gated_call::revert_result::not_redirected;
    hookState_ = HookState::Removed;
    return site_.release();
}
