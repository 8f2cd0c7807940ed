#include "codepatch/gated_call.h"

namespace codepatch {

gated_call::take_result gated_call::take(gate_registry& gates, patch_address site, std::uint32_t found,
                                         bool game_function, gate_shape shape, const handlers& with) {
    release();
    call_gate* gate = gates.find(site, found, shape);
    if (!gate) return take_result::no_gate;
    const std::uint32_t entry = gate_address(*gate);
    const auto set_handlers = [&] {
        set_gate_prelude(*gate, with.prelude);
        set_gate_handlers(*gate, with.before, with.after, with.context);
    };
    if (!game_function && (found == entry || (gate->displaced_by != 0 && found == gate->displaced_by))) {
        // The site is left as it is, but must still be what the check saw.
        if (!is_call_to(site, found)) return take_result::site_changed;
        route_ = found == entry ? route::gate_from_earlier_load : route::gate_behind_other_hook;
        set_handlers();
    } else {
        set_gate_target(*gate, found);
        set_handlers();
        if (retarget_call(site, found, entry) != retarget_result::atomic) {
            clear_gate_handlers(*gate);
            return take_result::site_changed;
        }
        set_gate_displaced_by(*gate, 0);
        route_ = route::site_to_gate;
    }
    gate_ = gate;
    site_ = site;
    return take_result::taken;
}

void gated_call::set_handlers(const handlers& with) {
    if (!gate_) return;
    set_gate_prelude(*gate_, with.prelude);
    set_gate_handlers(*gate_, with.before, with.after, with.context);
}

gated_call::revert_result gated_call::release() {
    if (!gate_) return revert_result::not_redirected;
    call_gate& gate = *gate_;
    gate_ = nullptr;
    clear_gate_handlers(gate);
    // Whoever holds the site now: while it calls the gate, it goes back.
    if (retarget_call(site_, gate_address(gate), gate.target) == retarget_result::atomic) {
        set_gate_displaced_by(gate, 0);
        return revert_result::restored;
    }
    set_gate_displaced_by(gate, branch_target(site_));
    return revert_result::displaced;
}

}  // namespace codepatch
