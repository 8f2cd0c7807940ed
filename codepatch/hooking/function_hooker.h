// Several hooks on one call site.
//
// The site is a 5-byte relative call (E8 rel32) to a function with no
// arguments. The first hook redirects the call to the manager's
// call_site_entry (through a call_patch, which keeps the site's bytes); the
// entry runs the hooks stacked on the site, each receiving a continuation
// that leads to the hook added before it and, after the first, to the
// function the site called before. When the last hook goes, or the manager
// itself, the saved bytes go back, but only while the site still calls the
// manager.
//
// The site is a type, so that each site has a manager of its own:
//
//   struct my_site { static patch_address address(); };  // already rebased
//
// One manager per site type (shared_instance); one function_hooker per
// installed hook, keyed in the manager by its own address. A hook object
// moves, and its entry moves with it (to the end of the list); it is never
// copied.
#pragma once

#include <cstdint>
#include <functional>
#include <iterator>
#include <list>
#include <memory>
#include <utility>

#include "codepatch/branch.h"
#include "codepatch/call_patch.h"
#include "codepatch/scoped_patch.h"

namespace codepatch {

template <class Site, typename Result>
class function_hooker_manager {
public:
    using continuation_type = std::function<Result()>;
    using hook_type = std::function<Result(continuation_type)>;
    using target_type = Result (*)();
    using owner_type = const void*;  // the hook object an entry belongs to

    struct entry {
        owner_type owner;
        hook_type hook;
    };

    function_hooker_manager() = default;
    function_hooker_manager(const function_hooker_manager&) = delete;
    function_hooker_manager& operator=(const function_hooker_manager&) = delete;
    // Drops the entries; the patch then puts the site back, checked as in revert.
    ~function_hooker_manager() { entries_.clear(); }

    // A new shared reference to the site's manager, created on first use.
    static std::shared_ptr<function_hooker_manager> shared_instance() { return instance(); }

    // Adds or replaces owner's entry and, if the site is not redirected yet,
    // redirects it to `entry_point`. False when the site was to be redirected
    // and another writer changed it between the check and the write (or it
    // held no call): it is left as it was.
    bool attach(owner_type owner, hook_type hook, target_type entry_point) {
        put_entry(owner, std::move(hook));
        if (redirected_) return true;
        // Everything a call through the site needs is in place before the
        // site is written: a thread that makes the call the moment it is
        // written finds the hook and the function to go on to.
        const patch_address site = Site::address();
        const std::uint32_t found = branch_target(site);
        previous_target_ = reinterpret_cast<target_type>(static_cast<std::uintptr_t>(patch_.continuation(site, found)));
        displaced_ = false;
        redirected_ = patch_.redirect_from(site, found, address_of(entry_point));
        return redirected_;
    }

    // Replaces owner's hook in place, or appends a new entry at the end.
    void put_entry(owner_type owner, hook_type hook) {
        for (entry& e : entries_)
            if (e.owner == owner) {
                e.hook = std::move(hook);
                return;
            }
        entries_.push_back(entry{owner, std::move(hook)});
    }

    // Moves old_owner's entry to new_owner, at the end of the list. The entry
    // itself moves (a splice): nothing is allocated, so this cannot fail
    // half-way and lose the entry, and its hook is never moved from under a
    // call that is running it.
    void rekey_entry(owner_type old_owner, owner_type new_owner) noexcept {
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (it->owner == old_owner) {
                it->owner = new_owner;
                entries_.splice(entries_.end(), entries_, it);
                return;
            }
    }

    // Removes owner's entry; the last one out puts the site's bytes back.
    void remove_entry(owner_type owner) {
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (it->owner == owner) {
                entries_.erase(it);
                if (entries_.empty()) revert();
                return;
            }
    }

