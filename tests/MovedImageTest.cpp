// The real plugin in a host whose image lies away from the game's base, as
// a moved or repacked game executable would: the game's code reaches its
// functions and data at fixed addresses, which hold nothing of it here, so
// the plugin must change nothing and say why.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/HostBuild.h"
#include "standin_host/Standin.h"
#include "tools/settings_checker/GameFile.h"

namespace {

std::vector<std::uint8_t> ImageBytes(std::uint32_t address, std::size_t size) {
    const auto* at = reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(address));
    return std::vector<std::uint8_t>(at, at + size);
}

TEST(MovedImage, ThePluginChangesNothingAndSaysWhy) {
    const std::uint32_t base = GetHostImageBase();
    ASSERT_NE(base, 0x400000u);
    // Where the aim call and the code constant would be in this image, with a
    // build's probe word and the aim call written there as the game has them.
    const std::uint32_t probe = RebaseHostAddressFrom(base, 0x401000);
    const std::uint32_t site = RebaseHostAddressFrom(base, host::kAimPointCallSite);
    const std::uint32_t function = RebaseHostAddressFrom(base, host::kAimPointFunction);
    DWORD old = 0;
    ASSERT_TRUE(
        VirtualProtect(reinterpret_cast<void*>(static_cast<std::uintptr_t>(probe)), 4, PAGE_EXECUTE_READWRITE, &old));
    const std::uint32_t probeWord = 0x53EC8B55;  // build 1001
    std::memcpy(reinterpret_cast<void*>(static_cast<std::uintptr_t>(probe)), &probeWord, 4);
    const std::vector<std::uint8_t> call = standin::CallBytes(site, function);
    std::memcpy(reinterpret_cast<void*>(static_cast<std::uintptr_t>(site)), call.data(), call.size());
    const std::uint32_t imageEnd = base + GetHostImageSize();
    const std::uint32_t codeFrom = RebaseHostAddressFrom(base, 0x520000);
    const std::vector<std::uint8_t> before = ImageBytes(codeFrom, imageEnd - codeFrom);

    standin::PluginSandbox directory;
    directory.WriteSettings("1\r\n");
    {
        standin::PluginModule plugin(directory.PluginPath(), false);
        ASSERT_TRUE(plugin.Loaded());
        EXPECT_TRUE(ImageBytes(codeFrom, imageEnd - codeFrom) == before) << "not a byte of the image is written";
    }
    const std::string log = directory.ReadLog();
    EXPECT_NE(log.find("game: build 1001, image at 0x01400000"), std::string::npos) << log;
    EXPECT_NE(log.find("game: its image is at 0x01400000, not at 0x00400000 where the game's code expects it"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("the plugin changes nothing in it"), std::string::npos) << log;
    EXPECT_EQ(log.find("settings file"), std::string::npos) << "not even read: " << log;

    // The checker, given this image as an executable on disk, says the same.
    const std::wstring game = standin::Wide(directory.Path() + "game.exe");
    ASSERT_TRUE(standin::WriteImageFile(game));
    const checker::GameReport report = checker::CheckGameFile(standin::Utf8(game));
    DeleteFileW(game.c_str());
    ASSERT_TRUE(report.program) << report.problem;
    EXPECT_FALSE(report.game.Active());
    EXPECT_EQ(report.imageBase, 0x01400000u);
    EXPECT_NE(log.find(std::string("verdict: not active, ") + report.game.WhyInactive()), std::string::npos) << log;
    EXPECT_EQ(checker::GameExitStatus(report), 1);
}

}  // namespace
