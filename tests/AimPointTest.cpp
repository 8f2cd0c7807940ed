// The aim-point hook of the real plugin: the host's aim routine runs its call
// at 0x527A95 and the doubles of 0x56E210, 0x5334F0 and 0x521500 record what
// reaches them.
#include <cmath>
#include <limits>

#include "PluginSupport.h"
#include "codepatch/branch.h"

namespace {

using plugin_support::Bits;
using plugin_support::PluginTest;

constexpr std::uint32_t kSignallingNan = 0x7F800001;
constexpr std::uint32_t kNegativeZero = 0x80000000;
constexpr std::uint32_t kNanWithPayload = 0xFFC12345;

class AimPoint : public PluginTest {
protected:
    void LoadReference(std::int32_t build = 1001) {
        Prepare(build, settings_cases::Join(settings_cases::ReferenceLines()));
        Load();
    }
};

TEST_F(AimPoint, StartUpRedirectsTheCallOnEveryBuildAndLoadsOnce) {
    for (std::int32_t build : {1001, 1002, 1011, 3210, 0}) {
        SCOPED_TRACE(build);
        LoadReference(build);
        EXPECT_TRUE(SiteCallsIntoPlugin());
        EXPECT_EQ(standin::Counters().settingsOpens, 1);
        EXPECT_EQ(OffsetFor(22), (std::array<std::uint32_t, 3>{Bits(17.0f), Bits(17.25f), Bits(17.5f)}));
        Unload();
    }
}

TEST_F(AimPoint, EveryWeaponTypeCodeGetsItsRowTheZeroVectorOrNothing) {
    LoadReference();
    std::vector<std::uint32_t> codes;
    for (std::uint32_t code = 18; code <= 60; ++code) codes.push_back(code);
    codes.insert(codes.end(), {0u, 1u, static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-19), 0x80000016u,
                               0x10000016u, 0xFFFFFFFFu - 40, 19u + 0x100u});
    const float hostPoint[3] = {4.0f, 5.0f, 6.0f};
    for (std::uint32_t code : codes) {
        SCOPED_TRACE(code);
        int row = -1;  // pass-through
        for (const auto& cr : plugin_support::kCodeRows)
            if (cr.code == code) row = cr.row;
        const bool zeroVector = code == 59;
        standin::Character().SetWeapon(code);
        const auto offsetsBefore = standin::OffsetCalls().size();
        const standin::AimFunctionCall call = AimCall(hostPoint, kSignallingNan, kNegativeZero, kNanWithPayload);
        EXPECT_EQ(call.object, &hostObject);
        EXPECT_EQ(call.arg2, kSignallingNan);
        EXPECT_EQ(call.arg3, kNegativeZero);
        EXPECT_EQ(call.arg4, kNanWithPayload);
        EXPECT_EQ(lastOutcome.result, standin::kAimFunctionResult + standin::AimFunctionCalls().size());
        EXPECT_TRUE(lastOutcome.registersPreserved);
        EXPECT_TRUE(lastOutcome.stackBalanced);
        if (row < 0 && !zeroVector) {
            EXPECT_EQ(standin::OffsetCalls().size(), offsetsBefore);
            EXPECT_EQ(call.point, hostPoint);
            continue;
        }
        ASSERT_EQ(standin::OffsetCalls().size(), offsetsBefore + 1);
        const standin::OffsetCall& offset = standin::OffsetCalls().back();
        EXPECT_EQ(offset.character, standin::Character().Address());
        const float line = static_cast<float>(16 + row);
        const std::array<std::uint32_t, 3> expected =
            zeroVector ? std::array<std::uint32_t, 3>{0, 0, 0}
                       : std::array<std::uint32_t, 3>{Bits(line), Bits(line + 0.25f), Bits(line + 0.5f)};
        EXPECT_EQ(offset.offsetBits, expected);
        EXPECT_NE(call.point, hostPoint);  // the substitute point, in the hook's frame
        for (int i = 0; i < 3; ++i) EXPECT_EQ(call.pointBits[i], Bits(offset.point[i]));
    }
    EXPECT_EQ(standin::CharacterLookups(), std::vector<std::int32_t>(codes.size(), -1));
}

