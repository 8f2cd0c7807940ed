// The per-frame event: callbacks that run around the host's call at 0x53E981,
// `before` the host function called there and `after` it has returned.
//
// The hook is installed at the first registration, and only on host builds
// 1001 and 1002; on other builds callbacks are kept and never run.
#pragma once

#include <cstdint>
#include <functional>
#include <list>

#include "codepatch/hooking/function_hooker.h"
#include "host/HostInterface.h"

using FrameHooker = codepatch::function_hooker<codepatch::scoped_call, host::kFrameCallSite, std::uint32_t()>;

class FrameEvent {
public:
    using Callback = std::function<void()>;
    using CallbackList = std::list<Callback>;
    using Continuation = std::function<std::uint32_t()>;

    // Appends a copy of `callback` to `list` (before or after of this event).
    // A plain function pointer already in that list is not added again.
    void AddCallback(CallbackList& list, const Callback& callback);

    // Runs `before`, the continuation, `after`; returns the continuation's result.
    std::uint32_t Raise(Continuation continuation);

    bool hookInstalled = false;
    CallbackList before;
    CallbackList after;
};

// The process's frame event, created on first use.
FrameEvent& GetFrameEvent();
