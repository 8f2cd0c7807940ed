// AimingPlugin.ini beside the DLL: the toggle's keys and the sounds. Read at
// start-up (no file: the defaults, and nothing said), and while live reload
// is on, again once it has changed; the log names what it found and every
// mistake, as the checker does.
#pragma once

#include <cstdint>

#include "settings/PluginIni.h"

class OptionsFile {
public:
    OptionsFile() = default;
    OptionsFile(const OptionsFile&) = delete;
    OptionsFile& operator=(const OptionsFile&) = delete;

    void Load();
    // One frame with live reload on: the file's stamp is looked at once a
    // second (a frame in between costs one clock read), and the file read
    // again when it changed.
    void Frame();
    const settings::PluginOptions& Options() const { return ini_.options; }
    // The keys in a player's words: "RightMouse held, Space pressed".
    const char* Keys(char (&out)[64]) const;

private:
    // What the file's stamp was at the last read (all zero: no file).
    struct Stamp {
        std::uint32_t size = 0, writeLow = 0, writeHigh = 0;
        bool there = false;
        bool operator==(const Stamp& other) const {
            return size == other.size && writeLow == other.writeLow && writeHigh == other.writeHigh &&
                   there == other.there;
        }
    };
    static Stamp StampNow();
    void Read(bool atStart);

    settings::PluginIni ini_ = {};
    Stamp stamp_;
    unsigned long long lastGlance_ = 0;
    char bytes_[settings::kMaxIniBytes] = {};
};
