#include "codepatch/call_patch.h"

#include <cstring>
#include <utility>

#include "codepatch/memory.h"

namespace codepatch {

call_patch::call_patch(call_patch&& other) noexcept
    : site_(other.site_), destination_(other.destination_), redirected_(std::exchange(other.redirected_, false)) {
    std::memcpy(saved_, other.saved_, sizeof saved_);
}

call_patch& call_patch::operator=(call_patch&& other) noexcept {
    if (this != &other) {
        revert();
        site_ = other.site_;
        destination_ = other.destination_;
        std::memcpy(saved_, other.saved_, sizeof saved_);
        redirected_ = std::exchange(other.redirected_, false);
    }
    return *this;
}

std::uint32_t call_patch::redirect(patch_address site, std::uint32_t destination) {
    revert();
    protected_read(site, saved_, relative_branch_size, protection::lift);
    site_ = site;
    destination_ = destination;
    redirected_ = true;
    return redirect_call(site, destination);
}

std::uint32_t call_patch::continuation(patch_address, std::uint32_t found) const {
    return found;
}

bool call_patch::redirect_from(patch_address site, std::uint32_t expected, std::uint32_t destination) {
    revert();
    const std::uint32_t expected_displacement = relative_displacement(site.value, expected);
    std::uint8_t saved[relative_branch_size] = {op_call_rel32};
    std::memcpy(saved + 1, &expected_displacement, 4);
    if (retarget_call(site, expected, destination) != retarget_result::atomic) return false;
    std::memcpy(saved_, saved, sizeof saved_);
    site_ = site;
    destination_ = destination;
    redirected_ = true;
    return true;
}

call_patch::revert_result call_patch::revert() {
    if (!redirected_) return revert_result::not_redirected;
    redirected_ = false;
    if (saved_[0] == op_call_rel32) {
        // The displacement alone goes back, and only if it is still ours.
        std::uint32_t saved_displacement;
        std::memcpy(&saved_displacement, saved_ + 1, 4);
        const std::uint32_t saved_target = site_.value + relative_branch_size + saved_displacement;
        return retarget_call(site_, destination_, saved_target) == retarget_result::atomic ? revert_result::restored
                                                                                           : revert_result::displaced;
    }
    if (!is_call_to(site_, destination_)) return revert_result::displaced;
    protected_write(site_, saved_, relative_branch_size, protection::lift);
    flush_instructions(site_, relative_branch_size);
    return revert_result::restored;
}

}  // namespace codepatch
