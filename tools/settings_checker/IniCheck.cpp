#include "tools/settings_checker/IniCheck.h"

#include "tools/settings_checker/FileBytes.h"
#include "tools/settings_checker/SettingsCheck.h"

namespace checker {

bool LooksLikeIni(const std::string& path) {
    return HasExtension(path, ".ini");
}

IniReport CheckIniFile(const std::string& path) {
    IniReport report;
    const FileBytes file = ReadFileBytes(path, settings::kMaxIniBytes);
    report.fullPath = file.fullPath;
    if (!file.read) {
        // No ini is no mistake: the plugin then keeps its defaults.
        report.unreadable = file.missing
                                ? "no such file: without it the plugin keeps its defaults (aimingsets-check --template "
                                  "AimingPlugin.ini writes a sample)"
                                : file.why;
        return report;
    }
    report.readable = true;
    report.ini = std::make_unique<settings::PluginIni>();
    settings::ReadPluginIni(file.bytes.data(), file.bytes.size(), *report.ini);
    return report;
}

std::string FormatIniText(const IniReport& report, const std::string& path) {
    if (!report.readable)
        return path + ": cannot be read: " + report.unreadable + "\n  (looked at " + report.fullPath + ")\n";
    const settings::PluginIni& ini = *report.ini;
    char described[128];
    std::string out =
        "checked " + report.fullPath + "\n" + path + ": " + settings::DescribeOptions(ini.options, described) + "\n";
    out += "  encoding: " + std::string(settings::EncodingName(ini.encoding)) + "\n";
    if (ini.problems.count == 0) return out + "no problems found\n";
    out += std::to_string(ini.problems.count) + " problem(s):\n";
    for (int i = 0; i < ini.problems.Kept(); ++i) {
        const settings::Problem& p = ini.problems.kept[i];
        out += (p.line ? "  line " + std::to_string(p.line) + ": " : std::string("  file: ")) + p.text + "\n";
    }
    if (ini.problems.count > ini.problems.Kept())
        out += "  file: " + std::to_string(ini.problems.count - ini.problems.Kept()) + " more problem(s) not listed\n";
    return out;
}

std::string FormatIniJson(const IniReport& report, const std::string& path) {
    std::string out = "{\n  \"ini\": " + JsonString(path) +
                      ",\n  \"readable\": " + (report.readable ? "true" : "false") +
                      ",\n  \"fullPath\": " + JsonString(report.fullPath);
    if (!report.readable) return out + ",\n  \"unreadable\": " + JsonString(report.unreadable) + "\n}\n";
    const settings::PluginIni& ini = *report.ini;
    out += ",\n  \"encoding\": " + JsonString(settings::EncodingName(ini.encoding));
    out += ",\n  \"hold\": " + JsonString(settings::KeyNameOf(ini.options.holdKey));
    out += ",\n  \"press\": " + JsonString(settings::KeyNameOf(ini.options.latchKey));
    out += ",\n  \"toggleSound\": " + std::string(ini.options.toggleSound ? "true" : "false");
    out += ",\n  \"loadedSound\": " + std::string(ini.options.loadedSound ? "true" : "false");
    out += ",\n  \"problems\": [";
    for (int i = 0; i < ini.problems.Kept(); ++i)
        out += std::string(i ? ",\n" : "\n") + "    {\"line\": " + std::to_string(ini.problems.kept[i].line) +
               ", \"text\": " + JsonString(ini.problems.kept[i].text) + "}";
    return out + (ini.problems.Kept() ? "\n  ]" : "]") + "\n}\n";
}

int IniExitStatus(const IniReport& report) {
    if (!report.readable) return 2;
    return report.ini->problems.count ? 1 : 0;
}

}  // namespace checker
