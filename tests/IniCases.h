// AimingPlugin.ini files and what reading each must give: the options, and
// what must be said of it. Shared by the reader's native tests, the
// checker's, and the plugin's (the real DLL with the file beside it).
// Expected values are written out from the file's text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings/PluginIni.h"

namespace ini_cases {

struct Case {
    const char* name;
    std::optional<std::string> contents;  // none: no file at all
    settings::PluginOptions expected;
    const char* said;  // part of one problem's text; "": nothing at all
};

inline settings::PluginOptions Keys(std::uint8_t hold, std::uint8_t press) {
    settings::PluginOptions options;
    options.holdKey = hold;
    options.latchKey = press;
    return options;
}

inline settings::PluginOptions Sounds(bool toggle, bool loaded) {
    settings::PluginOptions options;
    options.toggleSound = toggle;
    options.loadedSound = loaded;
    return options;
}

// `text` (ASCII) as Notepad's "Unicode" saves it.
inline std::string Utf16(const std::string& text) {
    std::string bytes = "\xFF\xFE";
    for (char c : text) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

inline std::vector<Case> Cases() {
    const settings::PluginOptions defaults;
    return {
        {"no_file", std::nullopt, defaults, ""},
        {"empty", std::string(), defaults, ""},
        {"the_sample", std::string(settings::kIniTemplate), defaults, ""},
        {"other_keys", "[Toggle]\r\nHold = X1Mouse\r\nPress = F5\r\n", Keys(0x05, 0x74), ""},
        {"any_case_and_comments", "[toggle] ; the keys\nhold=LEFTSHIFT ; my key\n# press stays Space\n",
         Keys(0xA0, 0x20), ""},
        {"sounds_on", "[Sound]\nToggle = on\nLoaded = yes\n", Sounds(true, true), ""},
        {"utf16_with_a_mark", Utf16("[Toggle]\r\nHold = MiddleMouse\r\nPress = Q\r\n"), Keys(0x04, 0x51), ""},
        {"unknown_key_name", "[Toggle]\nHold = RightMous\nPress = F5\n", Keys(0x02, 0x74),
         "no key is named \"RightMous\" (README.txt lists the names): Hold stays RightMouse"},
        {"unknown_section", "[Toggel]\nHold = F5\n", defaults, "[Toggel] is no section the plugin knows"},
        {"unknown_entry", "[Toggle]\nHld = F5\n", defaults, "\"Hld\" is no entry of [Toggle] (it has Hold and Press)"},
        {"duplicate", "[Toggle]\nHold = F5\nHold = F6\n", Keys(0x74, 0x20),
         "Hold is given again (first on line 2): this line is ignored, line 2's holds"},
        {"before_any_section", "Hold = F5\n[Sound]\nLoaded = on\n", Sounds(false, true),
         "\"Hold = F5\" stands before any section"},
        {"not_on_or_off", "[Sound]\nToggle = loud\n", defaults,
         "Toggle takes on or off, not \"loud\": the sound stays off"},
        {"not_an_entry", "[Toggle]\nRightMouse\n", defaults, "\"RightMouse\" is not an entry (name = value)"},
        {"another_encoding", "[Toggle]\nHold = F\xF6\nPress = Enter\n", Keys(0x02, 0x0D),
         "not text (is the file saved in an encoding other than UTF-8 or UTF-16?)"},
    };
}

}  // namespace ini_cases
