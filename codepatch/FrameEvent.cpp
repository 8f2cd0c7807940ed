#include "codepatch/FrameEvent.h"

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
    hooker.install([&event](FrameEvent::Continuation next) { return event.Raise(std::move(next)); });
    codepatch::retain_hook(hooker);
}

}  // namespace

void FrameEvent::AddCallback(CallbackList& list, const Callback& callback) {
    if (const PlainCallback* function = callback.target<PlainCallback>())
        if (HoldsSamePointer(list, *function)) return;
    if (!hookInstalled) {
        hookInstalled = true;
        const HostBuild build = GetHostBuild();
        if (build == host::kFrameHookBuildA) InstallFrameHook(*this);
        if (build == host::kFrameHookBuildB) InstallFrameHook(*this);
    }
    list.push_back(callback);
}

std::uint32_t FrameEvent::Raise(Continuation continuation) {
    for (const Callback& callback : before) {
        Callback copy = callback;
        copy();
    }
    const std::uint32_t result = continuation();
    for (const Callback& callback : after) {
        Callback copy = callback;
        copy();
    }
    return result;
}

FrameEvent& GetFrameEvent() {
    static FrameEvent event;
    return event;
}
