// The plugin loaded and freed the way plugin managers do it, in one process:
// every unload puts the game back, nothing of the process wears out over
// thousands of cycles, and a start that fails half-way leaves nothing behind.
#include "PluginSupport.h"

namespace {

using plugin_support::PluginTest;

// The index TlsAlloc would hand out next: what a leaked slot moves.
DWORD NextFreeTlsIndex() {
    const DWORD index = TlsAlloc();
    TlsFree(index);
    return index;
}

// Bytes of the address space that are reserved or committed.
std::size_t AddressSpaceInUse() {
    std::size_t used = 0;
    MEMORY_BASIC_INFORMATION info;
    for (std::uintptr_t at = 0x10000; at < 0x7FFF0000u && VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof info);
         at = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize)
        if (info.State != MEM_FREE) used += info.RegionSize;
    return used;
}

// The process's open handles, as the system lists every process's
// (GetProcessHandleCount answers 0 under Wine 8).
DWORD HandleCount() {
    struct Entry {
        ULONG process;
        UCHAR type, flags;
        USHORT value;
        void* object;
        ULONG access;
    };
    using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<std::uint8_t> buffer(1 << 16);
    for (;;) {
        ULONG needed = 0;
        const LONG status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);  // handles
        if (status == static_cast<LONG>(0xC0000004)) {  // STATUS_INFO_LENGTH_MISMATCH
            buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 4096));
            continue;
        }
        if (status < 0) return 0;
        break;
    }
    ULONG entries;
    std::memcpy(&entries, buffer.data(), sizeof entries);
    const auto* entry = reinterpret_cast<const Entry*>(buffer.data() + sizeof(ULONG));
    DWORD count = 0;
    for (ULONG i = 0; i < entries; ++i) count += entry[i].process == GetCurrentProcessId();
    return count;
}

// Bytes held in busy blocks by every heap of the process (the C runtime
// keeps a heap of its own).
std::size_t BusyHeapBytes() {
    HANDLE heaps[64];
    const DWORD count = GetProcessHeaps(64, heaps);
    std::size_t busy = 0;
    for (DWORD h = 0; h < count && h < 64; ++h) {
        HeapLock(heaps[h]);
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[h], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy += entry.cbData;
        HeapUnlock(heaps[h]);
    }
    return busy;
}

class Lifecycle : public PluginTest {
protected:
    // A frame with the right mouse button and Space as given.
    void Frame(bool rightButton, bool space) {
        standin::SetKeys(rightButton, space);
        const auto outcome = standin::RunHostFrame();
        EXPECT_TRUE(outcome.registersPreserved && outcome.stackBalanced);
    }
};

// Load, use and unload, a hundred times: each unload puts both call sites
// and all host code back, each load redirects anew, and in between the host
// calls its own functions.
TEST_F(Lifecycle, EveryUnloadPutsBothCallSitesBackAndEveryLoadRedirectsAgain) {
    standin::ResetHost(1001);
    const auto aimOriginal = standin::OriginalAimCallBytes();
    const auto frameOriginal = standin::OriginalFrameCallBytes();
    ASSERT_EQ(standin::CallSiteBytes(host::kAimPointCallSite), aimOriginal);
    directory.WriteSettings(settings_cases::ReferenceWith({{1, "reload 1"}}));
    const float hostPoint[3] = {1, 2, 3};

    std::vector<std::uint8_t> imageAfterFirst;
    for (int cycle = 0; cycle < 100; ++cycle) {
        SCOPED_TRACE(cycle);
        Load();
        EXPECT_TRUE(SiteCallsIntoPlugin());
        EXPECT_NE(standin::CallSiteBytes(host::kFrameCallSite), frameOriginal);
        standin::Character().SetWeapon(22);
        const auto offsets = standin::OffsetCalls().size();
        AimCall();
        EXPECT_EQ(standin::OffsetCalls().size(), offsets + 1) << "the hook substitutes while loaded";
        Frame(true, true);
        Unload();
        ASSERT_EQ(standin::CallSiteBytes(host::kAimPointCallSite), aimOriginal);
        ASSERT_EQ(standin::CallSiteBytes(host::kFrameCallSite), frameOriginal);
        const auto image =
            standin::ReadHostBytes(standin::kHostCodeBegin, standin::kHostCodeEnd - standin::kHostCodeBegin);
        if (cycle == 0) imageAfterFirst = image;
        ASSERT_TRUE(image == imageAfterFirst);

        // The host goes on with its own functions.
        const auto lookups = standin::CharacterLookups().size();
        const auto opens = standin::Counters().settingsOpens;
        standin::Events().clear();
        Frame(true, true);
        EXPECT_EQ(standin::Events(), (std::vector<std::string>{"host frame function"}));
        EXPECT_EQ(AimCall(hostPoint).point, hostPoint);
        EXPECT_TRUE(lastOutcome.registersPreserved && lastOutcome.stackBalanced);
        EXPECT_EQ(standin::CharacterLookups().size(), lookups);
        EXPECT_EQ(standin::Counters().settingsOpens, opens);
    }
}

