// Patch primitives on real bytes of the stand-in host's code pages, with the
// VirtualProtect calls counted through this module's own import.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "codepatch/branch.h"
#include "codepatch/call_patch.h"
#include "codepatch/memory.h"
#include "codepatch/scoped_patch.h"
#include "standin_host/Standin.h"

namespace {

using codepatch::patch_address;

constexpr std::uint32_t kScratch = 0x560000;  // a host code page nothing else uses
constexpr std::uint32_t kSlot = 0x7A0000;     // a host data word

struct ProtectCall {
    std::uint32_t address, size, protection;
    bool succeeded;
};

// Records every VirtualProtect call this module makes while alive.
class VirtualProtectRecorder {
public:
    VirtualProtectRecorder() {
        calls().clear();
        real() = reinterpret_cast<Fn>(standin::ReplaceImport(standin::ThisModule(), "kernel32.dll", "VirtualProtect",
                                                             reinterpret_cast<void*>(&Recording)));
    }
    ~VirtualProtectRecorder() {
        standin::ReplaceImport(standin::ThisModule(), "kernel32.dll", "VirtualProtect",
                               reinterpret_cast<void*>(real()));
    }
    static std::vector<ProtectCall>& calls() {
        static std::vector<ProtectCall> c;
        return c;
    }

private:
    using Fn = BOOL(WINAPI*)(LPVOID, SIZE_T, DWORD, PDWORD);
    static Fn& real() {
        static Fn r = nullptr;
        return r;
    }
    static BOOL WINAPI Recording(LPVOID address, SIZE_T size, DWORD protection, PDWORD old) {
        const BOOL ok = real()(address, size, protection, old);
        calls().push_back({static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address)),
                           static_cast<std::uint32_t>(size), protection, ok != 0});
        return ok;
    }
};

DWORD ProtectionAt(std::uint32_t address) {
    MEMORY_BASIC_INFORMATION info;
    VirtualQuery(reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)), &info, sizeof info);
    return info.Protect;
}

void Put(std::uint32_t address, std::initializer_list<std::uint8_t> bytes) {
    std::vector<std::uint8_t> v(bytes);
    standin::WriteHostBytes(address, v.data(), v.size());
}

std::vector<std::uint8_t> Bytes(std::initializer_list<std::uint8_t> bytes) {
    return bytes;
}

std::vector<std::uint8_t> CallTo(std::uint32_t site, std::uint32_t destination) {
    const std::uint32_t rel = destination - site - 5;
    std::vector<std::uint8_t> v = {0xE8, 0, 0, 0, 0};
    std::memcpy(&v[1], &rel, 4);
    return v;
}

// ---- Branch decoding ---------------------------------------------------------
struct DecodeCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::uint32_t expected;
};

class BranchDecoding : public testing::TestWithParam<DecodeCase> {};

