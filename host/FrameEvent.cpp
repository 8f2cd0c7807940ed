#include "host/FrameEvent.h"

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
    for (const FrameEvent::Callback& callback : list) {
        FrameEvent::Callback copy = callback;
        copy();
    }
}

}  // namespace

void FrameEvent::AddCallback(Phase phase, const Callback& callback) {
    CallbackList& list = phase == Phase::Before ? before_ : after_;
    if (const PlainCallback* function = callback.target<PlainCallback>())
        if (HoldsSamePointer(list, *function)) return;
    // The callback first and the call site last: a frame on another thread
    // that comes the moment the site is written finds the lists complete.
    list.push_back(callback);
    if (hookState_ != HookState::Undecided) return;
    if (!host::HasFrameCall(GetHostBuild())) {
        hookState_ = HookState::NoFrameCall;
    } else if (codepatch::peek_u8(FrameCallSite::address()) != codepatch::op_call_rel32) {
        // A jump would become a call (the stack one word off on return),
        // and a 6-byte indirect call would leave its last byte to run as
        // an instruction of its own.
        hookState_ = HookState::SiteNotACall;
    } else {
        // The hook is kept where it will stay before it is installed, so
        // that nothing of it moves once the site calls it.
        FrameHooker& hook = codepatch::retain_hook(FrameHooker());
        hook.install([this](Continuation next) { return Raise(next); });
        hook_ = &hook;
        hookState_ = hook.shared_manager->redirected ? HookState::Installed : HookState::SiteChanged;
    }
}

std::uint32_t FrameEvent::Raise(const Continuation& continuation) {
    RunEach(before_);
    const std::uint32_t result = continuation();
    RunEach(after_);
    return result;
}

bool FrameEvent::RemoveHook() {
    if (hookState_ != HookState::Installed) return true;
    hookState_ = HookState::Removed;
    // The hook's entry stays until the retained hook goes: a frame on another
    // thread may be running it right now.
    hook_->shared_manager->release_site();
    return !hook_->shared_manager->displaced;
}

codepatch::gated_call::route FrameEvent::Route() const {
    return hook_ ? hook_->shared_manager->patch().taken() : codepatch::gated_call::route::site;
}

std::uint32_t FrameEvent::CallsInFlight() const {
    return hook_ ? codepatch::calls_in_flight(hook_->shared_manager->in_flight) : 0;
}

FrameEvent& GetFrameEvent() {
    static FrameEvent event;
    return event;
}
