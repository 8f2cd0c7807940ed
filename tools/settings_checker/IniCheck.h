// The checker's reading of AimingPlugin.ini, the plugin's options beside its
// DLL: the plugin's own reader, and its words.
#pragma once

#include <memory>
#include <string>

#include "settings/PluginIni.h"

namespace checker {

struct IniReport {
    bool readable = false;
    std::string unreadable;  // why not, in words
    std::string fullPath;
    std::unique_ptr<settings::PluginIni> ini;  // what the plugin reads from it
};

// Whether `path` names an ini file (its name ends in .ini).
bool LooksLikeIni(const std::string& path);
IniReport CheckIniFile(const std::string& path);
std::string FormatIniText(const IniReport& report, const std::string& path);
std::string FormatIniJson(const IniReport& report, const std::string& path);
// 0: sound, 1: problems, 2: unreadable.
int IniExitStatus(const IniReport& report);

}  // namespace checker