TEST_P(BranchDecoding, DecodesTheFourFormsAndNothingElse) {
    standin::ResetHost(0);
    standin::WriteHostWord(kSlot, 0x00ABCDEF);
    standin::WriteHostBytes(kScratch, GetParam().bytes.data(), GetParam().bytes.size());
    EXPECT_EQ(codepatch::branch_target(patch_address(kScratch)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, BranchDecoding,
    testing::Values(DecodeCase{"call_zero", {0xE8, 0, 0, 0, 0}, kScratch + 5},
                    DecodeCase{"jump_minus_one", {0xE9, 0xFF, 0xFF, 0xFF, 0xFF}, kScratch + 4},
                    DecodeCase{"call_backwards", {0xE8, 0x00, 0xF0, 0xFF, 0xFF}, kScratch + 5 - 0x1000},
                    DecodeCase{"call_wraps", {0xE8, 0x00, 0x00, 0x00, 0xFF}, kScratch + 5 + 0xFF000000u},
                    DecodeCase{"call_indirect", {0xFF, 0x15, 0x00, 0x00, 0x7A, 0x00}, 0x00ABCDEF},
                    DecodeCase{"jump_indirect", {0xFF, 0x25, 0x00, 0x00, 0x7A, 0x00}, 0x00ABCDEF},
                    DecodeCase{"push_indirect", {0xFF, 0x35, 0x00, 0x00, 0x7A, 0x00}, 0},
                    DecodeCase{"call_register", {0xFF, 0xD0, 0, 0, 0, 0}, 0},
                    DecodeCase{"nop", {0x90, 0xE8, 0, 0, 0, 0}, 0}, DecodeCase{"short_jump", {0xEB, 0x10, 0, 0, 0}, 0}),
    [](const testing::TestParamInfo<DecodeCase>& param) { return std::string(param.param.name); });

TEST(RedirectCall, WritesARelativeCallAndReturnsTheFormerTarget) {
    standin::ResetHost(0);
    struct Case {
        std::vector<std::uint8_t> before;
        std::uint32_t destination, previous;
    };
    const Case cases[] = {
        {CallTo(kScratch, 0x521500), 0x53F0A0, 0x521500},
        {Bytes({0xE9, 0x00, 0x00, 0x00, 0x00}), 0x401000, kScratch + 5},
        {Bytes({0x90, 0x90, 0x90, 0x90, 0x90}), 0x7000AB00, 0},  // not a branch: written all the same
        {Bytes({0xE8, 0, 0, 0, 0}), kScratch, kScratch + 5},     // a call to itself
    };
    for (const Case& c : cases) {
        standin::WriteHostBytes(kScratch, c.before.data(), c.before.size());
        EXPECT_EQ(codepatch::redirect_call(patch_address(kScratch), c.destination), c.previous);
        EXPECT_EQ(standin::ReadHostBytes(kScratch, 5), CallTo(kScratch, c.destination));
        EXPECT_EQ(codepatch::branch_target(patch_address(kScratch)), c.destination);
    }
}

TEST(RedirectCall, BracketsTheWholeCallOnce) {
    standin::ResetHost(0);
    Put(kScratch, {0xE8, 0, 0, 0, 0});
    VirtualProtectRecorder recorder;
    codepatch::redirect_call(patch_address(kScratch), 0x521500);
    // Decoding (1 + 4 bytes), then one bracket for the 5 bytes of the call:
    // a thread running the site meanwhile never finds it closed.
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
        {kScratch, 1}, {kScratch, 1}, {kScratch + 1, 4}, {kScratch + 1, 4}, {kScratch, 5}, {kScratch, 5}};
    ASSERT_EQ(recorder.calls().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(recorder.calls()[i].address, expected[i].first) << i;
        EXPECT_EQ(recorder.calls()[i].size, expected[i].second) << i;
        if (i % 2 == 0) {
            EXPECT_EQ(recorder.calls()[i].protection, static_cast<DWORD>(PAGE_EXECUTE_READWRITE));
        }
    }
    EXPECT_EQ(ProtectionAt(kScratch), static_cast<DWORD>(PAGE_EXECUTE_READ));
}

// ---- Protection bracket ----------------------------------------------------
TEST(ProtectionBracket, LiftsExactlyTheBytesTouchedAndPutsTheOldProtectionBack) {
    standin::ResetHost(0);
    ASSERT_EQ(ProtectionAt(kScratch), static_cast<DWORD>(PAGE_EXECUTE_READ));
    VirtualProtectRecorder recorder;
    codepatch::poke_u32(patch_address(kScratch + 0x11), 0xCAFEF00D);
    EXPECT_EQ(codepatch::peek_u32(patch_address(kScratch + 0x11)), 0xCAFEF00Du);
    EXPECT_EQ(codepatch::peek_u8(patch_address(kScratch + 0x12)), 0xF0);
    std::uint8_t out[3] = {};
    codepatch::protected_read(patch_address(kScratch + 0x11), out, 3, codepatch::protection::lift);
    EXPECT_EQ(out[2], 0xFE);
    const std::uint8_t in[7] = {1, 2, 3, 4, 5, 6, 7};
    codepatch::protected_write(patch_address(kScratch + 0x20), in, 7, codepatch::protection::lift);
    const auto calls = recorder.calls();
    EXPECT_EQ(standin::ReadHostBytes(kScratch + 0x20, 7), Bytes({1, 2, 3, 4, 5, 6, 7}));

    const std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges = {
        {kScratch + 0x11, 4}, {kScratch + 0x11, 4}, {kScratch + 0x12, 1}, {kScratch + 0x11, 3}, {kScratch + 0x20, 7}};
    ASSERT_EQ(calls.size(), 2 * ranges.size());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const ProtectCall& call = calls[i];
        EXPECT_EQ(call.address, ranges[i / 2].first) << i;
        EXPECT_EQ(call.size, ranges[i / 2].second) << i;
        EXPECT_EQ(call.protection,
                  i % 2 == 0 ? static_cast<DWORD>(PAGE_EXECUTE_READWRITE) : static_cast<DWORD>(PAGE_EXECUTE_READ))
            << i;
    }
    EXPECT_EQ(ProtectionAt(kScratch), static_cast<DWORD>(PAGE_EXECUTE_READ));
}

