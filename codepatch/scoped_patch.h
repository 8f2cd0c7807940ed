// Restorable patches: objects that remember the host bytes a patch is about to
// overwrite and write them back on revert() or destruction.
#pragma once

#include <cstdint>

#include "codepatch/memory.h"
#include "codepatch/patch_address.h"

namespace codepatch {

// Root of the restorable patches.
class scoped_base {
public:
    virtual ~scoped_base() = default;
    virtual void revert() = 0;

protected:
    scoped_base() = default;
    scoped_base(const scoped_base&) = default;
    scoped_base& operator=(const scoped_base&) = default;
};

// Remembers up to `bufsize` bytes of host memory.
// Empty (is_saved false) --capture--> Saved --revert/destruction--> Empty.
template <std::uint32_t bufsize>
class scoped_basic : public scoped_base {
public:
    scoped_basic() = default;
    ~scoped_basic() override { scoped_basic::revert(); }  // this class's own revert

    scoped_basic(const scoped_basic&) = delete;
    scoped_basic& operator=(const scoped_basic&) = delete;

    // Writes the saved bytes back (if any) and forgets them.
    void revert() override {
        if (!is_saved_) return;
        protected_write(address_, saved_bytes_, size_, mode_);
        is_saved_ = false;
    }

    // Saves `count` bytes at `at`; whatever was saved before goes back first,
    // through the virtual revert so that a subclass's revert runs.
    virtual void capture(patch_address at, std::uint32_t count, protection access) {
        if (!(count <= bufsize)) contract_violation("size <= bufsize");
        revert();
        is_saved_ = true;
        address_ = at;
        size_ = count;
        mode_ = access;
        protected_read(address_, saved_bytes_, size_, mode_);
    }

    bool is_saved() const { return is_saved_; }
    patch_address address() const { return address_; }
    std::uint32_t size() const { return size_; }
    const std::uint8_t* saved_bytes() const { return saved_bytes_; }
    static constexpr std::uint32_t capacity = bufsize;

private:
    std::uint8_t saved_bytes_[bufsize] = {};
    patch_address address_;
    std::uint32_t size_ = 0;
    bool is_saved_ = false;
    protection mode_ = protection::keep;  // how the bytes are written back
};

// The 5 bytes of one relative call instruction (E8 rel32).
class scoped_call : public scoped_basic<5> {};
static_assert(scoped_call::capacity == 5, "a relative call is E8 and a 32-bit displacement");

}  // namespace codepatch
