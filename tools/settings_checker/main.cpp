// aimingsets-check: tells a player or modder what each line of aimingSets.dat
// sets, what the plugin reads from it, and what is wrong with it.
//
//   aimingsets-check [--json] [FILE]      (FILE: aimingSets.dat by default)
//   aimingsets-check --template [FILE]    writes a fresh sample (to FILE or standard output)
//
// Exit status: 0 sound, 1 problems found, 2 the file cannot be read.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/settings_checker/SettingsCheck.h"

int main(int argc, char** argv) {
    bool json = false, writeTemplate = false;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0)
            json = true;
        else if (std::strcmp(argv[i], "--template") == 0)
            writeTemplate = true;
        else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0 || !path.empty()) {
            std::printf(
                "usage: aimingsets-check [--json] [FILE]\n       aimingsets-check --template [FILE]\n"
                "Checks aimingSets.dat the way the aiming plugin reads it. Exit status: 0 sound,\n"
                "1 problems found, 2 the file cannot be read.\n");
            return std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0 ? 0 : 2;
        } else
            path = argv[i];
    }
    if (writeTemplate) {
        const std::string& text = checker::TemplateText();
        std::FILE* out = path.empty() ? stdout : std::fopen(path.c_str(), "wb");
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 2;
        }
        std::fwrite(text.data(), 1, text.size(), out);
        if (out != stdout) std::fclose(out);
        return 0;
    }
    if (path.empty()) path = "aimingSets.dat";
    const checker::Report report = checker::CheckFile(path);
    const std::string text = json ? checker::FormatJson(report, path) : checker::FormatText(report, path);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return checker::ExitStatus(report);
}
