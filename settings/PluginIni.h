// AimingPlugin.ini, the plugin's options beside its DLL (named like the DLL):
// the two keys of the aim toggle and the sounds, read from the file's bytes
// into a value with every mistake named, as the settings file is. The plugin
// applies the value, the checker prints it. Nothing here allocates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/SettingsFile.h"
#include "settings/TextLines.h"

namespace settings {

// A key or mouse button by the name a player knows it by, and its Windows
// virtual-key code.
struct KeyName {
    const char* name;
    std::uint8_t code;
};
// Every name the ini takes, in the order README.txt lists them.
extern const KeyName kKeyNames[];
extern const std::size_t kKeyNameCount;
// The code named `name` (any case), or 0 for no such name.
std::uint8_t KeyCodeOf(const char* name, std::size_t length);
// The name of `code` ("RightMouse"), or "" for a code without one.
const char* KeyNameOf(std::uint8_t code);

struct PluginOptions {
    std::uint8_t holdKey = 0x02;   // the button held: the right mouse button
    std::uint8_t latchKey = 0x20;  // the key that latches, while it is held: Space
    bool toggleSound = false;      // a sound when the toggle latches and when it releases
    bool loadedSound = false;      // a sound when the plugin has loaded and applied the settings
};

// The most of the file that is read: far more than any ini of these few
// entries holds, and a device or a giant file cannot hold the game up.
constexpr std::size_t kMaxIniBytes = 16 * 1024;

struct PluginIni {
    Encoding encoding;
    PluginOptions options;  // the defaults wherever the file says nothing usable
    Problems problems;
};

// Reads the ini from its bytes (at most the first kMaxIniBytes).
void ReadPluginIni(const char* bytes, std::size_t size, PluginIni& ini);

// The options in a player's words, as the log and the checker say them:
// "the toggle: RightMouse held, Space pressed; sounds off".
const char* DescribeOptions(const PluginOptions& options, char (&out)[128]);
// The keys alone: "RightMouse held, Space pressed".
const char* DescribeKeys(const PluginOptions& options, char (&out)[64]);

// The commented sample that the release carries: every option at its
// default, so that it changes nothing until a line is edited.
extern const char kIniTemplate[];

}  // namespace settings
