// The plugin while the game's threads run: an aim call on one thread while
// live reload writes on another, frames while a load goes on. The threads
// are plain Windows threads that touch nothing of the test framework.
#include "PluginSupport.h"
#include "plugin/AimSettings.h"

namespace {

using plugin_support::Bits;
using plugin_support::PluginTest;

class Concurrency : public PluginTest {};

// The offsets' own protocol, in this module's copy of the plugin's code: a
// read that starts while a load is writing a row returns that row whole,
// once the write is over. The writer gives a broken reader a fifth of a
// second to come back with half a row before it finishes.
TEST(WeaponOffsets, AReadDuringAWriteReturnsTheWholeRowOnceTheWriteIsOver) {
    const float before[3] = {1.5f, 2.5f, 3.5f}, after[3] = {-4.5f, -5.5f, -6.5f};
    BeginWeaponOffsetsWrite();
    WriteWeaponOffset(1, before, 3);
    EndWeaponOffsetsWrite();

    BeginWeaponOffsetsWrite();
    WriteWeaponOffset(1, after, 1);  // half-way through the row
    struct Read {
        float seen[3] = {};
        static DWORD WINAPI Run(void* self) {
            ReadWeaponOffset(1, static_cast<Read*>(self)->seen);
            return 0;
        }
    } read;
    HANDLE reader = CreateThread(nullptr, 0, &Read::Run, &read, 0, nullptr);
    ASSERT_NE(reader, nullptr);
    const DWORD earlyRead = WaitForSingleObject(reader, 200);
    WriteWeaponOffset(1, after, 3);
    EndWeaponOffsetsWrite();
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

}  // namespace
