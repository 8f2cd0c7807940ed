// The plugin while the game's threads run: an aim call on one thread while
// live reload writes on another, frames while a load goes on. The threads
// are plain Windows threads that touch nothing of the test framework.
#include "PluginSupport.h"
#include "plugin/AimSettings.h"

namespace {

using plugin_support::Bits;
using plugin_support::PluginTest;

// The plugin loaded with the sample file into a host that keeps no record of
// its calls (threads call it at once) and whose frame function returns 1234;
// and a host function held up: it sets `entered`, then waits for `release`.
class UnloadTest : public PluginTest {
protected:
    void LoadQuietly() {
        Prepare(1001, settings_cases::Join(settings_cases::ReferenceLines()));
        Load();
        standin::LogHostEvents(false);
        standin::SetHostFrameResult(1234);
    }
    struct Held {
        HANDLE entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        Held() = default;
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;
        ~Held() {
            CloseHandle(entered);
            CloseHandle(release);
        }
    };
};

class Concurrency : public UnloadTest {};

// One host frame, and the plugin's unload, each on a plain Windows thread of
// its own; `doneAs` says in which order they finished.
volatile LONG finishOrder = 0;
struct OneFrameThread {
    standin::HostCallOutcome outcome;
    LONG doneAs = 0;
    static DWORD WINAPI Run(void* self) {
        auto* f = static_cast<OneFrameThread*>(self);
        f->outcome = standin::RunHostFrame();
        f->doneAs = InterlockedIncrement(&finishOrder);
        return 0;
    }
};
struct UnloadThread {
    standin::PluginModule* plugin;
    LONG doneAs = 0;
    static DWORD WINAPI Run(void* self) {
        auto* u = static_cast<UnloadThread*>(self);
        u->plugin->Free();
        u->doneAs = InterlockedIncrement(&finishOrder);
        return 0;
    }
};

// The offsets' own protocol, in this module's copy of the plugin's code: a
// read that starts while a load is writing a row returns that row whole,
// once the write is over. The writer gives a broken reader a fifth of a
// second to come back with half a row before it finishes.
TEST(WeaponOffsets, AReadDuringAWriteReturnsTheWholeRowOnceTheWriteIsOver) {
    const float before[3] = {1.5f, 2.5f, 3.5f}, after[3] = {-4.5f, -5.5f, -6.5f};
    static AimSettings record;
    record.BeginWeaponOffsetsWrite();
    record.WriteWeaponOffset(1, before, 3);
    record.EndWeaponOffsetsWrite();

    record.BeginWeaponOffsetsWrite();
    record.WriteWeaponOffset(1, after, 1);  // half-way through the row
    struct Read {
        float seen[3] = {};
        static DWORD WINAPI Run(void* self) {
            record.ReadWeaponOffset(1, static_cast<Read*>(self)->seen);
            return 0;
        }
    } read;
    HANDLE reader = CreateThread(nullptr, 0, &Read::Run, &read, 0, nullptr);
    ASSERT_NE(reader, nullptr);
    const DWORD earlyRead = WaitForSingleObject(reader, 200);
    record.WriteWeaponOffset(1, after, 3);
    record.EndWeaponOffsetsWrite();
    WaitForSingleObject(reader, INFINITE);
    CloseHandle(reader);
    const float(&seen)[3] = read.seen;
    EXPECT_EQ(earlyRead, static_cast<DWORD>(WAIT_TIMEOUT)) << "the read came back while the row was half written";
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Bits(seen[i]), Bits(after[i])) << i;
}

