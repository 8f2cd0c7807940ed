// The real plugin DLL in the stand-in host: a fixture that gives each test a
// fresh host image, a directory of its own with a copy of the plugin, and
// readers for everything the plugin may have changed.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "SettingsCases.h"
#include "codepatch/branch.h"
#include "standin_host/Standin.h"

namespace plugin_support {

// The shared cases expect the host data and code the stand-in starts with.
static_assert(settings_cases::kHostFill == standin::kDataFill, "host data fill");
static_assert(settings_cases::kCodeFill == standin::kCodeConstantFill, "host code constant");

// Weapon-type code -> weaponOffsets row, written out from the host's table.
struct CodeRow {
    std::uint32_t code;
    int row;
};
constexpr CodeRow kCodeRows[15] = {{22, 1}, {23, 2},  {24, 3},  {25, 4},  {26, 5},  {27, 6},  {28, 7}, {29, 8},
                                   {32, 9}, {30, 10}, {31, 11}, {33, 12}, {19, 13}, {20, 14}, {37, 15}};

inline std::uint32_t Bits(float f) {
    return settings_cases::Bits(f);
}
inline float FloatOf(std::uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

class PluginTest : public testing::Test {
protected:
    // Resets the host image to `build` and writes the settings file (none
    // when `contents` is empty).
    void Prepare(std::int32_t build, std::optional<std::string> contents) {
        standin::ResetHost(build);
        if (contents) directory.WriteSettings(*contents);
    }
    void Load() {
        plugin = std::make_unique<standin::PluginModule>(directory.PluginPath());
        ASSERT_TRUE(plugin->Loaded()) << "LoadLibrary failed: " << GetLastError();
    }
    void Unload() { plugin.reset(); }

    // The host runs an aim call with these arguments; returns what 0x521500 saw.
    standin::AimFunctionCall AimCall(const float* point = nullptr, std::uint32_t a2 = 0x3F800000,
                                     std::uint32_t a3 = 0x40000000, std::uint32_t a4 = 0x40400000) {
        static const float hostPoint[3] = {1.0f, 2.0f, 3.0f};
        standin::AimCallArgs args;
        args.object = &hostObject;
        args.point = point ? point : hostPoint;
        args.arg2 = a2;
        args.arg3 = a3;
        args.arg4 = a4;
        const auto before = standin::AimFunctionCalls().size();
        lastOutcome = standin::RunHostAimCall(args);
        EXPECT_EQ(standin::AimFunctionCalls().size(), before + 1) << "0x521500 runs once per aim call";
        return standin::AimFunctionCalls().back();
    }

    // The offset vector that reached 0x5334F0 for `code`, or nothing when the
    // call passed through unchanged.
    std::optional<std::array<std::uint32_t, 3>> OffsetFor(std::uint32_t code) {
        standin::Character().SetWeapon(code);
        const auto before = standin::OffsetCalls().size();
        AimCall();
        if (standin::OffsetCalls().size() == before) return std::nullopt;
        return standin::OffsetCalls().back().offsetBits;
    }

    // The aim call site holds an E8 call into the loaded plugin's code, by
    // way of the plugin's gate (whose handler is in the plugin's code).
    bool SiteCallsIntoPlugin() {
        const auto bytes = standin::CallSiteBytes(host::kAimPointCallSite);
        const std::uint32_t target =
            standin::PastGate(codepatch::branch_target(codepatch::patch_address(host::kAimPointCallSite)));
        const auto base = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(plugin->Handle()));
        auto* nt =
            reinterpret_cast<IMAGE_NT_HEADERS32*>(reinterpret_cast<std::uint8_t*>(plugin->Handle()) +
                                                  reinterpret_cast<IMAGE_DOS_HEADER*>(plugin->Handle())->e_lfanew);
        const std::uint32_t codeBegin = base + nt->OptionalHeader.BaseOfCode;
        return bytes[0] == 0xE8 && target >= codeBegin && target < codeBegin + nt->OptionalHeader.SizeOfCode;
    }

    // Everything a load can change, as the host and the aim calls see it: a
    // weapon whose call passes through reads as kNotGiven. Row 0 of the
    // offsets serves no weapon and is not looked at.
    settings_cases::Snapshot Observe() {
        settings_cases::Snapshot s;
        for (std::uint32_t k = 0; k < host::kAimValueCount; ++k)
            s.hostValues[k] = standin::ReadHostWord(host::kAimValues[k]);
        s.codeConstant = standin::ReadHostWord(host::kAimCodeConstant);
        const auto block = standin::ReadHostBytes(host::kAimBlock, host::kAimBlockBytes);
        std::memcpy(s.block, block.data(), host::kAimBlockBytes);
        for (const CodeRow& cr : kCodeRows) {
            const auto offset = OffsetFor(cr.code);
            if (offset)
                std::memcpy(s.offsets[cr.row], offset->data(), 12);
            else
                for (auto& f : s.offsets[cr.row]) f = settings_cases::kNotGiven;
        }
        return s;
    }

    static void ExpectSameAsHost(const settings_cases::Snapshot& actual, const settings_cases::Snapshot& expected) {
        settings_cases::ExpectSameSnapshot(actual, expected, settings_cases::Seen::ByTheHost);
    }

    int hostObject = 0x0B1EC7;
    standin::PluginSandbox directory;
    std::unique_ptr<standin::PluginModule> plugin;
    standin::HostCallOutcome lastOutcome;
};

}  // namespace plugin_support
