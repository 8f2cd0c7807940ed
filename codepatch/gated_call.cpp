#include "codepatch/gated_call.h"

namespace codepatch {

namespace {

// A site that calls the gate, or whose gate another plugin's hook may call
// on through, is taken at the gate alone; a shared gate's site that calls
// just where the gate goes on has no other hook in between, and is taken
// as usual.
bool taken_at_gate(const call_gate& gate, std::uint32_t found) {
    return found == gate_address(gate) || (gate.shared != 0 && found != gate.target);
}

}  // namespace

std::uint32_t gated_call::continuation(patch_address site, std::uint32_t found) const {
    const call_gate* gate = find_call_gate(site);
    if (gate && taken_at_gate(*gate, found)) return __atomic_load_n(&gate->target, __ATOMIC_SEQ_CST);
    return found;
}

bool gated_call::redirect_from(patch_address site, std::uint32_t expected, std::uint32_t destination) {
    revert();
    call_gate* gate = find_call_gate(site);
    if (!gate) {
        if (!direct_.redirect_from(site, expected, destination)) return false;
        route_ = route::direct;
        last_write_ = direct_.last_write();
    } else if (taken_at_gate(*gate, expected)) {
        // The site is left as it is, but must still be what the check saw.
        if (!is_call_to(site, expected)) return false;
        route_ = expected == gate_address(*gate) ? route::gate : route::shared;
        continuation_ = gate->target;
        set_gate_target(*gate, destination);
    } else {
        continuation_ = expected;
        set_gate_target(*gate, destination);
        last_write_ = retarget_call(site, expected, gate_address(*gate));
        if (last_write_ == retarget_result::changed) {
            set_gate_target(*gate, continuation_);
            return false;
        }
        route_ = route::site;
    }
    gate_ = gate;
    site_ = site;
    redirected_ = true;
    return true;
}

gated_call::revert_result gated_call::revert() {
    if (!redirected_) return revert_result::not_redirected;
    redirected_ = false;
    if (route_ == route::direct) return direct_.revert();
    set_gate_target(*gate_, continuation_);
    // Whoever holds the site now: while it calls the gate, it goes back.
    const bool restored = retarget_call(site_, gate_address(*gate_), continuation_) != retarget_result::changed;
    set_gate_shared(*gate_, !restored);
    return restored ? revert_result::restored : revert_result::displaced;
}

}  // namespace codepatch
