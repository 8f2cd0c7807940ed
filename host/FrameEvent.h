// The per-frame event: callbacks that run around the host's call at 0x53E981,
// `before` the host function called there and `after` it has returned.
//
// The first registration decides whether the call site is hooked: on the
// builds that have the frame call (host::HasFrameCall) it is, as long as the
// site holds a 5-byte relative call (E8 rel32); a jump or an indirect call
// that another plugin put there is left alone. Wherever the site is not
// hooked, callbacks are kept and never run.
#pragma once

#include <cstdint>
#include <functional>
#include <list>

#include "codepatch/gated_call.h"
#include "codepatch/hooking/function_hooker.h"
#include "host/HostBuild.h"

using FrameCallSite = HostCallSite<host::kFrameCallSite>;
// Routed through a call gate: a plugin that hooks the frame call after this
// module and calls on to what it found keeps working once it is unloaded.
using FrameHooker = codepatch::function_hooker<codepatch::gated_call, FrameCallSite, std::uint32_t()>;

class FrameEvent {
public:
    using Callback = std::function<void()>;
    using CallbackList = std::list<Callback>;
    using Continuation = std::function<std::uint32_t()>;

    // Which list a callback goes to: run before the host function, or after it.
    enum class Phase { Before, After };

    // Appends a copy of `callback` to the `phase` list. A plain function
    // pointer already in that list is not added again.
    void AddCallback(Phase phase, const Callback& callback);

    // Runs `before`, the continuation, `after`; returns the continuation's result.
    std::uint32_t Raise(const Continuation& continuation);

    // Takes the hook off the call site (at unload, before the statics go).
    // Returns false when the site no longer called the hook, so its bytes
    // were left as something else had written them.
    bool RemoveHook();

    enum class HookState {
        Undecided,     // no registration yet
        NoFrameCall,   // this build reaches its frame function another way
        SiteNotACall,  // the site held something other than E8 rel32
        SiteChanged,   // another writer changed the site between the check and the write
        Installed,
        Removed,
    };
    HookState State() const { return hookState_; }
    const CallbackList& Callbacks(Phase phase) const { return phase == Phase::Before ? before_ : after_; }
    // How the installed hook took the site (gated_call::route).
    codepatch::gated_call::route Route() const;
    // Frames inside the hook now, the host function included.
    std::uint32_t CallsInFlight() const;

private:
    HookState hookState_ = HookState::Undecided;
    CallbackList before_;
    CallbackList after_;
    FrameHooker* hook_ = nullptr;  // the retained hook, while installed
};

// The process's frame event, created on first use.
FrameEvent& GetFrameEvent();
