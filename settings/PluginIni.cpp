#include "settings/PluginIni.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "settings/SettingsDiagnostics.h"

namespace settings {

// clang-format off
const KeyName kKeyNames[] = {
    {"LeftMouse", 0x01}, {"RightMouse", 0x02}, {"MiddleMouse", 0x04}, {"X1Mouse", 0x05}, {"X2Mouse", 0x06},
    {"Space", 0x20}, {"Enter", 0x0D}, {"Tab", 0x09}, {"Backspace", 0x08}, {"CapsLock", 0x14},
    {"Shift", 0x10}, {"LeftShift", 0xA0}, {"RightShift", 0xA1},
    {"Ctrl", 0x11}, {"LeftCtrl", 0xA2}, {"RightCtrl", 0xA3},
    {"Alt", 0x12}, {"LeftAlt", 0xA4}, {"RightAlt", 0xA5},
    {"Insert", 0x2D}, {"Delete", 0x2E}, {"Home", 0x24}, {"End", 0x23}, {"PageUp", 0x21}, {"PageDown", 0x22},
    {"Up", 0x26}, {"Down", 0x28}, {"Left", 0x25}, {"Right", 0x27},
    {"F1", 0x70}, {"F2", 0x71}, {"F3", 0x72}, {"F4", 0x73}, {"F5", 0x74}, {"F6", 0x75}, {"F7", 0x76},
    {"F8", 0x77}, {"F9", 0x78}, {"F10", 0x79}, {"F11", 0x7A}, {"F12", 0x7B},
    {"A", 0x41}, {"B", 0x42}, {"C", 0x43}, {"D", 0x44}, {"E", 0x45}, {"F", 0x46}, {"G", 0x47}, {"H", 0x48},
    {"I", 0x49}, {"J", 0x4A}, {"K", 0x4B}, {"L", 0x4C}, {"M", 0x4D}, {"N", 0x4E}, {"O", 0x4F}, {"P", 0x50},
    {"Q", 0x51}, {"R", 0x52}, {"S", 0x53}, {"T", 0x54}, {"U", 0x55}, {"V", 0x56}, {"W", 0x57}, {"X", 0x58},
    {"Y", 0x59}, {"Z", 0x5A},
    {"0", 0x30}, {"1", 0x31}, {"2", 0x32}, {"3", 0x33}, {"4", 0x34}, {"5", 0x35}, {"6", 0x36}, {"7", 0x37},
    {"8", 0x38}, {"9", 0x39},
    {"Numpad0", 0x60}, {"Numpad1", 0x61}, {"Numpad2", 0x62}, {"Numpad3", 0x63}, {"Numpad4", 0x64},
    {"Numpad5", 0x65}, {"Numpad6", 0x66}, {"Numpad7", 0x67}, {"Numpad8", 0x68}, {"Numpad9", 0x69},
};
// clang-format on
const std::size_t kKeyNameCount = sizeof kKeyNames / sizeof kKeyNames[0];

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameWord(const char* word, std::size_t length, const char* name) {
    if (std::strlen(name) != length) return false;
    for (std::size_t i = 0; i < length; ++i)
        if (Lower(word[i]) != Lower(name[i])) return false;
    return true;
}

// A piece of a line: [begin, end).
struct Span {
    const char* begin;
    const char* end;
    std::size_t Length() const { return static_cast<std::size_t>(end - begin); }
    bool Empty() const { return begin == end; }
    bool Is(const char* name) const { return SameWord(begin, Length(), name); }
};

Span Trimmed(const char* begin, const char* end) {
    while (begin != end && IsBlank(*begin)) ++begin;
    while (end != begin && IsBlank(end[-1])) --end;
    return {begin, end};
}

// Whether the line is text: no control character but tab, and no character
// that stands for bytes that were none (U+FFFD, from UTF-16 that pairs with
// nothing) or that UTF-8 has not.
bool IsText(const char* text, std::size_t length) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; i < length;) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\r') return false;
            ++i;
            continue;
        }
        const std::size_t size = c >= 0xC2 && c <= 0xDF   ? 2
                                 : c >= 0xE0 && c <= 0xEF ? 3
                                 : c >= 0xF0 && c <= 0xF4 ? 4
                                                          : 0;
        if (size == 0 || i + size > length) return false;
        for (std::size_t k = 1; k < size; ++k)
            if ((p[i + k] & 0xC0) != 0x80) return false;
        if (size == 3 && c == 0xEF && p[i + 1] == 0xBF && p[i + 2] == 0xBD) return false;  // U+FFFD
        i += size;
    }
    return true;
}

