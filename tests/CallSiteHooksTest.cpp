// Hooks stacked on one call site, instantiated in this module: the site is
// the stand-in's frame call at 0x53E981, whose routine makes the real call.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <optional>

#include "codepatch/hooking/function_hooker.h"
#include "host/HostInterface.h"
#include "standin_host/Standin.h"

namespace {

// The stand-in loads at the host's preferred base: the site needs no rebasing.
struct FrameSite {
    static codepatch::patch_address address() { return codepatch::patch_address(host::kFrameCallSite); }
};
using Hooker = codepatch::function_hooker<FrameSite, std::uint32_t()>;
using Continuation = Hooker::continuation_type;

std::vector<std::uint8_t> SiteBytes() {
    return standin::CallSiteBytes(host::kFrameCallSite);
}
std::vector<std::uint8_t> OriginalSiteBytes() {
    return standin::OriginalFrameCallBytes();
}

// A hook that logs its name, continues `calls` times and returns `tag` plus
// what its last continuation returned.
Hooker::hook_type Logging(std::string name, int calls = 1, std::uint32_t tag = 0) {
    return [name, calls, tag](Continuation next) -> std::uint32_t {
        standin::Events().push_back(name);
        std::uint32_t result = 0;
        for (int i = 0; i < calls; ++i) result = next();
        return result + tag;
    };
}

class CallSiteHooks : public testing::Test {
protected:
    void SetUp() override {
        standin::ResetHost(1001);
        standin::SetHostFrameResult(1000);
    }
    void TearDown() override { EXPECT_EQ(SiteBytes(), OriginalSiteBytes()) << "every test leaves the site as it was"; }
    std::vector<std::string> Frame(std::uint32_t expectedResult) {
        standin::Events().clear();
        const standin::HostCallOutcome outcome = standin::RunHostFrame();
        EXPECT_EQ(outcome.result, expectedResult);
        EXPECT_TRUE(outcome.registersPreserved && outcome.stackBalanced);
        return standin::Events();
    }
    using Events = std::vector<std::string>;
};

TEST_F(CallSiteHooks, LaterHooksRunFirstAndTheHostGetsTheOutermostResult) {
    Hooker a, b;
    a.install(Logging("A", 1, 1));
    b.install(Logging("B", 1, 20));
    EXPECT_EQ(Frame(1021), (Events{"B", "A", "host frame function"}));
    EXPECT_EQ(Frame(1021), (Events{"B", "A", "host frame function"}));
}

TEST_F(CallSiteHooks, AHookDecidesHowOftenItsContinuationRuns) {
    Hooker a, b;
    a.install(Logging("A"));
    b.install(Logging("B", 0, 77));  // cuts off A and the host function
    EXPECT_EQ(Frame(77), (Events{"B"}));
    b.install(Logging("B", 2, 0));  // continues twice
    EXPECT_EQ(Frame(1000), (Events{"B", "A", "host frame function", "A", "host frame function"}));
    EXPECT_EQ(standin::HostFrameFunctionCalls(), 2);
}

TEST_F(CallSiteHooks, InstallingAgainReplacesTheFunctionInPlace) {
    Hooker a, b;
    a.install(Logging("A"));
    b.install(Logging("B"));
    a.install(Logging("A2"));
    EXPECT_EQ(a.manager().entries().size(), 2u);
    EXPECT_EQ(Frame(1000), (Events{"B", "A2", "host frame function"}));
}

TEST_F(CallSiteHooks, MovingAHookMovesItsEntryToTheEnd) {
    Hooker b;
    auto a = std::make_unique<Hooker>();
    a->install(Logging("A"));
    b.install(Logging("B"));
    Hooker moved(std::move(*a));
    EXPECT_EQ(Frame(1000), (Events{"A", "B", "host frame function"}));  // the moved hook is outermost
    a.reset();  // the source owns nothing any more: destroying it removes no entry
    EXPECT_EQ(Frame(1000), (Events{"A", "B", "host frame function"}));
    EXPECT_EQ(moved.manager().entries().size(), 2u);
}

TEST_F(CallSiteHooks, TheLastHookOutPutsBackExactlyTheOriginalBytes) {
    for (bool firstOutFirst : {true, false}) {
        SCOPED_TRACE(firstOutFirst);
        auto a = std::make_unique<Hooker>();
        auto b = std::make_unique<Hooker>();
        a->install(Logging("A"));
        const auto redirected = SiteBytes();
        EXPECT_NE(redirected, OriginalSiteBytes());
        b->install(Logging("B"));
        EXPECT_EQ(SiteBytes(), redirected);  // a second hook changes no host byte
        (firstOutFirst ? a : b).reset();
        EXPECT_EQ(SiteBytes(), redirected);
        EXPECT_EQ(Frame(1000), (Events{firstOutFirst ? "B" : "A", "host frame function"}));
        (firstOutFirst ? b : a)->revert();
        EXPECT_EQ(SiteBytes(), OriginalSiteBytes());
        EXPECT_EQ(Frame(1000), (Events{"host frame function"}));
        (firstOutFirst ? b : a).reset();
    }
    // A later hook redirects anew.
    Hooker c;
    c.install(Logging("C"));
    EXPECT_NE(SiteBytes(), OriginalSiteBytes());
    EXPECT_EQ(Frame(1000), (Events{"C", "host frame function"}));
}

TEST_F(CallSiteHooks, ManagerRevertDropsEveryHookAndDestroyedOwnersFindNothing) {
    Hooker a, b;
    a.install(Logging("A"));
    b.install(Logging("B"));
    a.manager().revert();
    EXPECT_EQ(SiteBytes(), OriginalSiteBytes());
    EXPECT_TRUE(a.manager().entries().empty());
    EXPECT_EQ(Frame(1000), (Events{"host frame function"}));
}

// A site that holds no call by the time the hook is installed is left as it
// is: the hook is kept and never runs.
TEST_F(CallSiteHooks, SiteThatHoldsNoCallIsLeftAlone) {
    const std::uint8_t nops[5] = {0x90, 0x90, 0x90, 0x90, 0x90};
    standin::WriteHostBytes(host::kFrameCallSite, nops, 5);
    {
        Hooker a;
        EXPECT_FALSE(a.install(Logging("A", 1, 5)));
        EXPECT_FALSE(a.manager().redirected());
        EXPECT_EQ(SiteBytes(), std::vector<std::uint8_t>(nops, nops + 5));
    }
    EXPECT_EQ(SiteBytes(), std::vector<std::uint8_t>(nops, nops + 5));
    standin::ResetHost(1001);
}

// A manager that goes while its site is still redirected puts the host's
// bytes back only if the site still calls it: another writer's call there
// stays as that writer made it.
TEST_F(CallSiteHooks, ManagerDestroyedWhileRedirectedLeavesAnotherWritersCall) {
    using Manager = Hooker::manager_type;
    const std::uint32_t elsewhere = host::kFrameCallSite + 0x1000;
    for (bool overwritten : {false, true}) {
        SCOPED_TRACE(overwritten);
        auto manager = std::make_unique<Manager>();
        manager->attach(nullptr, Logging("M"), &Manager::call_site_entry);
        EXPECT_TRUE(manager->redirected());
        if (overwritten) codepatch::redirect_call(FrameSite::address(), elsewhere);
        const auto held = SiteBytes();
        manager.reset();
        if (overwritten) {
            EXPECT_EQ(SiteBytes(), held);
            standin::ResetHost(1001);
        } else {
            EXPECT_EQ(SiteBytes(), OriginalSiteBytes());
        }
    }
}

TEST_F(CallSiteHooks, StackedHooksAllocateNothingOnAnyPass) {
    static int passes = 0;
    auto counting = [](Continuation next) {
        ++passes;
        return next();
    };
    std::vector<std::unique_ptr<Hooker>> hooks;
    standin::LogHostEvents(false);
    std::optional<standin::AllocationCount> allocations(standin::ThisModule());
    std::vector<long> counted;
    counted.reserve(4);  // so that recording a count allocates nothing
    for (int depth = 1; depth <= 4; ++depth) {
        hooks.push_back(std::make_unique<Hooker>());
        hooks.back()->install(counting);
        allocations->Reset();
        for (int i = 0; i < 2500; ++i) standin::RunHostFrame();
        counted.push_back(allocations->Count());
    }
    // The positive control: a hook that allocates on purpose is seen.
    Hooker allocating;
    allocating.install([](Continuation next) {
        auto held = std::make_unique<std::string>(64, 'x');
        return next() + static_cast<std::uint32_t>(held->size() - 64);
    });
    allocations->Reset();
    standin::RunHostFrame();
    const long control = allocations->Count();
    allocations.reset();
    EXPECT_EQ(counted, (std::vector<long>{0, 0, 0, 0})) << "1 to 4 stacked hooks";
    EXPECT_EQ(passes, 2500 * (1 + 2 + 3 + 4) + 4);
    EXPECT_GT(control, 0) << "the counter sees an allocation when there is one";
}

}  // namespace
