// A call site routed through this module's call gate (call_gate.h).
//
// Taking the site points the gate at the hook and then, last, the site's
// call at the gate (its displacement alone, in one locked instruction,
// compared with what a check found just before). Putting it back points the
// gate at what the hook called on and, while the site still calls the gate,
// the site too; a site that another plugin has rewritten since keeps that
// plugin's bytes, and the gate is marked as shared with it.
//
// At the module's next load the gate is found again. A site that calls the
// gate already, or a site whose gate is shared with another plugin's hook
// (which may call on through the gate), is taken at the gate alone: the
// hook goes on where the gate pointed, and the chain stays
// site -> other hook -> gate -> this hook -> game, with no loop.
//
// Where no gate can be had, the site is redirected straight at the hook, as
// a call_patch does it.
#pragma once

#include <cstdint>

#include "codepatch/branch.h"
#include "codepatch/call_gate.h"
#include "codepatch/call_patch.h"

namespace codepatch {

class gated_call {
public:
    using revert_result = call_patch::revert_result;

    // How the site was taken.
    enum class route {
        site,    // the site now calls the gate
        gate,    // the site called the gate already: only the gate was written
        shared,  // another plugin's hook holds the site and calls on through the gate
        direct,  // no gate could be had: the site calls the destination itself
    };

    gated_call() = default;
    gated_call(const gated_call&) = delete;
    gated_call& operator=(const gated_call&) = delete;
    ~gated_call() { revert(); }

    // Where a call through `site` goes on once this patch has taken it,
    // `found` being the site's call destination as a check read it: that
    // destination, or where the gate points when the site is taken at the
    // gate alone.
    std::uint32_t continuation(patch_address site, std::uint32_t found) const;

    // Makes calls through `site` reach `destination`, provided the site still
    // calls `expected` (as checked just before); false, with nothing written,
    // when another writer has changed it in between.
    bool redirect_from(patch_address site, std::uint32_t expected, std::uint32_t destination);

    // Hands the gate back to the continuation, and puts the site back while
    // it still calls the gate (displaced otherwise, or when it was shared).
    revert_result revert();

    bool redirected() const { return redirected_; }
    patch_address site() const { return site_; }
    route taken() const { return route_; }
    const call_gate* gate() const { return gate_; }
    // How the site's displacement was last written (`plain`: it straddles a
    // cache line).
    retarget_result last_write() const { return last_write_; }

private:
    call_gate* gate_ = nullptr;
    patch_address site_;
    std::uint32_t continuation_ = 0;
    route route_ = route::site;
    bool redirected_ = false;
    retarget_result last_write_ = retarget_result::atomic;
    call_patch direct_;  // route::direct only
};

}  // namespace codepatch