enum class Section { None, Toggle, Sound, Unknown };

// The entries, and the line that first gave each a usable value (0: none yet).
enum Entry { kHold, kPress, kToggleSound, kLoadedSound, kEntries };
struct EntryName {
    Section section;
    const char* name;
};
constexpr EntryName kEntryNames[kEntries] = {
    {Section::Toggle, "Hold"}, {Section::Toggle, "Press"}, {Section::Sound, "Toggle"}, {Section::Sound, "Loaded"}};

// "on"/"off" and their kin; -1 for anything else.
int OnOff(const Span& value) {
    for (const char* on : {"on", "1", "true", "yes"})
        if (value.Is(on)) return 1;
    for (const char* off : {"off", "0", "false", "no"})
        if (value.Is(off)) return 0;
    return -1;
}

}  // namespace

std::uint8_t KeyCodeOf(const char* name, std::size_t length) {
    for (const KeyName& key : kKeyNames)
        if (SameWord(name, length, key.name)) return key.code;
    return 0;
}

const char* KeyNameOf(std::uint8_t code) {
    for (const KeyName& key : kKeyNames)
        if (key.code == code) return key.name;
    return "";
}

void ReadPluginIni(const char* bytes, std::size_t size, PluginIni& ini) {
    ini.options = PluginOptions{};
    ini.problems.count = 0;
    TextLines text(bytes, size < kMaxIniBytes ? size : kMaxIniBytes);
    ini.encoding = text.TextEncoding();
    Section section = Section::None;
    int givenOn[kEntries] = {};
    Line line;
    for (int number = 1; text.Next(line); ++number) {
        const ProblemReporter problem(number, ini.problems);
        const Span whole = Trimmed(line.text, line.text + line.length);
        const int shown = static_cast<int>(whole.Length() < 60 ? whole.Length() : 60);
        if (whole.Empty() || *whole.begin == ';' || *whole.begin == '#') continue;
        if (line.truncated) {
            problem("the line is longer than %u characters: ignored", static_cast<unsigned>(kLineBufferSize - 1));
            continue;
        }
        // What follows a comment mark after a blank is a comment, in any
        // encoding.
        const char* end = whole.end;
        for (const char* p = whole.begin + 1; p < end; ++p)
            if ((*p == ';' || *p == '#') && IsBlank(p[-1])) end = p;
        const Span content = Trimmed(whole.begin, end);
        if (!IsText(content.begin, content.Length())) {
            problem(
                "the line holds characters that are not text (is the file saved in an encoding other than UTF-8 or "
                "UTF-16?): ignored");
            continue;
        }
        if (*content.begin == '[') {
            const char* close = static_cast<const char*>(std::memchr(content.begin, ']', content.Length()));
            const Span name = Trimmed(content.begin + 1, close ? close : content.end);
            section = name.Is("Toggle") ? Section::Toggle : name.Is("Sound") ? Section::Sound : Section::Unknown;
            if (section == Section::Unknown)
                problem(
                    "[%.*s] is no section the plugin knows (it knows [Toggle] and [Sound]): the lines under it are "
                    "ignored",
                    static_cast<int>(name.Length() < 40 ? name.Length() : 40), name.begin);
            else if (!close)
                problem("the section's name lacks its closing ]: read as [%s]",
                        section == Section::Toggle ? "Toggle" : "Sound");
            continue;
        }
        const char* equals = static_cast<const char*>(std::memchr(content.begin, '=', content.Length()));
        if (!equals) {
            problem("\"%.*s\" is not an entry (name = value): ignored", shown, whole.begin);
            continue;
        }
        const Span name = Trimmed(content.begin, equals);
        const Span value = Trimmed(equals + 1, content.end);
        if (section == Section::Unknown) continue;  // said once, at the section
        if (section == Section::None) {
            problem("\"%.*s\" stands before any section: ignored (entries go under [Toggle] or [Sound])", shown,
                    whole.begin);
            continue;
        }
        int entry = 0;
        while (entry < kEntries && !(kEntryNames[entry].section == section && name.Is(kEntryNames[entry].name)))
            ++entry;
        if (entry == kEntries) {
            problem("\"%.*s\" is no entry of [%s] (it has %s): ignored",
                    static_cast<int>(name.Length() < 40 ? name.Length() : 40), name.begin,
                    section == Section::Toggle ? "Toggle" : "Sound",
                    section == Section::Toggle ? "Hold and Press" : "Toggle and Loaded");
            continue;
        }
        const char* entryName = kEntryNames[entry].name;
        if (givenOn[entry]) {
            problem("%s is given again (first on line %d): this line is ignored, line %d's holds", entryName,
                    givenOn[entry], givenOn[entry]);
            continue;
        }
        const int valueShown = static_cast<int>(value.Length() < 40 ? value.Length() : 40);
        if (entry == kHold || entry == kPress) {
            const std::uint8_t code = KeyCodeOf(value.begin, value.Length());
            std::uint8_t& key = entry == kHold ? ini.options.holdKey : ini.options.latchKey;
            if (code == 0) {
                problem("no key is named \"%.*s\" (README.txt lists the names): %s stays %s", valueShown, value.begin,
                        entryName, KeyNameOf(key));
                continue;
            }
            key = code;
        } else {
            const int on = OnOff(value);
            bool& sound = entry == kToggleSound ? ini.options.toggleSound : ini.options.loadedSound;
            if (on < 0) {
                problem("%s takes on or off, not \"%.*s\": the sound stays %s", entryName, valueShown, value.begin,
                        sound ? "on" : "off");
                continue;
            }
            sound = on == 1;
        }
        givenOn[entry] = number;
    }
    if (text.LimitReached()) DiagnoseReadLimit(kMaxIniBytes, ini.problems);
}

