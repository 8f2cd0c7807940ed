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

void InstallFrameHook(FrameEvent& event) {
    FrameHooker hooker;
    hooker.install([&event](FrameEvent::Continuation next) { return event.Raise(next); });
    codepatch::retain_hook(hooker);
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

void FrameEvent::AddCallback(CallbackList& list, const Callback& callback) {
    if (const PlainCallback* function = callback.target<PlainCallback>())
        if (HoldsSamePointer(list, *function)) return;
    if (!hookDecided) {
        hookDecided = true;
        if (host::HasFrameCall(GetHostBuild())) InstallFrameHook(*this);
    }
    list.push_back(callback);
}

std::uint32_t FrameEvent::Raise(const Continuation& continuation) {
    RunEach(before);
    const std::uint32_t result = continuation();
    RunEach(after);
    return result;
}

FrameEvent& GetFrameEvent() {
    static FrameEvent event;
    return event;
}