// With another plugin hooked on both calls after the first load, calling on
// through this plugin's hooks: the gates that keep its calls working are
// found again at every load, so nothing grows.
TEST_F(Lifecycle, ThousandsOfLoadsAndUnloadsLeaveNothingBehindWithAnotherPluginChainedThroughOurs) {
    Prepare(1001, settings_cases::ReferenceWith({{1, "reload 1"}}));
    standin::LogHostEvents(false);  // the doubles' own records would grow
    Load();
    const standin::ChainingHook otherAim = standin::PlaceChainingHook(host::kAimPointCallSite);
    const standin::ChainingHook otherFrame = standin::PlaceChainingHook(host::kFrameCallSite);
    Unload();
    auto cycle = [&] {
        Load();
        standin::RunHostFrame();
        Unload();
    };
    for (int i = 1; i < 10; ++i) cycle();
    const DWORD tlsAfter10 = NextFreeTlsIndex();
    const std::size_t heapAfter10 = BusyHeapBytes();
    const std::size_t addressSpaceAfter10 = AddressSpaceInUse();
    const DWORD handlesAfter10 = HandleCount();
    for (int i = 10; i < 2000; ++i) cycle();
    EXPECT_EQ(NextFreeTlsIndex(), tlsAfter10) << "a slot lost per cycle runs the process out after about 1,080";
    // A few hundred bytes of slack for the heaps' own bookkeeping; a leak of
    // even 16 bytes a cycle would show as 32 KB.
    EXPECT_LE(BusyHeapBytes(), heapAfter10 + 1024) << "after 10 cycles: " << heapAfter10;
    EXPECT_EQ(AddressSpaceInUse(), addressSpaceAfter10) << "a block of gates per load would take 64 KB each";
    EXPECT_GT(handlesAfter10, 0u) << "the handles could not be counted";
    EXPECT_EQ(HandleCount(), handlesAfter10);
    EXPECT_EQ(*otherFrame.calls, 1999u) << "the other plugin's frame hook ran on every frame";
    EXPECT_EQ(standin::HostFrameFunctionCalls(), 1999) << "and the game's frame function once each";
    EXPECT_TRUE(standin::RemoveChainingHook(otherAim));
    EXPECT_TRUE(standin::RemoveChainingHook(otherFrame));
    cycle();
    EXPECT_EQ(standin::CallSiteBytes(host::kAimPointCallSite), standin::OriginalAimCallBytes());
    EXPECT_EQ(standin::CallSiteBytes(host::kFrameCallSite), standin::OriginalFrameCallBytes());
}

// A start-up that runs out of memory half-way puts back everything it had
// changed and says so in the log, and the game runs on as without the
// plugin. Each allocation of a start-up in turn is the one that fails.
TEST_F(Lifecycle, AStartThatRunsOutOfMemoryPutsBackWhatItChanged) {
    const std::string settings = settings_cases::Join(settings_cases::ReferenceLines());
    Prepare(1001, settings);
    Load();
    const long allocations = standin::Counters().allocations;
    Unload();
    ASSERT_GT(allocations, 0) << "the counter sees the start-up's allocations";
    int rolledBack = 0;
    for (long failing = 1; failing <= allocations; ++failing) {
        SCOPED_TRACE(testing::Message() << "allocation " << failing << " of " << allocations << " fails");
        Prepare(1001, settings);
        standin::FailPluginAllocation(failing);
        Load();
        standin::FailPluginAllocation(0);
        if (directory.ReadLog().find("the start-up failed half-way") != std::string::npos) {
            ++rolledBack;
            EXPECT_EQ(standin::CallSiteBytes(host::kAimPointCallSite), standin::OriginalAimCallBytes());
            EXPECT_EQ(standin::CallSiteBytes(host::kFrameCallSite), standin::OriginalFrameCallBytes());
            standin::Character().SetWeapon(22);
            EXPECT_EQ(OffsetFor(22), std::nullopt) << "the aim call is the game's own";
        } else {
            EXPECT_TRUE(SiteCallsIntoPlugin()) << directory.ReadLog();
        }
        Unload();
        EXPECT_EQ(standin::CallSiteBytes(host::kAimPointCallSite), standin::OriginalAimCallBytes());
        EXPECT_EQ(standin::CallSiteBytes(host::kFrameCallSite), standin::OriginalFrameCallBytes())
            << directory.ReadLog();
    }
    EXPECT_GT(rolledBack, 0) << "the frame registration's allocations were among those that failed";
}

}  // namespace