const char* DescribeKeys(const PluginOptions& options, char (&out)[64]) {
    std::snprintf(out, sizeof out, "%s held, %s pressed", KeyNameOf(options.holdKey), KeyNameOf(options.latchKey));
    return out;
}

const char* DescribeOptions(const PluginOptions& options, char (&out)[128]) {
    char keys[64];
    const char* sounds = options.toggleSound && options.loadedSound ? "on for the toggle and the start"
                         : options.toggleSound                      ? "on for the toggle"
                         : options.loadedSound                      ? "on for the start"
                                                                    : "off";
    std::snprintf(out, sizeof out, "the toggle: %s; sounds %s", DescribeKeys(options, keys), sounds);
    return out;
}

const char kIniTemplate[] =
    "; AimingPlugin.ini: the aiming plugin's options. It sits beside the plugin's\r\n"
    "; DLL and is named like it (a DLL renamed Foo.dll reads Foo.ini).\r\n"
    "; Each entry below is a comment that shows its default: remove the ; in\r\n"
    "; front of it, then edit it. Delete this file to go back to the defaults.\r\n"
    "\r\n"
    "[Toggle]\r\n"
    "; The button held, and the key pressed while it is held, that zero the aim\r\n"
    "; offset's first component until the button is released. README.txt lists\r\n"
    "; the names: RightMouse, X1Mouse, Space, F5, LeftShift, ...\r\n"
    ";Hold = RightMouse\r\n"
    ";Press = Space\r\n"
    "\r\n"
    "[Sound]\r\n"
    "; A short system sound when the toggle latches, and another when it\r\n"
    "; releases: on or off.\r\n"
    ";Toggle = off\r\n"
    "; A short system sound when the plugin has loaded and applied the\r\n"
    "; settings as the game starts: on or off.\r\n"
    ";Loaded = off\r\n";

}  // namespace settings
