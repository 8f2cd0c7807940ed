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

call_patch::revert_result call_patch::revert() {
    if (!redirected_) return revert_result::not_redirected;
    redirected_ = false;
    if (!is_call_to(site_, destination_)) return revert_result::displaced;
    protected_write(site_, saved_, relative_branch_size, protection::lift);
    return revert_result::restored;
}

}  // namespace codepatch