TEST(ProtectionBracket, NoSystemCallWithoutUnprotectOrBytes) {
    standin::ResetHost(0);
    constexpr std::uint32_t kData = 0x7A0100;  // plain read-write host data
    const std::uint8_t in[4] = {9, 8, 7, 6};
    std::uint8_t out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    VirtualProtectRecorder recorder;
    codepatch::protected_write(patch_address(kData), in, 4, codepatch::protection::keep);
    codepatch::protected_read(patch_address(kData), out, 4, codepatch::protection::keep);
    codepatch::protected_write(patch_address(kData), in + 1, 0, codepatch::protection::lift);
    codepatch::protected_read(patch_address(kData), out + 3, 0, codepatch::protection::lift);
    EXPECT_TRUE(recorder.calls().empty());
    EXPECT_EQ(standin::ReadHostBytes(kData, 4), Bytes({9, 8, 7, 6}));
    EXPECT_EQ(out[0], 9);
    EXPECT_EQ(out[3], 6);
}

TEST(ProtectionBracket, FailedVirtualProtectStillReadsAndMakesNoSecondCall) {
    // A view of a read-only file mapping: raising it to PAGE_EXECUTE_READWRITE
    // is refused while reads work.
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nullptr);
    ASSERT_NE(mapping, nullptr);
    auto* writable = static_cast<std::uint32_t*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 4096));
    auto* readOnly = static_cast<std::uint32_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 4096));
    ASSERT_NE(readOnly, nullptr);
    writable[3] = 0x8BADF00D;
    const patch_address at(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&readOnly[3])));
    {
        VirtualProtectRecorder recorder;
        EXPECT_EQ(codepatch::peek_u32(at), 0x8BADF00Du);
        EXPECT_EQ(codepatch::peek_u8(at), 0x0D);
        ASSERT_EQ(recorder.calls().size(), 2u);  // one refused attempt per access
        EXPECT_FALSE(recorder.calls()[0].succeeded);
        EXPECT_FALSE(recorder.calls()[1].succeeded);
    }
    UnmapViewOfFile(readOnly);
    UnmapViewOfFile(writable);
    CloseHandle(mapping);
}