    // Drops every entry and writes the saved bytes back to the site, but only
    // while the site still calls this manager: when something else has
    // rewritten it since, its bytes are that code's, and they stay
    // (`displaced` tells).
    void revert() {
        if (!redirected_) return;
        redirected_ = false;
        entries_.clear();
        displaced_ = patch_.revert() == call_patch::revert_result::displaced;
    }

    // Entered by the site's call instruction in place of the function it
    // called. The last hook added runs first; each continuation holds only
    // the manager and a list position, small enough for std::function's own
    // buffer, so a pass allocates nothing however many hooks are stacked.
    // No exception leaves it: there are only the host's frames above.
    static Result call_site_entry() noexcept {
        function_hooker_manager* m = instance().get();
        return call_below(m, m->entries_.end());
    }

    target_type previous_target() const { return previous_target_; }
    const std::list<entry>& entries() const { return entries_; }
    bool redirected() const { return redirected_; }
    bool displaced() const { return displaced_; }  // the last revert found the site rewritten and left it

private:
    call_patch patch_;  // the site's call, redirected to call_site_entry
    target_type previous_target_ = nullptr;
    std::list<entry> entries_;
    bool redirected_ = false;
    bool displaced_ = false;

    static std::uint32_t address_of(target_type function) {
        return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(function));
    }

    static const std::shared_ptr<function_hooker_manager>& instance() {
        static const std::shared_ptr<function_hooker_manager> manager(new function_hooker_manager());
        return manager;
    }

    // A plain list iterator: trivially copyable, so a continuation holding it
    // and the manager stays inside std::function's buffer (a reverse_iterator
    // would not).
    using position = typename std::list<entry>::iterator;

    // Runs the hook just before `end`, whose continuation runs the one added
    // before it; below the first hook, the function the site called before.
    static Result call_below(function_hooker_manager* m, position end) {
        if (end == m->entries_.begin()) return call_previous(m);
        const position at = std::prev(end);
        return at->hook([m, at]() -> Result { return call_below(m, at); });
    }

    // A site that held no branch when it was redirected has no function to
    // continue to: the call then yields 0 instead of jumping to address 0.
    static Result call_previous(function_hooker_manager* m) {
        if (!m->previous_target_) return Result();
        return m->previous_target_();
    }
};

// One installed hook on the call site `Site`.
template <class Site, typename Result>
class function_hooker_base : public scoped_base {
public:
    using manager_type = function_hooker_manager<Site, Result>;
    using hook_type = typename manager_type::hook_type;
    using continuation_type = typename manager_type::continuation_type;

    function_hooker_base() : manager_(manager_type::shared_instance()) {}
    // The new object takes over the source's entry; destroying the source
    // then removes nothing.
    function_hooker_base(function_hooker_base&& source) noexcept : manager_(source.manager_) {
        manager_->rekey_entry(&source, this);
    }
    function_hooker_base(const function_hooker_base&) = delete;
    function_hooker_base& operator=(const function_hooker_base&) = delete;
    ~function_hooker_base() override { manager_->remove_entry(this); }

    // Removes this object's hook; the last one out puts the site's bytes back.
    void revert() override { manager_->remove_entry(this); }
    // Adds this object's hook (or replaces it). False when the site had to be
    // redirected and could not be: the hook is kept and never runs.
    virtual bool install(hook_type hook) = 0;

    manager_type& manager() const { return *manager_; }

private:
    std::shared_ptr<manager_type> manager_;
};

template <class Site, typename Function>
class function_hooker;

template <class Site, typename Result>
class function_hooker<Site, Result()> : public function_hooker_base<Site, Result> {
    using base = function_hooker_base<Site, Result>;

public:
    using typename base::continuation_type;
    using typename base::hook_type;
    using typename base::manager_type;

    function_hooker() = default;
    function_hooker(function_hooker&&) noexcept = default;

    bool install(hook_type hook) override {
        return this->manager().attach(this, std::move(hook), &manager_type::call_site_entry);
    }
};

}  // namespace codepatch
