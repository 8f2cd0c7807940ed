// Several hooks on one call site.
//
// The site is a 5-byte relative call (E8 rel32) to a function with no
// arguments. The first hook saves the site's bytes and redirects the call to
// the manager's call_site_entry (through a `Patch`, a call_patch); the entry
// runs the hooks stacked on the site, each receiving a continuation that leads
// to the hook added before it and, after the first, to the function the site
// called before. When the last hook goes, or the manager itself, the saved
// bytes go back, but only while the site still calls the manager.
//
// The site is a type, so that each site has a manager of its own:
//
//   struct my_site { static patch_address address(); };  // already rebased
//
// One manager per site type (shared_instance); one function_hooker per
// installed hook, keyed in the manager by its own address. Copying a hook
// object moves its entry to the copy (and to the end of the list).
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

template <class Patch, class HookBase, typename Result>
class function_hooker_manager {
public:
    using continuation_type = std::function<Result()>;
    using hook_type = std::function<Result(continuation_type)>;
    using target_type = Result (*)();

    struct entry {
        HookBase* owner;
        hook_type hook;
    };

    // A new shared reference to the site's manager, created on first use.
    static std::shared_ptr<function_hooker_manager> shared_instance() { return instance(); }

    // Adds or replaces owner's entry and, if the site is not redirected yet,
    // redirects it to `entry_point`. False when the site was to be redirected
    // and another writer changed it between the check and the write: it is
    // left as that writer left it.
    bool attach(HookBase* owner, hook_type hook, target_type entry_point) {
        put_entry(owner, std::move(hook));
        if (redirected) return true;
        // Everything a call through the site needs is in place before the
        // site is written: a thread that makes the call the moment it is
        // written finds the hook and the function to go on to.
        const patch_address site = HookBase::site_type::address();
        const std::uint32_t found = branch_target(site);
        previous_target = reinterpret_cast<target_type>(static_cast<std::uintptr_t>(patch_.continuation(site, found)));
        displaced = false;
        redirected = patch_.redirect_from(site, found, address_of(entry_point));
        return redirected;
    }

    // Replaces owner's hook in place, or appends a new entry at the end.
    void put_entry(HookBase* owner, hook_type hook) {
        for (entry& e : entries)
            if (e.owner == owner) {
                e.hook = std::move(hook);
                return;
            }
        entries.push_back(entry{owner, std::move(hook)});
    }

    // Moves old_owner's entry to new_owner, at the end of the list. The entry
    // itself moves (a splice): nothing is allocated, so this cannot fail
    // half-way and lose the entry, and its hook is never moved from under a
    // call that is running it.
    void rekey_entry(HookBase* old_owner, HookBase* new_owner) noexcept {
        for (auto it = entries.begin(); it != entries.end(); ++it)
            if (it->owner == old_owner) {
                it->owner = new_owner;
                entries.splice(entries.end(), entries, it);
                return;
            }
    }

    // Drops every entry and writes the saved bytes back to the site, but only
    // while the site still calls this manager: when something else has
    // rewritten it since, its bytes are that code's, and they stay
    // (`displaced` tells).
    void revert() {
        if (!redirected) return;
        redirected = false;
        entries.clear();
        displaced = patch_.revert() == Patch::revert_result::displaced;
    }

    // Entered by the site's call instruction in place of the function it
    // called. The last hook added runs first; each continuation holds only
    // the manager and a list position, small enough for std::function's own
    // buffer, so a pass allocates nothing however many hooks are stacked.
    // No exception leaves it: there are only the host's frames above.
    static Result call_site_entry() noexcept {
        function_hooker_manager* m = instance().get();
        return call_below(m, m->entries.end());
    }

    // Drops the entries; the patch then puts the site back, checked as in revert.
    ~function_hooker_manager() { entries.clear(); }

    target_type previous_target = nullptr;
    std::list<entry> entries;
    bool redirected = false;
    bool displaced = false;  // the last revert found the site rewritten and left it

    const Patch& patch() const { return patch_; }

private:
    Patch patch_;  // the site's call, redirected to call_site_entry

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
        if (end == m->entries.begin()) return call_previous(m);
        const position at = std::prev(end);
        return at->hook([m, at]() -> Result { return call_below(m, at); });
    }

    // A site that held no branch when it was redirected has no function to
    // continue to: the call then yields 0 instead of jumping to address 0.
    static Result call_previous(function_hooker_manager* m) {
        if (!m->previous_target) return Result();
        return m->previous_target();
    }
};

// One installed hook on the call site `Site`.
template <class Patch, class Site, typename FunctionPointer, typename Result>
class function_hooker_base : public scoped_base {
public:
    using manager_type = function_hooker_manager<Patch, function_hooker_base, Result>;
    using hook_type = typename manager_type::hook_type;
    using continuation_type = typename manager_type::continuation_type;
    using site_type = Site;

    function_hooker_base() : shared_manager(manager_type::shared_instance()) {}
    function_hooker_base(const function_hooker_base& source)
        : scoped_base(source), shared_manager(source.shared_manager) {}
    function_hooker_base& operator=(const function_hooker_base&) = delete;
    ~function_hooker_base() override { remove_entry(); }

    // Removes this object's hook; the last one out puts the site's bytes back.
    void revert() override { remove_entry(); }
    virtual void install(hook_type hook) = 0;

    std::shared_ptr<manager_type> shared_manager;

private:
    void remove_entry() {
        manager_type& m = *shared_manager;
        for (auto it = m.entries.begin(); it != m.entries.end(); ++it)
            if (it->owner == this) {
                m.entries.erase(it);
                if (m.entries.empty()) m.revert();
                return;
            }
    }
};

template <class Patch, class Site, typename Function>
class function_hooker;

template <class Patch, class Site, typename Result>
class function_hooker<Patch, Site, Result()> : public function_hooker_base<Patch, Site, Result (*)(), Result> {
    using base = function_hooker_base<Patch, Site, Result (*)(), Result>;

public:
    using typename base::continuation_type;
    using typename base::hook_type;
    using typename base::manager_type;

    function_hooker() = default;
    // The copy takes over the source's entry; destroying the source then
    // removes nothing.
    function_hooker(const function_hooker& source) : base(source) {
        this->shared_manager->rekey_entry(const_cast<function_hooker*>(&source), this);
    }

    void install(hook_type hook) override {
        this->shared_manager->attach(this, std::move(hook), &manager_type::call_site_entry);
    }
};

// Keeps a copy of `hook` alive until the module unloads. The list is created
// on first use, so it is destroyed before the manager and anything created
// earlier: its hooks put the site's bytes back first.
// Returns the retained copy, which owns the hook from then on.
template <class Hooker>
Hooker& retain_hook(const Hooker& hook) {
    static std::list<Hooker> retained_hooks;
    retained_hooks.push_back(hook);
    return retained_hooks.back();
}

}  // namespace codepatch