// ---- Restorable patches ------------------------------------------------------
TEST(ScopedBasic, RevertAndDestructionPutBackExactlyTheSavedBytes) {
    standin::ResetHost(0);
    const auto original = Bytes({0x55, 0x8B, 0xEC, 0x53, 0x56});
    const auto patched = Bytes({0xE8, 0x11, 0x22, 0x33, 0x44});
    standin::WriteHostBytes(kScratch, original.data(), 5);
    {
        codepatch::scoped_basic<5> saved;
        EXPECT_FALSE(saved.is_saved());
        EXPECT_EQ(saved.address().value, 0u);
        saved.capture(patch_address(kScratch), 5, codepatch::protection::lift);
        EXPECT_TRUE(saved.is_saved());
        EXPECT_EQ(standin::ReadHostBytes(kScratch, 5), original);  // capture writes nothing
        standin::WriteHostBytes(kScratch, patched.data(), 5);
        saved.revert();
        EXPECT_EQ(standin::ReadHostBytes(kScratch, 5), original);
        EXPECT_FALSE(saved.is_saved());

        standin::WriteHostBytes(kScratch, patched.data(), 5);
        VirtualProtectRecorder recorder;
        saved.revert();  // nothing saved any more: writes nothing
        EXPECT_TRUE(recorder.calls().empty());
        EXPECT_EQ(standin::ReadHostBytes(kScratch, 5), patched);
    }
    // Destroying an empty patch writes nothing either.
    EXPECT_EQ(standin::ReadHostBytes(kScratch, 5), patched);

    standin::WriteHostBytes(kScratch, original.data(), 5);
    {
        codepatch::scoped_call saved;
        saved.capture(patch_address(kScratch + 1), 3, codepatch::protection::lift);  // only the middle bytes
        standin::WriteHostBytes(kScratch, patched.data(), 5);
    }
    EXPECT_EQ(standin::ReadHostBytes(kScratch, 5), Bytes({0xE8, 0x8B, 0xEC, 0x53, 0x44}));
}

TEST(ScopedBasic, CaptureOnASavedPatchWritesTheOldBytesBackFirst) {
    standin::ResetHost(0);
    Put(kScratch, {1, 2, 3, 4, 5});
    Put(kScratch + 0x40, {6, 7, 8, 9, 10});
    codepatch::scoped_basic<5> saved;
    saved.capture(patch_address(kScratch), 5, codepatch::protection::lift);
    Put(kScratch, {0xEE, 0xEE, 0xEE, 0xEE, 0xEE});
    saved.capture(patch_address(kScratch + 0x40), 2, codepatch::protection::keep);
    EXPECT_EQ(standin::ReadHostBytes(kScratch, 5), Bytes({1, 2, 3, 4, 5}));
    Put(kScratch + 0x40, {0, 0, 0, 0, 0});
    // Kept protection: the write-back needs a writable page: make it one.
    DWORD old;
    VirtualProtect(reinterpret_cast<void*>(kScratch + 0x40), 5, PAGE_EXECUTE_READWRITE, &old);
    saved.revert();
    VirtualProtect(reinterpret_cast<void*>(kScratch + 0x40), 5, old, &old);
    EXPECT_EQ(standin::ReadHostBytes(kScratch + 0x40, 5), Bytes({6, 7, 0, 0, 0}));
}

TEST(ScopedBasic, CaptureBeyondItsBufferFailsTheContract) {
    standin::ResetHost(0);
    const auto previous =
        codepatch::set_contract_handler([](const char* condition) { throw std::logic_error(condition); });
    codepatch::scoped_basic<5> saved;
    std::string failure;
    try {
        saved.capture(patch_address(kScratch), 6, codepatch::protection::lift);
    } catch (const std::logic_error& e) {
        failure = e.what();
    }
    codepatch::set_contract_handler(previous);
    EXPECT_EQ(failure, "size <= bufsize");
    EXPECT_FALSE(saved.is_saved());
}

