// The per-frame event: callbacks that run around the host's call at 0x53E981,
// `before` the host function called there and `after` it has returned.
//
// The first registration decides whether the call site is hooked: on the
// builds that have the frame call (host::HasFrameCall) it is, as long as the
// site holds a 5-byte relative call (E8 rel32); a jump or an indirect call
// that another plugin put there is left alone. Wherever the site is not
// hooked, callbacks are kept and never run.
//
// The site is routed through a call gate (call_gate.h): the gate calls the
// host function itself and runs the lists as its handlers, each under a
// caller_state_guard, so that the host function never returns into this
// module and a frame in the host function at unload is not waited for.
#pragma once

#include <cstdint>
#include <functional>
#include <list>

#include "codepatch/gated_call.h"
#include "host/HostBuild.h"
#include "host/RunningGame.h"

using FrameCallSite = HostCallSite<host::kFrameCallSite>;

class FrameEvent {
public:
    using Callback = std::function<void()>;
    using CallbackList = std::list<Callback>;

    // Which list a callback goes to: run before the host function, or after it.
    enum class Phase { Before, After };

    // Hooks the frame call through a gate of `gates`, which outlives the event.
    explicit FrameEvent(codepatch::gate_registry& gates) : gates_(gates) {}
    FrameEvent(const FrameEvent&) = delete;
    FrameEvent& operator=(const FrameEvent&) = delete;

    // Appends a copy of `callback` to the `phase` list. A plain function
    // pointer already in that list is not added again.
    void AddCallback(Phase phase, const Callback& callback);

    // Takes the hook off the call site (at unload, before the statics go):
    // the lists stop running, and the site goes back while it still calls
    // the gate. The lists themselves stay until the event goes, for a frame
    // that is running them on another thread (drain_call_gates, in
    // codepatch/gate_drain.h, waits for it).
    codepatch::gated_call::revert_result RemoveHook();

    enum class HookState {
        Undecided,     // no registration yet
        NoFrameCall,   // this build reaches its frame function another way
        SiteNotACall,  // the site held something other than E8 rel32
        SiteChanged,   // another writer changed the site between the check and the write
        NoGate,        // no memory for the call gate
        Installed,
        Removed,
    };
    HookState State() const { return hookState_; }
    const CallbackList& Callbacks(Phase phase) const { return phase == Phase::Before ? before_ : after_; }
    // What the site held when the hook took it.
    codepatch::gated_call::route Route() const { return site_.how(); }

private:
    static std::uint32_t __cdecl RunBefore(void* event, std::uint32_t* arguments, void* scratch);
    static std::uint32_t __cdecl RunAfter(void* event, std::uint32_t* arguments, void* scratch);
    codepatch::gated_call::handlers Handlers();

    codepatch::gate_registry& gates_;
    HookState hookState_ = HookState::Undecided;
    CallbackList before_;
    CallbackList after_;
    codepatch::gated_call site_;
};
