// The frame event in a real module (frame_event_probe.dll) loaded into the
// stand-in host once per scenario, around the host's call at 0x53E981.
#include <gtest/gtest.h>
#include <windows.h>

#include "host/HostInterface.h"
#include "standin_host/Standin.h"

namespace {

void LogToEvents(const char* text) {
    standin::Events().push_back(text);
}

class FrameEventProbe {
public:
    explicit FrameEventProbe(std::int32_t build) {
        standin::ResetHost(build);
        module_ = LoadLibraryA(FRAME_EVENT_PROBE_PATH);
        EXPECT_NE(module_, nullptr);
        reinterpret_cast<void (*)(void (*)(const char*))>(Export("probe_set_logger"))(&LogToEvents);
    }
    ~FrameEventProbe() { Free(); }
    void Free() {
        if (module_) FreeLibrary(module_);
        module_ = nullptr;
    }
    enum List { kBefore = 0, kAfter = 1 };
    enum Kind { kPlainA = 0, kPlainB = 1, kObject = 2, kWatchedObject = 3 };
    void Register(List list, Kind kind, int id = 0) {
        reinterpret_cast<void (*)(int, int, int)>(Export("probe_register"))(list, kind, id);
    }
    struct State {
        bool hookDecided;
        int before, after;
    };
    State Get() {
        int installed = 0, before = 0, after = 0;
        reinterpret_cast<void (*)(int*, int*, int*)>(Export("probe_state"))(&installed, &before, &after);
        return {installed != 0, before, after};
    }

private:
    void* Export(const char* name) { return reinterpret_cast<void*>(GetProcAddress(module_, name)); }
    HMODULE module_ = nullptr;
};

std::vector<std::uint8_t> SiteBytes() {
    return standin::CallSiteBytes(host::kFrameCallSite);
}
std::vector<std::uint8_t> OriginalSiteBytes() {
    return standin::OriginalFrameCallBytes();
}

TEST(FrameEvent, HookedBuildsRunCallbacksAroundTheHostFunctionOnEveryPass) {
    for (std::int32_t build : host::kFrameCallBuilds) {
        SCOPED_TRACE(build);
        FrameEventProbe probe(build);
        EXPECT_EQ(SiteBytes(), OriginalSiteBytes());
        probe.Register(FrameEventProbe::kAfter, FrameEventProbe::kObject, 1);
        EXPECT_NE(SiteBytes(), OriginalSiteBytes());
        EXPECT_EQ(SiteBytes()[0], 0xE8);
        probe.Register(FrameEventProbe::kBefore, FrameEventProbe::kObject, 2);
        probe.Register(FrameEventProbe::kBefore, FrameEventProbe::kPlainA);
        standin::SetHostFrameResult(0x1234ABCD);
        for (int pass = 0; pass < 3; ++pass) {
            standin::Events().clear();
            const standin::HostCallOutcome outcome = standin::RunHostFrame();
            EXPECT_EQ(outcome.result, 0x1234ABCDu);
            EXPECT_TRUE(outcome.registersPreserved && outcome.stackBalanced);
            EXPECT_EQ(standin::Events(),
                      (std::vector<std::string>{"callback 2", "plain A", "host frame function", "callback 1"}));
        }
        EXPECT_EQ(standin::HostFrameFunctionCalls(), 3);
    }
}

TEST(FrameEvent, OtherBuildsKeepCallbacksButNeverTouchTheSite) {
    for (std::int32_t build : standin::kBuilds) {
        if (host::HasFrameCall(build)) continue;
        SCOPED_TRACE(build);
        FrameEventProbe probe(build);
        probe.Register(FrameEventProbe::kAfter, FrameEventProbe::kObject, 1);
        EXPECT_TRUE(probe.Get().hookDecided);
        probe.Register(FrameEventProbe::kBefore, FrameEventProbe::kPlainA);
        EXPECT_EQ(SiteBytes(), OriginalSiteBytes());
        standin::RunHostFrame();
        EXPECT_EQ(standin::Events(), (std::vector<std::string>{"host frame function"}));
        const auto state = probe.Get();
        EXPECT_EQ(state.before, 1);
        EXPECT_EQ(state.after, 1);
    }
}

TEST(FrameEvent, OnlyTheSamePlainFunctionInTheSameListIsADuplicate) {
    FrameEventProbe probe(1001);
    probe.Register(FrameEventProbe::kAfter, FrameEventProbe::kPlainA);
    probe.Register(FrameEventProbe::kAfter, FrameEventProbe::kPlainA);  // dropped
    probe.Register(FrameEventProbe::kAfter, FrameEventProbe::kObject, 7);
    probe.Register(FrameEventProbe::kAfter, FrameEventProbe::kPlainB);
    probe.Register(FrameEventProbe::kAfter, FrameEventProbe::kObject, 7);  // kept: not a plain pointer
    probe.Register(FrameEventProbe::kAfter, FrameEventProbe::kPlainA);     // dropped, past an object
    probe.Register(FrameEventProbe::kBefore, FrameEventProbe::kPlainA);    // kept: another list
    const auto state = probe.Get();
    EXPECT_EQ(state.after, 4);
    EXPECT_EQ(state.before, 1);
    standin::RunHostFrame();
    EXPECT_EQ(standin::Events(), (std::vector<std::string>{"plain A", "host frame function", "plain A", "callback 7",
                                                           "plain B", "callback 7"}));
}

TEST(FrameEvent, UnloadPutsTheSiteBackBeforeTheEventGoes) {
    FrameEventProbe probe(1002);
    probe.Register(FrameEventProbe::kAfter, FrameEventProbe::kWatchedObject, 5);
    standin::RunHostFrame();
    standin::Events().clear();
    probe.Free();
    // The callback dies with the frame event, the last object to go: by then
    // the site has its own bytes.
    char original[16];
    const auto bytes = OriginalSiteBytes();
    std::snprintf(original, sizeof original, "%02X%02X%02X%02X%02X", bytes[0], bytes[1], bytes[2], bytes[3], bytes[4]);
    EXPECT_EQ(standin::Events(), (std::vector<std::string>{std::string("callback 5 destroyed; site ") + original}));
    EXPECT_EQ(SiteBytes(), OriginalSiteBytes());
    standin::Events().clear();
    standin::RunHostFrame();
    EXPECT_EQ(standin::Events(), (std::vector<std::string>{"host frame function"}));
}

}  // namespace