// ---- Retargeting a call: the displacement alone, compared and swapped -----------
// A call is retargeted only while it still calls what a check found, and
// only where one locked instruction can write its displacement: one that
// straddles a cache line is left alone, and says so.
TEST(RetargetCall, SwapsOnlyTheCheckedCallAndTellsHowItWrote) {
    using result = codepatch::retarget_result;
    struct Case {
        const char* name;
        std::uint32_t site;
        std::vector<std::uint8_t> before;
        std::uint32_t expected;
        result outcome;
    };
    const std::uint32_t straddling = (kScratch & ~63u) + 60;  // displacement at +61..+64
    const Case cases[] = {
        {"as_checked", kScratch, CallTo(kScratch, 0x521500), 0x521500, result::atomic},
        {"changed_meanwhile", kScratch, CallTo(kScratch, 0x53F0A0), 0x521500, result::changed},
        {"no_longer_a_call", kScratch, Bytes({0xE9, 0, 0, 0, 0}), kScratch + 5, result::changed},
        {"straddles_a_cache_line", straddling, CallTo(straddling, 0x521500), 0x521500, result::straddles},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        standin::ResetHost(0);
        standin::WriteHostBytes(c.site, c.before.data(), c.before.size());
        EXPECT_EQ(codepatch::retarget_call(patch_address(c.site), c.expected, 0x401000), c.outcome);
        EXPECT_EQ(standin::ReadHostBytes(c.site, 5), c.outcome == result::atomic ? CallTo(c.site, 0x401000) : c.before);
    }
    EXPECT_TRUE(codepatch::displacement_in_one_line(0x527A95)) << "the aim call";
    EXPECT_TRUE(codepatch::displacement_in_one_line(0x53E981)) << "the frame call";
}

// ---- Checked call patches ------------------------------------------------------
// A call patch puts its site back only while the site still calls where the
// patch sent it; a site that another writer has changed since keeps that
// writer's bytes, whether the patch is reverted, destroyed or assigned over.
TEST(CallPatch, RestoresItsOwnCallAndLeavesAnotherWritersBytes) {
    using result = codepatch::call_patch::revert_result;
    const auto original = Bytes({0xE8, 0x10, 0x00, 0x00, 0x00});  // call kScratch + 0x15
    const auto other = Bytes({0xE9, 0x20, 0x00, 0x00, 0x00});     // another writer's jump
    enum class End { Revert, Destroy, AssignOver };
    for (End end : {End::Revert, End::Destroy, End::AssignOver})
        for (bool overwritten : {false, true}) {
            SCOPED_TRACE(testing::Message() << static_cast<int>(end) << " " << overwritten);
            standin::ResetHost(0);
            standin::WriteHostBytes(kScratch, original.data(), 5);
            auto patch = std::make_unique<codepatch::call_patch>();
            EXPECT_EQ(patch->redirect(patch_address(kScratch), kScratch + 0x100), kScratch + 0x15);
            EXPECT_TRUE(codepatch::is_call_to(patch_address(kScratch), kScratch + 0x100));
            if (overwritten) standin::WriteHostBytes(kScratch, other.data(), 5);
            if (end == End::Revert) {
                EXPECT_EQ(patch->revert(), overwritten ? result::displaced : result::restored);
                EXPECT_EQ(patch->revert(), result::not_redirected);
            } else if (end == End::Destroy) {
                patch.reset();
            } else {
                *patch = codepatch::call_patch();
            }
            EXPECT_EQ(standin::ReadHostBytes(kScratch, 5), overwritten ? other : original);
        }
}

// Moving hands the site over: the source forgets it, and only the last
// holder puts it back.
TEST(CallPatch, AMoveHandsTheSiteOver) {
    const auto original = Bytes({0xE8, 0x10, 0x00, 0x00, 0x00});
    standin::ResetHost(0);
    standin::WriteHostBytes(kScratch, original.data(), 5);
    codepatch::call_patch target;
    {
        codepatch::call_patch source;
        source.redirect(patch_address(kScratch), kScratch + 0x100);
        codepatch::call_patch moved(std::move(source));
        EXPECT_FALSE(source.redirected());
        target = std::move(moved);
        EXPECT_FALSE(moved.redirected());
    }
    EXPECT_TRUE(codepatch::is_call_to(patch_address(kScratch), kScratch + 0x100)) << "no moved-from patch reverted";
    EXPECT_TRUE(target.redirected());
    EXPECT_EQ(target.site(), patch_address(kScratch));
    EXPECT_EQ(target.revert(), codepatch::call_patch::revert_result::restored);
    EXPECT_EQ(standin::ReadHostBytes(kScratch, 5), original);
}

}  // namespace