TEST_F(AimPoint, NoRecordOrBlockedStatePassesThrough) {
    LoadReference();
    const float hostPoint[3] = {7.0f, 8.0f, 9.0f};
    struct Case {
        const char* name;
        bool record;
        std::uint32_t state;
        bool substitutes;
    };
    const Case cases[] = {{"no record", false, 0, false},
                          {"state bit 0x100", true, 0x100, false},
                          {"all state bits", true, 0xFFFFFFFF, false},
                          {"every other state bit", true, 0xFFFFFEFF, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        standin::Character().SetWeapon(22);
        standin::Character().SetState(c.state);
        standin::SetCharacterLookupResult(c.record ? standin::Character().Address() : nullptr);
        const auto offsetsBefore = standin::OffsetCalls().size();
        const auto call = AimCall(hostPoint, kNanWithPayload, kNegativeZero, kSignallingNan);
        EXPECT_EQ(standin::OffsetCalls().size(), offsetsBefore + (c.substitutes ? 1 : 0));
        EXPECT_EQ(call.point == hostPoint, !c.substitutes);
        EXPECT_EQ(call.arg2, kNanWithPayload);
        EXPECT_EQ(call.arg3, kNegativeZero);
        EXPECT_EQ(call.arg4, kSignallingNan);
        EXPECT_EQ(call.object, &hostObject);
        EXPECT_TRUE(lastOutcome.registersPreserved && lastOutcome.stackBalanced);
    }
}

TEST_F(AimPoint, CurrentSlotChoosesTheWeaponWithoutRangeCheck) {
    LoadReference();
    standin::Character().SetWeapon(21);  // slot 0: no substitution
    for (std::uint8_t slot : {std::uint8_t{3}, std::uint8_t{255}}) {
        standin::Character().SetWeaponType(slot, 23);
        standin::Character().SetCurrentSlot(slot);
        const auto before = standin::OffsetCalls().size();
        AimCall();
        ASSERT_EQ(standin::OffsetCalls().size(), before + 1) << int(slot);
        EXPECT_EQ(standin::OffsetCalls().back().offsetBits[0], Bits(18.0f));  // row 2, line 18
    }
}

TEST_F(AimPoint, ZeroOffsetXMultipliesTheFirstComponentByZero) {
    std::vector<std::string> lines = settings_cases::ReferenceLines();
    lines[16] = "w1 1.5 2.0 3.0";
    lines[17] = "w2 -1.5 2.0 3.0";
    lines[18] = "w3 inf -inf 1";  // no game value can be infinite or nan: these rows are refused
    lines[19] = "w4 nan 0 0";
    Prepare(1001, settings_cases::Join(lines));
    Load();
    struct Case {
        std::uint32_t code;
        std::array<std::uint32_t, 3> row;  // as the file gives it, and as the host sees it with the toggle off
        std::uint32_t zeroedFirst;         // the first component with the toggle on
    };
    const Case cases[] = {
        {22, {Bits(1.5f), Bits(2.0f), Bits(3.0f)}, Bits(0.0f)},
        {23, {Bits(-1.5f), Bits(2.0f), Bits(3.0f)}, kNegativeZero},
        {59, {Bits(0.0f), Bits(0.0f), Bits(0.0f)}, Bits(0.0f)},
    };
    auto expectBits = [](std::uint32_t actual, std::uint32_t expected) { EXPECT_EQ(actual, expected); };
    for (bool zero : {false, true, false}) {
        standin::SetKeys(zero, zero);  // right button and Space: the toggle
        standin::RunHostFrame();
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "code " << c.code << " zero " << zero);
            const auto offset = OffsetFor(c.code);
            ASSERT_TRUE(offset.has_value());
            expectBits((*offset)[0], zero ? c.zeroedFirst : c.row[0]);
            expectBits((*offset)[1], c.row[1]);
            expectBits((*offset)[2], c.row[2]);
        }
        EXPECT_FALSE(OffsetFor(24).has_value()) << "the infinite row was refused";
        EXPECT_FALSE(OffsetFor(25).has_value()) << "the nan row was refused";
    }
}

TEST_F(AimPoint, HookAllocatesNothing) {
    LoadReference();
    const long before = standin::Counters().allocations;
    ASSERT_GT(before, 0) << "the counter saw the start-up's allocations: it counts this plugin";
    for (int i = 0; i < 20000; ++i) {
        standin::Character().SetWeapon(i % 2 ? 22u : 21u);  // substitution and pass-through
        standin::AimCallArgs args;
        args.object = &hostObject;
        static const float point[3] = {};
        args.point = point;
        standin::RunHostAimCall(args);
    }
    EXPECT_EQ(standin::Counters().allocations, before);
    EXPECT_GT(standin::AimFunctionCalls().size(), 19999u);
}

}  // namespace
