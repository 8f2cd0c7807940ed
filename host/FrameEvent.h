// The per-frame event: callbacks that run around the host's call at 0x53E981,
// `before` the host function called there and `after` it has returned.
//
// The first registration decides whether the call site is hooked: on the
// builds that have the frame call (host::HasFrameCall) it is; on the others
// callbacks are kept and never run.
#pragma once

#include <cstdint>
#include <functional>
#include <list>

#include "codepatch/hooking/function_hooker.h"
#include "host/HostBuild.h"

using FrameCallSite = HostCallSite<host::kFrameCallSite>;
using FrameHooker = codepatch::function_hooker<codepatch::scoped_call, FrameCallSite, std::uint32_t()>;

class FrameEvent {
public:
    using Callback = std::function<void()>;
    using CallbackList = std::list<Callback>;
    using Continuation = std::function<std::uint32_t()>;

    // Appends a copy of `callback` to `list` (before or after of this event).
    // A plain function pointer already in that list is not added again.
    void AddCallback(CallbackList& list, const Callback& callback);

    // Runs `before`, the continuation, `after`; returns the continuation's result.
    std::uint32_t Raise(const Continuation& continuation);

    // True once the first registration has decided whether to hook the site
    // (whether or not this build has the frame call).
    bool hookDecided = false;
    CallbackList before;
    CallbackList after;
};

// The process's frame event, created on first use.
FrameEvent& GetFrameEvent();
