// The real plugin in games it does not fully know and beside other plugins:
// call sites that hold something else, a second copy of the DLL, host data
// that cannot be written, build probes on closed pages.
#include "PluginSupport.h"
#include "codepatch/call_gate.h"

namespace {

using plugin_support::PluginTest;

// Another plugin that hooked the host's calls before this one: it logs and
// calls on to the host function, as a well-behaved hook does.
std::uint32_t HOST_THISCALL OtherPluginAimHook(void* object, const float* point, std::uint32_t a2, std::uint32_t a3,
                                               std::uint32_t a4) {
    standin::Events().push_back("other plugin's aim hook");
    return reinterpret_cast<host::AimPointFunction>(host::kAimPointFunction)(object, point, a2, a3, a4);
}
std::uint32_t OtherPluginFrameHook() {
    standin::Events().push_back("other plugin's frame hook");
    return reinterpret_cast<host::FrameFunction>(standin::kHostFrameFunction)();
}

std::uint32_t AddressOf(const void* p) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

// Pointer slots for FF 15 [slot], as a host's import table holds them.
std::uint32_t aimFunctionSlot = host::kAimPointFunction;
std::uint32_t frameFunctionSlot = standin::kHostFrameFunction;

bool Contains(const std::vector<std::string>& events, const std::string& event) {
    return std::find(events.begin(), events.end(), event) != events.end();
}

struct SiteCase {
    const char* name;
    std::int32_t build;  // 1001: a build the probes recognise; 0: none
    std::uint32_t site;
    std::function<std::vector<std::uint8_t>()> bytes;
    bool runnable;       // the host's routine still works with these bytes
    bool taken;          // the plugin redirects the site
    bool settings;       // the settings file is applied at all
    bool aimHook;        // the aim calls get the weapons' offsets
    bool frameCallback;  // the toggle and live reload run on frames
    const char* chainEvent;
    const char* logSays;
};

const std::uint32_t kAim = host::kAimPointCallSite;
const std::uint32_t kFrame = host::kFrameCallSite;

std::vector<std::uint8_t> ForeignCode() {
    return {0x8B, 0x45, 0x08, 0x89, 0xC1};
}
std::vector<std::uint8_t> AimJumpDetour() {
    return standin::JumpBytes(kAim, standin::PlaceDetour(kAim, host::kAimPointFunction));
}

// Memory outside the game that holds data, not code.
std::uint32_t DataPage() {
    static void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    return AddressOf(page);
}
std::uint32_t otherPluginAimSlot = 0;  // FF 15 [slot] -> the other plugin's hook

// The aim call is the plugin's evidence that this is the game it knows, on
// any build: the game's own call, or another mod's hook leading out of the
// game's image into code. Anything else (other code, a call of another
// function of the game, a branch into the game's own code or into memory
// that holds no code) changes nothing at all, recognised build or not. A
// mod's jump out of the image leaves the aim hook out, and the rest works.
std::vector<SiteCase> SiteCases() {
    const auto other = [] { return AddressOf(reinterpret_cast<const void*>(&OtherPluginAimHook)); };
    const auto hostCall = [] { return standin::OriginalAimCallBytes(); };
    const auto otherCall = [other] { return standin::CallBytes(kAim, other()); };
    const auto indirectOut = [other] {
        otherPluginAimSlot = other();
        return standin::IndirectCallBytes(AddressOf(&otherPluginAimSlot));
    };
    const auto indirectIn = [] { return standin::IndirectCallBytes(AddressOf(&aimFunctionSlot)); };
    const auto intoData = [] { return standin::CallBytes(kAim, DataPage()); };
    const auto anotherFunction = [] { return standin::CallBytes(kAim, host::kOffsetToPointFunction); };
    const char* unknown = "this is not a game the plugin knows";
    return {
        {"aim_host_call", 1001, kAim, hostCall, true, true, true, true, true, nullptr,
         "calls the game's aim function; redirected"},
        {"aim_host_call_unknown_build", 0, kAim, hostCall, true, true, true, true, false, nullptr,
         "calls the game's aim function; redirected"},
        {"aim_other_plugins_hook", 1001, kAim, otherCall, true, true, true, true, true, "other plugin's aim hook",
         "calls another mod's hook"},
        {"aim_other_plugins_hook_unknown_build", 0, kAim, otherCall, true, true, true, true, false,
         "other plugin's aim hook", "calls another mod's hook"},
        {"aim_jump_detour", 1001, kAim, AimJumpDetour, true, false, true, false, true, nullptr,
         "holds another mod's jump to its own code: left to that mod, so no per-weapon aim offsets"},
        {"aim_jump_detour_unknown_build", 0, kAim, AimJumpDetour, true, false, true, false, false, nullptr,
         "holds another mod's jump to its own code"},
        {"aim_indirect_call_out_of_the_game", 1001, kAim, indirectOut, true, false, true, false, true,
         "other plugin's aim hook", "holds another mod's jump to its own code"},
        {"aim_foreign_code", 1001, kAim, ForeignCode, false, false, false, false, false, nullptr,
         "holds 8B 45 08 89 C1 and is not a call: this is not a game the plugin knows"},
        {"aim_foreign_code_unknown_build", 0, kAim, ForeignCode, false, false, false, false, false, nullptr, unknown},
        {"aim_call_to_another_host_function", 1001, kAim, anotherFunction, false, false, false, false, false, nullptr,
         "calls another function of the game: this is not a game the plugin knows"},
        {"aim_call_to_another_host_function_unknown_build", 0, kAim, anotherFunction, false, false, false, false, false,
         nullptr, unknown},
        {"aim_indirect_call_into_the_game", 1001, kAim, indirectIn, true, false, false, false, false, nullptr,
         "branches into the game's own code, not a call: this is not a game the plugin knows"},
        {"aim_call_into_data", 1001, kAim, intoData, false, false, false, false, false, nullptr,
         "leads to memory that holds no code: this is not a game the plugin knows"},
        {"aim_call_into_data_unknown_build", 0, kAim, intoData, false, false, false, false, false, nullptr, unknown},
        {"frame_host_call", 1001, kFrame, [] { return standin::OriginalFrameCallBytes(); }, true, true, true, true,
         true, nullptr, "frame call 0x53E981 (at 0x0053E981): redirected"},
        {"frame_other_plugins_hook", 1001, kFrame,
         [] { return standin::CallBytes(kFrame, AddressOf(reinterpret_cast<const void*>(&OtherPluginFrameHook))); },
         true, true, true, true, true, "other plugin's frame hook", "frame call 0x53E981 (at 0x0053E981): redirected"},
        {"frame_jump_detour", 1001, kFrame,
         [] { return standin::JumpBytes(kFrame, standin::PlaceDetour(kFrame, standin::kHostFrameFunction)); }, true,
         false, true, true, false, nullptr, "not a 5-byte call"},
        {"frame_indirect_call", 1001, kFrame, [] { return standin::IndirectCallBytes(AddressOf(&frameFunctionSlot)); },
         true, false, true, true, false, nullptr, "holds FF 15"},
    };
}

class CallSites : public PluginTest, public testing::WithParamInterface<SiteCase> {
protected:
    std::vector<std::uint8_t> HostCode() {
        return standin::ReadHostBytes(standin::kHostCodeBegin, standin::kHostCodeEnd - standin::kHostCodeBegin);
    }
    std::vector<std::uint8_t> HostData() {
        return standin::ReadHostBytes(host::kAimValuesLowest,
                                      host::kAimBlock + host::kAimBlockBytes - host::kAimValuesLowest);
    }
    // The host makes both of its calls; returns what was logged meanwhile.
    std::vector<std::string> HostCalls(bool expectSubstitution) {
        standin::Events().clear();
        standin::Character().SetWeapon(22);
        const auto offsets = standin::OffsetCalls().size();
        const auto aimCalls = standin::AimFunctionCalls().size();
        static const float point[3] = {1.0f, 2.0f, 3.0f};
        const auto outcome = standin::RunHostAimCall({&hostObject, point, 0, 0, 0});
        EXPECT_TRUE(outcome.stackBalanced && outcome.registersPreserved);
        EXPECT_EQ(standin::AimFunctionCalls().size(), aimCalls + 1) << "the game's aim function runs once";
        EXPECT_EQ(standin::OffsetCalls().size(), offsets + (expectSubstitution ? 1 : 0));
        const int frames = standin::HostFrameFunctionCalls();
        standin::SetKeys(true, true);
        const auto frame = standin::RunHostFrame();
        EXPECT_TRUE(frame.stackBalanced && frame.registersPreserved);
        EXPECT_EQ(standin::HostFrameFunctionCalls(), frames + 1) << "the game's frame function runs once";
        return standin::Events();
    }
};

TEST_P(CallSites, ThePluginTakesOnlyWhatItKnowsAndPutsBackExactlyWhatItFound) {
    const SiteCase& c = GetParam();
    Prepare(c.build, settings_cases::ReferenceWith({{1, "reload 1"}}));
    const std::vector<std::uint8_t> siteBytes = c.bytes();
    standin::SetCallInstruction(c.site, siteBytes);
    const std::uint32_t otherSite = c.site == kAim ? kFrame : kAim;
    const auto otherSiteBytes = standin::CallSiteBytes(otherSite);
    const auto codeBefore = HostCode();
    const auto dataBefore = HostData();

    Load();
    const std::string log = directory.ReadLog();
    EXPECT_NE(log.find(c.logSays), std::string::npos) << log;
    if (!c.settings) {
        EXPECT_TRUE(HostCode() == codeBefore) << "no byte of the game's code is written";
        EXPECT_TRUE(HostData() == dataBefore) << "no byte of the game's data is written";
        EXPECT_NE(log.find("changes nothing"), std::string::npos) << log;
    } else {
        EXPECT_FALSE(HostData() == dataBefore) << "the settings are applied";
    }
    if (c.aimHook) {
        EXPECT_NE(standin::CallSiteBytes(kAim), (c.site == kAim ? siteBytes : otherSiteBytes));
    }
    const auto siteNow = standin::CallSiteBytes(c.site);
    if (c.taken) {
        EXPECT_EQ(siteNow[0], codepatch::op_call_rel32);
        EXPECT_NE(siteNow, std::vector<std::uint8_t>(siteBytes.begin(), siteBytes.begin() + 5));
    } else {
        EXPECT_EQ(standin::ReadHostBytes(c.site, siteBytes.size()), siteBytes) << "left as it was";
    }

    if (c.runnable) {
        const auto events = HostCalls(c.aimHook);
        EXPECT_EQ(Contains(events, "GetKeyState"), c.frameCallback);
        if (c.chainEvent) {
            EXPECT_TRUE(Contains(events, c.chainEvent)) << "the other plugin's hook still runs";
        }
        if (c.settings) {
            standin::SetKeys(false, false);  // the toggle off again before looking at the offsets
            standin::RunHostFrame();
            settings_cases::Snapshot expected = settings_cases::Reference();
            if (!c.aimHook)  // every aim call passes through: the game's own point
                for (auto& row : expected.offsets)
                    for (auto& f : row) f = settings_cases::kNotGiven;
            ExpectSameAsHost(Observe(), expected);
        }
    }

    Unload();
    EXPECT_EQ(standin::ReadHostBytes(c.site, siteBytes.size()), siteBytes) << "exactly what the site held";
    EXPECT_EQ(standin::CallSiteBytes(otherSite), otherSiteBytes);
    if (c.runnable) {
        const auto events = HostCalls(false);
        EXPECT_FALSE(Contains(events, "GetKeyState"));
        if (c.chainEvent) {
            EXPECT_TRUE(Contains(events, c.chainEvent));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Contents, CallSites, testing::ValuesIn(SiteCases()),
                         [](const testing::TestParamInfo<SiteCase>& param) { return std::string(param.param.name); });

class Safety : public PluginTest {
protected:
    // One aim call with weapon 22: true when the plugin substituted its point.
    bool AimSubstitutes() {
        standin::Character().SetWeapon(22);
        const auto before = standin::OffsetCalls().size();
        AimCall();
        EXPECT_TRUE(lastOutcome.stackBalanced && lastOutcome.registersPreserved);
        return standin::OffsetCalls().size() == before + 1;
    }
};

// The name under which the plugin keeps its gates' record (and its one-copy
// claim) held by an object of another kind: the plugin takes a page of its
// own for this load, hooks both calls through it, says so, and goes on
// without the one-copy guard. The sites hold the game's calls before, the
// gate's while loaded, the game's after; the gate, left in the process,
// calls straight on.
TEST_F(Safety, AGateNameTakenBySomethingElseSwitchesNothingOff) {
    Prepare(1001, settings_cases::ReferenceWith({{1, "reload 1"}}));
    standin::TakePluginGateName(true);
    const auto aimBefore = standin::CallSiteBytes(kAim);
    const auto frameBefore = standin::CallSiteBytes(kFrame);
    Load();
    const auto aimWhile = standin::CallSiteBytes(kAim);
    const std::uint32_t gate = codepatch::branch_target(codepatch::patch_address(kAim));
    EXPECT_NE(aimWhile, aimBefore);
    EXPECT_NE(standin::CallSiteBytes(kFrame), frameBefore);
    EXPECT_TRUE(SiteCallsIntoPlugin());
    EXPECT_TRUE(AimSubstitutes());
    const std::string log = directory.ReadLog();
    EXPECT_NE(log.find("is held by something that is not this plugin (another program took it): going on without "
                       "the one-copy guard"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("each load of the plugin keeps a page of memory of its own"), std::string::npos) << log;
    EXPECT_EQ(log.find("another copy of this plugin"), std::string::npos) << log;
    Unload();
    EXPECT_EQ(standin::CallSiteBytes(kAim), aimBefore);
    EXPECT_EQ(standin::CallSiteBytes(kFrame), frameBefore);
    EXPECT_EQ(standin::PastGate(gate), host::kAimPointFunction) << "the gate left behind calls straight on";
    EXPECT_FALSE(AimSubstitutes());
}

// No memory for a gate at all: the plugin hooks neither call (a hook straight
// into the DLL could not be taken back safely), applies the settings, says
// so, and never writes either site.
TEST_F(Safety, WithoutMemoryForAGateNeitherCallIsHookedAndTheSettingsApply) {
    Prepare(1001, settings_cases::Join(settings_cases::ReferenceLines()));
    standin::TakePluginGateName(true);  // so that no gate page is found from an earlier load
    standin::FailPluginGateMemory(true);
    const auto aimBefore = standin::CallSiteBytes(kAim);
    const auto frameBefore = standin::CallSiteBytes(kFrame);
    Load();
    EXPECT_EQ(standin::CallSiteBytes(kAim), aimBefore);
    EXPECT_EQ(standin::CallSiteBytes(kFrame), frameBefore);
    EXPECT_FALSE(AimSubstitutes());
    settings_cases::Snapshot expected = settings_cases::Reference();
    for (auto& row : expected.offsets)
        for (auto& f : row) f = settings_cases::kNotGiven;
    ExpectSameAsHost(Observe(), expected);
    const std::string log = directory.ReadLog();
    EXPECT_NE(log.find("aim call 0x527A95 (at 0x00527A95): no memory for the plugin's call gate"), std::string::npos)
        << log;
    EXPECT_NE(log.find("frame call 0x53E981 (at 0x0053E981): no memory for the plugin's call gate"), std::string::npos)
        << log;
    Unload();
    EXPECT_EQ(standin::CallSiteBytes(kAim), aimBefore);
    EXPECT_EQ(standin::CallSiteBytes(kFrame), frameBefore);
}

TEST_F(Safety, ASecondCopyInstallsNothingAndEitherUnloadOrderIsSafe) {
    for (bool firstOutFirst : {true, false}) {
        SCOPED_TRACE(firstOutFirst);
        Prepare(1001, settings_cases::Join(settings_cases::ReferenceLines()));
        const std::string copyPath = directory.Path() + "AimingPlugin - Copy.dll";
        const std::string copyLogPath = directory.Path() + "AimingPlugin - Copy.log";
        ASSERT_TRUE(CopyFileA(directory.PluginPath().c_str(), copyPath.c_str(), FALSE));
        auto first = std::make_unique<standin::PluginModule>(directory.PluginPath());
        const auto firstSite = standin::CallSiteBytes(kAim);
        auto copy = std::make_unique<standin::PluginModule>(copyPath);
        ASSERT_TRUE(first->Loaded() && copy->Loaded());
        EXPECT_EQ(standin::CallSiteBytes(kAim), firstSite) << "the copy leaves the first one's call alone";
        const std::string copyLog = standin::ReadWholeFile(standin::Wide(copyLogPath));
        EXPECT_NE(copyLog.find("another copy of this plugin is already loaded"), std::string::npos) << copyLog;

        (firstOutFirst ? first : copy).reset();
        EXPECT_EQ(AimSubstitutes(), !firstOutFirst) << "substitution only while the first copy is loaded";
        (firstOutFirst ? copy : first).reset();
        EXPECT_EQ(standin::CallSiteBytes(kAim), standin::OriginalAimCallBytes());
        EXPECT_EQ(standin::CallSiteBytes(kFrame), standin::OriginalFrameCallBytes());
        EXPECT_FALSE(AimSubstitutes());
        DeleteFileA(copyPath.c_str());
        DeleteFileA(copyLogPath.c_str());
    }
}

// Another plugin hooks both calls after this one: at unload the sites hold
// that plugin's calls, which stay as they are (and keep working).
TEST_F(Safety, UnloadLeavesASiteThatSomethingElseRewroteSinceAndSaysSo) {
    Prepare(1001, settings_cases::Join(settings_cases::ReferenceLines()));
    Load();
    const auto otherAim = standin::CallBytes(kAim, AddressOf(reinterpret_cast<const void*>(&OtherPluginAimHook)));
    const auto otherFrame = standin::CallBytes(kFrame, AddressOf(reinterpret_cast<const void*>(&OtherPluginFrameHook)));
    standin::WriteHostBytes(kAim, otherAim.data(), otherAim.size());
    standin::WriteHostBytes(kFrame, otherFrame.data(), otherFrame.size());
    Unload();
    EXPECT_EQ(standin::CallSiteBytes(kAim), otherAim);
    EXPECT_EQ(standin::CallSiteBytes(kFrame), otherFrame);
    const std::string log = directory.ReadLog();
    EXPECT_NE(log.find("unload: frame call 0x53E981 is another mod's now"), std::string::npos) << log;
    EXPECT_NE(log.find("unload: aim call 0x527A95 is another mod's now"), std::string::npos) << log;
    standin::Events().clear();
    EXPECT_FALSE(AimSubstitutes());
    standin::RunHostFrame();
    EXPECT_TRUE(Contains(standin::Events(), "other plugin's aim hook"));
    EXPECT_TRUE(Contains(standin::Events(), "other plugin's frame hook"));
}

// Another plugin hooks both calls after this one and calls on to what it
// found there: this plugin's hooks. Unloading this plugin leaves that
// plugin's calls reaching the game; loading it again puts it back into the
// chain, never in a loop; once that plugin is gone, the sites come back.
TEST_F(Safety, AnotherPluginThatCallsOnThroughOurHooksKeepsWorkingAcrossUnloadsAndReloads) {
    Prepare(1001, settings_cases::ReferenceWith({{1, "reload 1"}}));
    Load();
    const standin::ChainingHook otherAim = standin::PlaceChainingHook(kAim);
    const standin::ChainingHook otherFrame = standin::PlaceChainingHook(kFrame);
    // One aim call and one frame: each reaches the game's function exactly
    // once (a loop would never return), through the other plugin's hook.
    auto hostCalls = [&](bool throughPlugin, bool throughOther) {
        const long aimCalls = standin::HostAimFunctionCallCount();
        const int frames = standin::HostFrameFunctionCalls();
        const std::uint32_t otherAimCalls = *otherAim.calls, otherFrameCalls = *otherFrame.calls;
        standin::Events().clear();
        EXPECT_EQ(AimSubstitutes(), throughPlugin);
        EXPECT_TRUE(standin::RunHostFrame().stackBalanced);
        EXPECT_EQ(standin::HostAimFunctionCallCount(), aimCalls + 1);
        EXPECT_EQ(standin::HostFrameFunctionCalls(), frames + 1);
        EXPECT_EQ(*otherAim.calls, otherAimCalls + (throughOther ? 1 : 0));
        EXPECT_EQ(*otherFrame.calls, otherFrameCalls + (throughOther ? 1 : 0));
        EXPECT_EQ(Contains(standin::Events(), "GetKeyState"), throughPlugin);
    };
    hostCalls(true, true);
    for (int cycle = 0; cycle < 3; ++cycle) {
        SCOPED_TRACE(cycle);
        Unload();
        EXPECT_EQ(standin::CallSiteBytes(kAim), standin::CallBytes(kAim, otherAim.address));
        EXPECT_EQ(standin::CallSiteBytes(kFrame), standin::CallBytes(kFrame, otherFrame.address));
        hostCalls(false, true);
        Load();
        hostCalls(true, true);
    }
    const std::string log = directory.ReadLog();
    EXPECT_NE(log.find("that mod hooked this call while the plugin was last loaded and calls on through the "
                       "plugin's gate"),
              std::string::npos)
        << log;
    Unload();
    // The other plugin goes, putting back what it found: the gates, which
    // lead to the game.
    EXPECT_TRUE(standin::RemoveChainingHook(otherAim));
    EXPECT_TRUE(standin::RemoveChainingHook(otherFrame));
    hostCalls(false, false);
    Load();
    EXPECT_TRUE(SiteCallsIntoPlugin());
    hostCalls(true, false);
    Unload();
    EXPECT_EQ(standin::CallSiteBytes(kAim), standin::OriginalAimCallBytes());
    EXPECT_EQ(standin::CallSiteBytes(kFrame), standin::OriginalFrameCallBytes());
}

// A mod that hooked both calls before this plugin, and when it goes writes
// back the bytes it saved without looking (the game's own calls, while the
// sites called this plugin's gates). The next load judges the sites by what
// they hold then, the game's calls, and takes them as usual.
TEST_F(Safety, AModThatPutsBackItsSavedBytesBlindlyLeavesSitesThatTheNextLoadTakes) {
    Prepare(1001, settings_cases::ReferenceWith({{1, "reload 1"}}));
    const standin::ChainingHook otherAim = standin::PlaceChainingHook(kAim);
    const standin::ChainingHook otherFrame = standin::PlaceChainingHook(kFrame);
    Load();
    EXPECT_TRUE(AimSubstitutes());
    const auto aimOriginal = standin::OriginalAimCallBytes();
    const auto frameOriginal = standin::OriginalFrameCallBytes();
    standin::WriteHostBytes(kAim, aimOriginal.data(), aimOriginal.size());
    standin::WriteHostBytes(kFrame, frameOriginal.data(), frameOriginal.size());
    Unload();
    EXPECT_EQ(standin::CallSiteBytes(kAim), aimOriginal);
    EXPECT_EQ(standin::CallSiteBytes(kFrame), frameOriginal);
    for (int load = 0; load < 2; ++load) {
        SCOPED_TRACE(load);
        Load();
        EXPECT_TRUE(SiteCallsIntoPlugin());
        EXPECT_TRUE(AimSubstitutes());
        standin::Events().clear();
        standin::RunHostFrame();
        EXPECT_TRUE(Contains(standin::Events(), "GetKeyState")) << "the frame hook runs";
        const std::string log = directory.ReadLog();
        EXPECT_EQ(log.find("calls on through the plugin's gate"), std::string::npos) << log;
        EXPECT_NE(log.find("frame call 0x53E981 (at 0x0053E981): redirected"), std::string::npos) << log;
        Unload();
        EXPECT_EQ(standin::CallSiteBytes(kAim), aimOriginal);
        EXPECT_EQ(standin::CallSiteBytes(kFrame), frameOriginal);
    }
    EXPECT_EQ(*otherAim.calls, 1u) << "the mod's hooks ran only while they held the sites";
    EXPECT_EQ(*otherFrame.calls, 0u);
}

// A mod whose hooking library follows jumps from the aim call to the first
// real code, and hooks that in place: it finds the plugin's gate, which
// outlives the plugin, not the plugin's own code. After the plugin's unload
// the mod's hook and the game keep working.
TEST_F(Safety, AHookingLibraryThatFollowsJumpsHooksTheGateNotThePlugin) {
    Prepare(1001, settings_cases::Join(settings_cases::ReferenceLines()));
    Load();
    const standin::FollowingHook other = standin::PlaceJumpFollowingHook(kAim);
    ASSERT_NE(other.hooked, 0u) << "the library found code it can hook";
    MEMORY_BASIC_INFORMATION info;
    ASSERT_NE(VirtualQuery(reinterpret_cast<void*>(static_cast<std::uintptr_t>(other.hooked)), &info, sizeof info), 0u);
    EXPECT_NE(info.AllocationBase, static_cast<void*>(plugin->Handle())) << "it hooked the plugin's own code";
    EXPECT_TRUE(AimSubstitutes());
    EXPECT_EQ(*other.calls, 1u);
    Unload();
    const long aimCalls = standin::HostAimFunctionCallCount();
    EXPECT_FALSE(AimSubstitutes());
    EXPECT_EQ(standin::HostAimFunctionCallCount(), aimCalls + 1);
    standin::RemoveJumpFollowingHook(other);
}

// A one-copy claim forged by another program (or left by a module that is
// gone), naming the base of a module every process has: the plugin sees that
// no copy of it holds its mark there, takes the claim over, works, and says
// what the claim named.
TEST_F(Safety, AForgedClaimSwitchesNothingOff) {
    Prepare(1001, settings_cases::Join(settings_cases::ReferenceLines()));
    Load();  // makes the gates' record, if no earlier test did
    Unload();
    wchar_t name[128];
    codepatch::call_gate_record_name(name, L"AimingPlugin", GetCurrentProcessId());
    HANDLE record = OpenFileMappingW(FILE_MAP_WRITE, FALSE, name);
    ASSERT_NE(record, nullptr);
    auto* view = static_cast<codepatch::call_gate_record*>(MapViewOfFile(record, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    view->claim_module = AddressOf(GetModuleHandleW(L"kernel32.dll"));
    view->claim_mark = 0x1000;
    Load();
    EXPECT_TRUE(SiteCallsIntoPlugin());
    EXPECT_TRUE(AimSubstitutes());
    const std::string log = directory.ReadLog();
    EXPECT_NE(log.find("named something that is not a copy of it"), std::string::npos) << log;
    EXPECT_NE(log.find("kernel32.dll"), std::string::npos) << log;
    EXPECT_EQ(log.find("another copy of this plugin"), std::string::npos) << log;
    Unload();
    EXPECT_EQ(view->claim_module, 0u) << "the unload gives the claim up";
    UnmapViewOfFile(view);
    CloseHandle(record);
}

// Another plugin writes a call site between this plugin's check and its
// write: the write compares with what the check saw, finds the other
// plugin's call, and leaves it.
TEST_F(Safety, ACallSiteRewrittenBetweenTheCheckAndTheWriteIsLeftAsTheOtherPluginWroteIt) {
    struct Case {
        std::uint32_t site;
        const void* otherHook;
        const char* logSays;
    };
    const Case cases[] = {
        {kAim, reinterpret_cast<const void*>(&OtherPluginAimHook), "aim call 0x527A95 (at 0x00527A95) changed between"},
        {kFrame, reinterpret_cast<const void*>(&OtherPluginFrameHook),
         "frame call 0x53E981 (at 0x0053E981) changed between"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logSays);
        Prepare(1001, settings_cases::Join(settings_cases::ReferenceLines()));
        const auto other = standin::CallBytes(c.site, AddressOf(c.otherHook));
        standin::RewriteSiteBeforePluginWrites(c.site, other);
        Load();
        EXPECT_EQ(standin::CallSiteBytes(c.site), other);
        const std::string log = directory.ReadLog();
        EXPECT_NE(log.find(c.logSays), std::string::npos) << log;
        standin::Events().clear();
        standin::RunHostFrame();
        AimSubstitutes();
        const char* otherEvent = c.site == kAim ? "other plugin's aim hook" : "other plugin's frame hook";
        EXPECT_TRUE(Contains(standin::Events(), otherEvent)) << "the other plugin's call works";
        Unload();
        EXPECT_EQ(standin::CallSiteBytes(c.site), other);
    }
}

// Host data the game keeps read-only: skipped and logged, never a fault that
// fails the load with the aim call already pointing into the DLL.
TEST_F(Safety, HostDataThatCannotBeWrittenIsLeftAloneAndTheRestWorks) {
    Prepare(1001, settings_cases::Join(settings_cases::ReferenceLines()));
    void* dataPage = reinterpret_cast<void*>(static_cast<std::uintptr_t>(host::kAimValuesLowest & ~0xFFFu));
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(dataPage, 0x1000, PAGE_READONLY, &old));
    Load();
    settings_cases::Snapshot expected = settings_cases::Reference();
    const settings_cases::Snapshot initial = settings_cases::Initial();
    std::memcpy(expected.hostValues, initial.hostValues, sizeof expected.hostValues);
    std::memcpy(expected.block, initial.block, sizeof expected.block);
    ExpectSameAsHost(Observe(), expected);  // the code constant and the offsets are applied
    const std::string log = directory.ReadLog();
    EXPECT_NE(log.find("line 3: host value 1 at 0x8CC4B4 is not writable memory in this game: left alone"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("lines 11-14: the aim block at 0x8CC4C0 is not writable"), std::string::npos) << log;
    Unload();
    VirtualProtect(dataPage, 0x1000, old, &old);
    EXPECT_EQ(standin::CallSiteBytes(kAim), standin::OriginalAimCallBytes());
}

// A build probe on a page the game keeps closed still identifies the build,
// and the page stays closed.
TEST_F(Safety, AProbeOnANoAccessPageIsReadAndTheBuildFound) {
    Prepare(1011, settings_cases::Join(settings_cases::ReferenceLines()));
    void* probePage = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x8245BCu & ~0xFFFu));
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(probePage, 0x1000, PAGE_NOACCESS, &old));
    Load();
    MEMORY_BASIC_INFORMATION info;
    VirtualQuery(probePage, &info, sizeof info);
    VirtualProtect(probePage, 0x1000, old, &old);
    EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_NOACCESS));
    EXPECT_NE(directory.ReadLog().find("game: build 1011"), std::string::npos) << directory.ReadLog();
}

}  // namespace
