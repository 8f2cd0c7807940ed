// One redirected call instruction (E8 rel32) and the 5 bytes it replaced.
//
// Where the site holds E8 already, only its displacement is written, in one
// locked compare-and-exchange (branch.h), where the displacement lies inside
// one cache line, as at both of the host's sites.
//
// It puts those bytes back only while the site still calls where it was
// redirected to: when something else (another plugin) has rewritten the site
// since, the site holds that code's bytes, and they stay. The destructor
// reverts the same way, so no patch ever writes bytes back unchecked.
#pragma once

#include <cstdint>

#include "codepatch/branch.h"
#include "codepatch/patch_address.h"

namespace codepatch {

class call_patch {
public:
    enum class revert_result {
        not_redirected,  // nothing to put back
        restored,        // the saved bytes are back
        displaced,       // the site no longer called the destination: left as it was
    };

    call_patch() = default;
    call_patch(call_patch&& other) noexcept;
    call_patch& operator=(call_patch&& other) noexcept;
    call_patch(const call_patch&) = delete;
    call_patch& operator=(const call_patch&) = delete;
    ~call_patch() { revert(); }

    // Saves the 5 bytes at `site` and makes it call `destination`, whatever
    // it held; an earlier redirection of this patch is reverted first.
    // Returns where the site branched before (branch_target), 0 for no branch.
    std::uint32_t redirect(patch_address site, std::uint32_t destination);

    // Where a call through `site` goes on once this patch has taken it: the
    // call's own destination `found` (as a check read it just before).
    std::uint32_t continuation(patch_address site, std::uint32_t found) const;

    // Makes the E8 call at `site` call `destination`, provided it still calls
    // `expected` as a check found it just before; false, with nothing
    // written or saved, when another writer has changed it in between.
    bool redirect_from(patch_address site, std::uint32_t expected, std::uint32_t destination);

    // Puts the saved bytes back if the site still calls the destination, and
    // forgets them either way.
    revert_result revert();

    bool redirected() const { return redirected_; }
    patch_address site() const { return site_; }
    std::uint32_t destination() const { return destination_; }

private:
    patch_address site_;
    std::uint32_t destination_ = 0;
    std::uint8_t saved_[relative_branch_size] = {};
    bool redirected_ = false;
};

}  // namespace codepatch