// Two saves whose weapon-22 rows share no component, alternated while frames
// run live reload on this thread and another thread makes aim calls: every
// vector the aim calls hand on is the one save's or the other's, whole.
TEST_F(Concurrency, AnAimCallOnAnotherThreadNeverSeesHalfOfOneSaveAndHalfOfTheNext) {
    const std::string saves[2] = {settings_cases::ReferenceWith({{1, "reload 1"}, {17, "w1 1.5 2.5 3.5"}}),
                                  settings_cases::ReferenceWith({{1, "reload 1"}, {17, "w1 -4.5 -5.5 -6.5"}})};
    const std::array<std::uint32_t, 3> rows[2] = {{Bits(1.5f), Bits(2.5f), Bits(3.5f)},
                                                  {Bits(-4.5f), Bits(-5.5f), Bits(-6.5f)}};
    Prepare(1001, saves[0]);
    Load();
    standin::LogHostEvents(false);
    standin::Character().SetWeapon(22);
    struct Aimer {
        void* object;
        volatile LONG stop = 0;
        static DWORD WINAPI Run(void* self) {
            auto* a = static_cast<Aimer*>(self);
            static const float point[3] = {1.0f, 2.0f, 3.0f};
            standin::AimCallArgs args;
            args.object = a->object;
            args.point = point;
            for (int calls = 0; calls < 400000 && !InterlockedCompareExchange(&a->stop, 0, 0); ++calls)
                standin::RunHostAimCall(args);
            return 0;
        }
    } aimer{&hostObject};
    HANDLE thread = CreateThread(nullptr, 0, &Aimer::Run, &aimer, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    for (int save = 0; save < 400; ++save) {
        directory.WriteSettings(saves[save % 2]);
        for (int frame = 0; frame < 3; ++frame) standin::RunHostFrame();
    }
    InterlockedExchange(&aimer.stop, 1);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    int mixed = 0;
    for (const standin::OffsetCall& call : standin::OffsetCalls())
        if (call.offsetBits != rows[0] && call.offsetBits != rows[1]) ++mixed;
    EXPECT_EQ(mixed, 0) << "of " << standin::OffsetCalls().size() << " aim calls";
    EXPECT_GT(standin::OffsetCalls().size(), 0u);
}

// A plugin manager loads the plugin on one thread while the game runs frames
// on another: the frame hook is complete before the call site is written, so
// every frame returns the game's own result, before, during and after. The
// frame thread touches nothing of the test framework.
struct FrameThread {
    volatile LONG started = 0;
    volatile LONG stop = 0;
    long frames = 0;
    long wrong = 0;

    static DWORD WINAPI Run(void* self) {
        auto* t = static_cast<FrameThread*>(self);
        while (!InterlockedCompareExchange(&t->stop, 0, 0)) {
            if (standin::RunHostFrame().result != 1234) ++t->wrong;
            ++t->frames;
            InterlockedExchange(&t->started, 1);
        }
        return 0;
    }
};

TEST_F(Concurrency, FramesOnAnotherThreadWhileThePluginLoadsReturnTheGamesResult) {
    Prepare(1001, settings_cases::Join(settings_cases::ReferenceLines()));
    standin::LogHostEvents(false);
    standin::SetHostFrameResult(1234);
    long frames = 0, wrong = 0;
    for (int cycle = 0; cycle < 20; ++cycle) {
        FrameThread framer;
        HANDLE thread = CreateThread(nullptr, 0, &FrameThread::Run, &framer, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        while (!InterlockedCompareExchange(&framer.started, 0, 0)) SwitchToThread();
        Load();
        InterlockedExchange(&framer.stop, 1);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        Unload();
        frames += framer.frames;
        wrong += framer.wrong;
    }
    EXPECT_EQ(wrong, 0) << "of " << frames << " frames";
}

// A host thread makes both hooked calls in a tight loop while this thread
// loads and frees the plugin 200 times: every call arrives, hooked or as
// the game's own, and returns with the stack and registers as they were.
struct HostCaller {
    void* object = nullptr;
    volatile LONG started = 0;
    volatile LONG stop = 0;
    long aimCalls = 0, frames = 0, wrongFrames = 0, unbalanced = 0;
    long lastFault = 0;  // what failed last: 1, 2 the aim call's stack, registers; 4, 8 the frame's

    static DWORD WINAPI Run(void* self) {
        auto* t = static_cast<HostCaller*>(self);
        static const float point[3] = {1.0f, 2.0f, 3.0f};
        standin::AimCallArgs args;
        args.object = t->object;
        args.point = point;
        while (!InterlockedCompareExchange(&t->stop, 0, 0)) {
            const standin::HostCallOutcome aim = standin::RunHostAimCall(args);
            ++t->aimCalls;
            const standin::HostCallOutcome frame = standin::RunHostFrame();
            ++t->frames;
            if (frame.result != 1234) ++t->wrongFrames;
            if (!aim.stackBalanced || !aim.registersPreserved || !frame.stackBalanced || !frame.registersPreserved) {
                ++t->unbalanced;
                t->lastFault = (aim.stackBalanced ? 0 : 1) | (aim.registersPreserved ? 0 : 2) |
                               (frame.stackBalanced ? 0 : 4) | (frame.registersPreserved ? 0 : 8);
            }
            InterlockedExchange(&t->started, 1);
        }
        return 0;
    }
};

TEST_F(Concurrency, LoadsAndUnloadsWhileAHostThreadMakesBothCallsLoseNoCall) {
    Prepare(1001, settings_cases::Join(settings_cases::ReferenceLines()));
    standin::LogHostEvents(false);
    standin::SetHostFrameResult(1234);
    standin::Character().SetWeapon(22);
    HostCaller caller;
    caller.object = &hostObject;
    HANDLE thread = CreateThread(nullptr, 0, &HostCaller::Run, &caller, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    while (!InterlockedCompareExchange(&caller.started, 0, 0)) SwitchToThread();
    for (int cycle = 0; cycle < 200; ++cycle) {
        Load();
        Unload();
    }
    InterlockedExchange(&caller.stop, 1);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(standin::HostAimFunctionCallCount(), caller.aimCalls) << "each aim call reached the game once";
    EXPECT_EQ(standin::HostFrameFunctionCalls(), caller.frames) << "each frame reached the game once";
    EXPECT_LE(standin::HostOffsetCallCount(), caller.aimCalls);
    EXPECT_GT(standin::HostOffsetCallCount(), 0) << "some aim calls came while the plugin was loaded";
    EXPECT_EQ(caller.wrongFrames, 0) << "of " << caller.frames;
    EXPECT_EQ(caller.unbalanced, 0) << "of " << caller.aimCalls << " aim calls and frames (last fault "
                                    << caller.lastFault << ")";
    EXPECT_EQ(standin::CallSiteBytes(host::kAimPointCallSite), standin::OriginalAimCallBytes());
    EXPECT_EQ(standin::CallSiteBytes(host::kFrameCallSite), standin::OriginalFrameCallBytes());
}

// FreeLibrary on one thread while a frame on another sits inside the game's
// frame function (a loading screen, say): the unload does not wait for the
// game, the module is gone while the frame is still inside, and the frame
// then returns into the gate, and from there to the game, as if nothing
// had happened.
TEST_F(Concurrency, AnUnloadDoesNotWaitForAFrameInsideTheGamesFrameFunction) {
    LoadQuietly();
    const HMODULE module = plugin->Handle();
    Held held;
    HANDLE entered = held.entered, release = held.release;
    standin::HoldNextHostFrame(entered, release);
    OneFrameThread frame;
    UnloadThread unloader{plugin.get()};
    HANDLE frameThread = CreateThread(nullptr, 0, &OneFrameThread::Run, &frame, 0, nullptr);
    ASSERT_NE(frameThread, nullptr);
    WaitForSingleObject(entered, INFINITE);
    HANDLE unloadThread = CreateThread(nullptr, 0, &UnloadThread::Run, &unloader, 0, nullptr);
    ASSERT_NE(unloadThread, nullptr);
    // The frame is held for up to 10 s; the unload is over long before.
    EXPECT_EQ(WaitForSingleObject(unloadThread, 10000), static_cast<DWORD>(WAIT_OBJECT_0))
        << "the unload waited for the game's frame function";
    HMODULE still = nullptr;
    EXPECT_FALSE(
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCWSTR>(module), &still))
        << "the module is gone while the frame is inside the game";
    SetEvent(release);
    WaitForSingleObject(frameThread, INFINITE);
    for (HANDLE h : {frameThread, unloadThread}) CloseHandle(h);
    EXPECT_EQ(frame.outcome.result, 1234u);
    EXPECT_TRUE(frame.outcome.stackBalanced && frame.outcome.registersPreserved);
    const std::string log = directory.ReadLog();
    EXPECT_NE(log.find("unload: no call left inside the plugin (waited "), std::string::npos) << log;
    EXPECT_NE(log.find(", for no thread)"), std::string::npos) << log;
}

// The frame call's gate entered straight, on a stack two bytes off the word
// boundary (a game's own code may call so).
extern "C" std::uint32_t __cdecl call_with_stack_off_by_two(std::uint32_t function);
__asm__(
    ".text\n"
    "_call_with_stack_off_by_two:\n"
    "    push %ebp\n"
    "    mov %esp, %ebp\n"
    "    sub $2, %esp\n"
    "    call *8(%ebp)\n"
    "    leave\n"
    "    ret\n");

// A frame that is inside the plugin's own code (here: a key query held up
// in the system) is waited for, and the unload returns only once it is out;
// also when the gate was entered on a misaligned stack (the gate aligns its
// frame, so the mark is found all the same).
TEST_F(Concurrency, AnUnloadWaitsForAFrameInsideThePlugin) {
    struct Frame {
        bool misaligned;
        std::uint32_t gate = 0, result = 0;
        bool balanced = true;
        LONG doneAs = 0;
        static DWORD WINAPI Run(void* self) {
            auto* f = static_cast<Frame*>(self);
            if (f->misaligned) {
                f->result = call_with_stack_off_by_two(f->gate);  // what the frame call calls: the gate
            } else {
                const standin::HostCallOutcome outcome = standin::RunHostFrame();
                f->result = outcome.result;
                f->balanced = outcome.stackBalanced && outcome.registersPreserved;
            }
            f->doneAs = InterlockedIncrement(&finishOrder);
            return 0;
        }
    };
    for (const bool misaligned : {false, true}) {
        SCOPED_TRACE(misaligned ? "the gate entered on a stack 2 bytes off" : "the game's frame call");
        LoadQuietly();
        Held held;
        HANDLE entered = held.entered, release = held.release;
        standin::HoldNextKeyQuery(entered, release);
        Frame frame{misaligned, codepatch::branch_target(codepatch::patch_address(host::kFrameCallSite))};
        UnloadThread unloader{plugin.get()};
        HANDLE frameThread = CreateThread(nullptr, 0, &Frame::Run, &frame, 0, nullptr);
        ASSERT_NE(frameThread, nullptr);
        ASSERT_EQ(WaitForSingleObject(entered, 10000), static_cast<DWORD>(WAIT_OBJECT_0)) << "the frame queried a key";
        HANDLE unloadThread = CreateThread(nullptr, 0, &UnloadThread::Run, &unloader, 0, nullptr);
        ASSERT_NE(unloadThread, nullptr);
        // An event, not a timing: the unload cannot finish while the frame is held.
        EXPECT_EQ(WaitForSingleObject(unloadThread, 100), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the unload returned while a frame was inside the plugin";
        SetEvent(release);
        WaitForSingleObject(unloadThread, INFINITE);
        WaitForSingleObject(frameThread, INFINITE);
        for (HANDLE h : {frameThread, unloadThread}) CloseHandle(h);
        plugin.reset();
        EXPECT_LT(frame.doneAs, unloader.doneAs) << "the frame was out before the unload returned";
        EXPECT_EQ(frame.result, 1234u);
        EXPECT_TRUE(frame.balanced);
        const std::string log = directory.ReadLog();
        EXPECT_NE(log.find("for 1 thread(s) that were inside it)"), std::string::npos) << log;
    }
}

// The game's frame function, held in a loading screen, loads and frees a
// library over and over (each load takes the loader lock, which the unload
// holds) while the plugin unloads on another thread: the unload does not
// wait for it, and the frame returns to the game.
TEST_F(Concurrency, AnUnloadWhileTheGamesFrameFunctionLoadsLibrariesFinishes) {
    LoadQuietly();
    Held held;
    HANDLE entered = held.entered, release = held.release;
    standin::HoldNextHostFrameLoadingLibrary(entered, release, L"version.dll");
    OneFrameThread frame;
    HANDLE frameThread = CreateThread(nullptr, 0, &OneFrameThread::Run, &frame, 0, nullptr);
    ASSERT_NE(frameThread, nullptr);
    WaitForSingleObject(entered, INFINITE);
    Unload();  // on this thread, with the frame thread taking the loader lock in a loop
    SetEvent(release);
    WaitForSingleObject(frameThread, INFINITE);
    CloseHandle(frameThread);
    EXPECT_EQ(frame.outcome.result, 1234u);
    EXPECT_TRUE(frame.outcome.stackBalanced && frame.outcome.registersPreserved);
    EXPECT_NE(directory.ReadLog().find(", for no thread)"), std::string::npos) << directory.ReadLog();
}

// Frames that read an edited file, and log what they read, on one thread
// while the plugin unloads on another: both write the log, one at a time,
// and the unload's lines come last, after every frame's.
TEST_F(Concurrency, AFrameThatLogsWhileThePluginUnloadsLeavesAWholeLog) {
    Prepare(1001, settings_cases::ReferenceWith({{1, "reload 1"}}));
    directory.AgeSettings();
    standin::LogHostEvents(false);
    struct Framer {
        const standin::PluginSandbox* directory;
        volatile LONG started = 0, stop = 0;
        static DWORD WINAPI Run(void* self) {
            auto* f = static_cast<Framer*>(self);
            for (int n = 0; !InterlockedCompareExchange(&f->stop, 0, 0); ++n) {
                f->directory->WriteSettings(
                    settings_cases::ReferenceWith({{1, "reload 1"}, {3, n % 2 ? "value3 abc" : "value3 abcd"}}));
                standin::RunHostFrame();
                InterlockedExchange(&f->started, 1);
            }
            return 0;
        }
    };
    for (int cycle = 0; cycle < 10; ++cycle) {
        SCOPED_TRACE(cycle);
        Load();
        Framer framer{&directory};
        HANDLE thread = CreateThread(nullptr, 0, &Framer::Run, &framer, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        while (!InterlockedCompareExchange(&framer.started, 0, 0)) SwitchToThread();
        Unload();
        InterlockedExchange(&framer.stop, 1);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        const std::string log = directory.ReadLog();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log.substr(log.size() - 10), "unloaded\r\n") << log;
        const std::size_t unload = log.find("unload: ");
        ASSERT_NE(unload, std::string::npos) << log;
        EXPECT_EQ(log.find("settings file", unload), std::string::npos) << "a frame's lines after the unload's";
        // Every line whole: text, CR LF, and no stray CR or LF inside.
        for (std::size_t at = 0; at < log.size();) {
            const std::size_t end = log.find("\r\n", at);
            ASSERT_NE(end, std::string::npos) << "a line without its end: " << log.substr(at);
            EXPECT_EQ(log.substr(at, end - at).find_first_of("\r\n"), std::string::npos);
            at = end + 2;
        }
    }
}

// ---- What an unload waits for, and what it does not --------------------------
// (A frame inside the game's frame function, inside the plugin's own key
// query, and inside a frame function that loads libraries are above.)

// One aim call for weapon 22 on a plain Windows thread of its own.
struct OneAimCallThread {
    standin::HostCallOutcome outcome;
    static DWORD WINAPI Run(void* self) {
        static int object = 0x0B1EC7;
        static const float point[3] = {1.0f, 2.0f, 3.0f};
        standin::AimCallArgs args{&object, point, 0x3F800000, 0x40000000, 0x40400000};
        static_cast<OneAimCallThread*>(self)->outcome = standin::RunHostAimCall(args);
        return 0;
    }
};

// The aim call's thread is inside the game's character lookup, which loads
// a library over and over (each load needs the loader lock, which the
// unload holds): the gate makes that call, not the plugin, so the unload
// waits for nothing, and the call, once the lookup returns, goes on to the
// game's function unchanged.
TEST_F(Concurrency, AnUnloadDoesNotWaitForAnAimCallInsideTheGamesLookupThatLoadsALibrary) {
    LoadQuietly();
    standin::Character().SetWeapon(22);
    Held held;
    HANDLE entered = held.entered, release = held.release;
    standin::HoldNextCharacterLookup(entered, release, L"version.dll");
    OneAimCallThread aim;
    HANDLE thread = CreateThread(nullptr, 0, &OneAimCallThread::Run, &aim, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(entered, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    Unload();  // on this thread, with the aim thread taking the loader lock in a loop
    SetEvent(release);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(aim.outcome.result & 0xFFFF0000u, standin::kAimFunctionResult) << "the game's function answered";
    EXPECT_TRUE(aim.outcome.stackBalanced && aim.outcome.registersPreserved);
    EXPECT_EQ(standin::HostOffsetCallCount(), 0) << "nothing substituted once the plugin was gone";
    EXPECT_NE(directory.ReadLog().find(", for no thread)"), std::string::npos) << directory.ReadLog();
}

// The game's lookup leaves by longjmp, past the gate, to the game's own
// recovery, and the thread then waits there: nothing of the plugin's is on
// its stack, so the unload waits for nothing, and the next aim call works.
TEST_F(Concurrency, AnAimCallWhoseLookupLeavesByLongjmpLeavesNothingToWaitFor) {
    Prepare(1001, settings_cases::Join(settings_cases::ReferenceLines()));
    Load();
    standin::LogHostEvents(false);
    standin::Character().SetWeapon(22);
    struct Recovering {
        HANDLE recovered, release;
        volatile LONG leftByLongjmp = 0;
        static DWORD WINAPI Run(void* self) {
            auto* r = static_cast<Recovering*>(self);
            void* recovery[5];
            if (__builtin_setjmp(recovery) == 0) {
                standin::LeaveNextCharacterLookupTo(recovery);
                OneAimCallThread call;
                OneAimCallThread::Run(&call);
            } else {
                InterlockedExchange(&r->leftByLongjmp, 1);
            }
            SetEvent(r->recovered);
            WaitForSingleObject(r->release, INFINITE);
            return 0;
        }
    } recovering{CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, &Recovering::Run, &recovering, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(recovering.recovered, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(recovering.leftByLongjmp, 1);
    Unload();
    SetEvent(recovering.release);
    WaitForSingleObject(thread, INFINITE);
    for (HANDLE h : {thread, recovering.recovered, recovering.release}) CloseHandle(h);
    EXPECT_NE(directory.ReadLog().find(", for no thread)"), std::string::npos) << directory.ReadLog();
    const long offsets = standin::HostOffsetCallCount();
    OneAimCallThread after;
    OneAimCallThread::Run(&after);
    EXPECT_TRUE(after.outcome.stackBalanced && after.outcome.registersPreserved);
    EXPECT_EQ(standin::HostOffsetCallCount(), offsets);
}

// A game thread that no other thread may open (its security descriptor has
// an empty access list) is inside the plugin's frame handler as the plugin
// unloads. The unload cannot tell whether it is inside, so it takes the
// safe way: it does not wait, keeps the plugin's code and data in memory,
// and says so; the frame then comes back through code that is still there.
// The module stays loaded, so the suite runs in a process of its own
// (tests/CMakeLists.txt).
class UnseenThread : public UnloadTest {
protected:
    void ExpectKeptInMemory(SECURITY_ATTRIBUTES* frameThreadAttributes, const char* why);
    static bool Mapped(HMODULE module) {
        HMODULE still = nullptr;
        return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                  reinterpret_cast<LPCWSTR>(module), &still);
    }
};

// Where the unload cannot rule out a thread inside the plugin, it takes the
// safe way: it keeps the plugin's code and data in memory, says so and why,
// and the frame then comes back through code that is still there; the call
// sites are put back all the same. (Each case loads from a folder of its
// own: the DLL of the one before stays loaded.)
void UnseenThread::ExpectKeptInMemory(SECURITY_ATTRIBUTES* frameThreadAttributes, const char* why) {
    LoadQuietly();
    const HMODULE module = plugin->Handle();
    Held held;
    standin::HoldNextKeyQuery(held.entered, held.release);
    OneFrameThread frame;
    DWORD id = 0;
    HANDLE frameThread = CreateThread(frameThreadAttributes, 0, &OneFrameThread::Run, &frame, 0, &id);
    ASSERT_NE(frameThread, nullptr);
    ASSERT_EQ(WaitForSingleObject(held.entered, 10000), static_cast<DWORD>(WAIT_OBJECT_0)) << "the frame queried a key";
    if (frameThreadAttributes) {
        HANDLE opened = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, id);
        EXPECT_EQ(opened, nullptr) << "the thread can be opened: this case shows nothing here";
        if (opened) CloseHandle(opened);
    }
    Unload();  // the frame is released only afterwards
    EXPECT_TRUE(Mapped(module)) << "the plugin's code went while a thread may have been inside it";
    SetEvent(held.release);
    WaitForSingleObject(frameThread, INFINITE);
    CloseHandle(frameThread);
    EXPECT_EQ(frame.outcome.result, 1234u);
    EXPECT_TRUE(frame.outcome.stackBalanced && frame.outcome.registersPreserved);
    const std::string log = directory.ReadLog();
    EXPECT_NE(log.find(why), std::string::npos) << log;
    EXPECT_NE(log.find("keeps its code and data in memory until the game exits"), std::string::npos) << log;
    EXPECT_EQ(standin::CallSiteBytes(host::kFrameCallSite), standin::OriginalFrameCallBytes());
    EXPECT_EQ(standin::CallSiteBytes(host::kAimPointCallSite), standin::OriginalAimCallBytes());
}

// A frame held inside the plugin's key query past the unload's bound (a
// thread starved or stuck in the system).
TEST_F(UnseenThread, AThreadStillInsideAtTheBoundKeepsThePluginInMemory) {
    ExpectKeptInMemory(nullptr, "1 thread(s) of the game were still inside the plugin after 2.");
}

// A thread that no other thread may open (its security descriptor has an
// empty access list): the unload cannot look at it.
TEST_F(UnseenThread, AThreadTheUnloadCannotLookAtKeepsThePluginInMemory) {
    SECURITY_DESCRIPTOR descriptor;
    ACL emptyList;
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(InitializeAcl(&emptyList, sizeof emptyList, ACL_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, &emptyList, FALSE));
    SECURITY_ATTRIBUTES closed{sizeof closed, &descriptor, FALSE};
    ExpectKeptInMemory(&closed, "1 thread(s) of the game could not be looked at");
}

}  // namespace
