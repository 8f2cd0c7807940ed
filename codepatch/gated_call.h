// A call site routed through this module's call gate (call_gate.h).
//
// Taking the site points the gate at what the site called and sets its
// handlers, then, last, makes the site call the gate (its displacement
// alone, in one locked instruction, compared with what a check found just
// before). Handing it back clears the handlers first and then, while the
// site still calls the gate, points the site back at what the gate calls
// on; a site that another plugin has rewritten since keeps that plugin's
// bytes, and the gate, handlers cleared, goes on calling straight through
// for whatever still calls it.
//
// The site is judged by what it holds when it is taken:
//   - a call of the game's own function: the site is taken, whatever an
//     earlier load recorded;
//   - a call of the gate (a plugin that hooked it after an earlier load put
//     the gate back when it left): the gate is taken alone;
//   - a call of the very hook that held the site when the gate was last
//     handed back (that hook may call on through the gate): the gate alone;
//   - any other call: the site is taken, and the gate leads on to exactly
//     what the site called.
#pragma once

#include <cstdint>

#include "codepatch/branch.h"
#include "codepatch/call_gate.h"
#include "codepatch/call_patch.h"
#include "codepatch/gate_registry.h"

namespace codepatch {

class gated_call {
public:
    using revert_result = call_patch::revert_result;

    // What runs around the call.
    struct handlers {
        gate_handler before = nullptr;
        gate_handler after = nullptr;
        void* context = nullptr;
        gate_prelude prelude;  // jump-on gates
    };

    // What the site held, as it was taken.
    enum class route {
        site_to_gate,            // a call, now of the gate, which calls on to it
        gate_from_earlier_load,  // already a call of the gate
        gate_behind_other_hook,  // the hook that displaced the gate last time, which calls on through it
    };

    enum class take_result {
        taken,
        site_changed,  // another writer changed the site between the check and the write: left alone
        no_gate,       // no memory for the gate: the site is left alone
    };

    gated_call() = default;
    gated_call(const gated_call&) = delete;
    gated_call& operator=(const gated_call&) = delete;
    ~gated_call() { release(); }

    // Routes the E8 call at `site`, which calls `found` (a function of
    // `shape`) as a check read it just before, through its gate in `gates`
    // with `with`'s handlers. `game_function`: the caller knows `found` for the
    // game's own function.
    take_result take(gate_registry& gates, patch_address site, std::uint32_t found, bool game_function,
                     gate_shape shape, const handlers& with);

    // Replaces the handlers of a site taken (one store each).
    void set_handlers(const handlers& with);

    // Clears the handlers and puts the site back while it still calls the
    // gate (`displaced` otherwise). What a handler still runs on another
    // thread is drain_call_gates' (gate_drain.h) to wait for.
    revert_result release();

    bool taken() const { return gate_ != nullptr; }
    route how() const { return route_; }
    const call_gate* gate() const { return gate_; }

private:
    call_gate* gate_ = nullptr;
    patch_address site_;
    route route_ = route::site_to_gate;
};

}  // namespace codepatch
