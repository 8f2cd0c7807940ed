// aimingsets-check: tells a player or modder what each line of aimingSets.dat
// sets, what the plugin reads from it, and what is wrong with it.
//
//   aimingsets-check [--json] [FILE] [INI]       (FILE: aimingSets.dat by default;
//                                                INI: AimingPlugin.ini, also found beside FILE)
//   aimingsets-check [--json] --game GAME.exe [FILE]
//   aimingsets-check --template [FILE] [--force] a fresh sample, to FILE or standard output
//   aimingsets-check --version | --help
//
// A FILE that is a program (its name ends in .exe, or it starts as one) is
// checked as the game's executable, as if given with --game.
//
// Exit status, the worse of the two when both are checked: 0 sound, 3 only
// the running game can tell (the game's aim call leads into a DLL, or the
// game may be loaded elsewhere), 1 problems found (in the game: the plugin
// would change nothing in it), 2 a file cannot be read or is no 32-bit
// Windows program (or the command line or the template's destination is
// wrong), worst last.
//
// On Windows files dropped on the program are checked, and when the program
// has a console window of its own (it was double-clicked) it waits for Enter
// before that window closes.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "settings/PluginIni.h"
#include "source_commit.h"
#include "tools/settings_checker/GameFile.h"
#include "tools/settings_checker/IniCheck.h"
#include "tools/settings_checker/SettingsCheck.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>
#endif

namespace {

const char kUsage[] =
    "usage: aimingsets-check [--json] [FILE] [AimingPlugin.ini]\n"
    "       aimingsets-check [--json] --game GAME.exe [FILE]\n"
    "       aimingsets-check --template [FILE | AimingPlugin.ini] [--force]\n"
    "       aimingsets-check --version | --help\n"
    "\n"
    "Checks aimingSets.dat (FILE, or aimingSets.dat in the current folder) the way\n"
    "the aiming plugin reads it: what each line sets, what is read from it, and\n"
    "every problem. --json prints the same as JSON. --template writes a fresh,\n"
    "fully labelled sample (of the plugin's options, for a name ending in .ini);\n"
    "it never replaces an existing file unless --force is given.\n"
    "\n"
    "AimingPlugin.ini, the plugin's options (the toggle's keys, the sounds), is\n"
    "checked when named, and when it sits beside the settings file checked.\n"
    "\n"
    "--game reads the game's executable (without running it) and says whether the\n"
    "plugin knows it: the build it finds, what the two calls it uses hold, what it\n"
    "would do there, and where it looks for its settings file and writes its log.\n"
    "A FILE that is a program (.exe) is checked that way too. On Windows you can\n"
    "also drop the settings file, the game's .exe or both on the program.\n"
    "\n"
    "Exit status: 0 sound, 1 problems found (or the plugin would change nothing\n"
    "in the game), 2 a file cannot be read or is not a 32-bit Windows program,\n"
    "3 only the running game can tell what the plugin does in it.\n";

#ifdef _WIN32
// The arguments as the system has them (any script), in UTF-8.
std::vector<std::string> Arguments(int, char**) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(checker::Utf8(wide[i]));
    LocalFree(wide);
    return args;
}

std::FILE* OpenForWriting(const std::string& path) {
    return _wfopen(checker::Wide(path).c_str(), L"wb");
}

// Double-clicked: the console window is this program's alone, and would close
// with it before the player has read a line.
void WaitIfTheWindowIsOurs() {
    DWORD processes[2];
    DWORD mode = 0;
    if (GetConsoleProcessList(processes, 2) != 1 || !GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) return;
    std::printf("\nPress Enter to close this window.");
    std::fflush(stdout);
    std::getchar();
}
#else
std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

std::FILE* OpenForWriting(const std::string& path) {
    return std::fopen(path.c_str(), "wb");
}

void WaitIfTheWindowIsOurs() {}
#endif

// Whether the last failed write found its reader gone (a closed pipe).
bool ReaderGone() {
#ifdef _WIN32
    const DWORD error = GetLastError();
    if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE) return true;
#endif
    return errno == EPIPE;
}

// Writes `text` to standard output; false (and a word on standard error)
// when it did not all get there (a full disk, /dev/full, a closed pipe).
bool WriteOut(const std::string& text) {
    errno = 0;
    const bool ok = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
    if (!ok)
        std::fprintf(stderr, ReaderGone() ? "aimingsets-check: the program reading the output stopped before the end\n"
                                          : "aimingsets-check: cannot write to standard output (a full disk?)\n");
    return ok;
}

int WriteTemplate(const std::string& path, bool force) {
    // The settings file's sample, or the ini's where the name asks for one.
    const std::string text =
        checker::LooksLikeIni(path) ? std::string(settings::kIniTemplate) : checker::TemplateText();
    if (path.empty()) return WriteOut(text) ? 0 : 2;
    if (checker::PathExists(path) && !force) {
        std::fprintf(stderr, "%s already exists: it is not replaced (add --force to replace it)\n", path.c_str());
        return 2;
    }
    std::FILE* out = OpenForWriting(path);
    // Every byte written, flushed without an error and the file closed, or no
    // success: a full disk shows at the flush (some C libraries' close does
    // not report it).
    const bool written = out && std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0 &&
                         !std::ferror(out);
    const bool closed = out && std::fclose(out) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "cannot write %s (a full disk, or a folder you may not write to?)\n", path.c_str());
        return 2;
    }
    std::printf("wrote a fresh sample to %s\n", path.c_str());
    return WriteOut("") ? 0 : 2;
}

// The worse of two exit statuses: 3 (cannot tell) is better news than 1.
int Worse(int a, int b) {
    const auto rank = [](int status) { return status == 3 ? 1 : status == 1 ? 2 : status == 2 ? 3 : 0; };
    return rank(a) >= rank(b) ? a : b;
}

int Usage() {
    std::fprintf(stderr, "%s", kUsage);
    return 2;
}

int Run(const std::vector<std::string>& args) {
    bool json = false, writeTemplate = false, force = false;
    std::string path, game, ini;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--game") {
            if (i + 1 == args.size() || !game.empty()) return Usage();
            game = args[++i];
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--template") {
            writeTemplate = true;
        } else if (arg == "--force") {
            force = true;
        } else if (arg == "--version") {
            return WriteOut(std::string("aimingsets-check ") + AIMING_PLUGIN_VERSION +
                            " (built from commit " AIMING_SOURCE_COMMIT ")\n")
                       ? 0
                       : 2;
        } else if (arg == "--help" || arg == "-h" || arg == "/?") {
            return WriteOut(kUsage) ? 0 : 2;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage();
        } else if (!writeTemplate && game.empty() && checker::LooksLikeProgram(arg)) {
            game = arg;
        } else if (!writeTemplate && ini.empty() && checker::LooksLikeIni(arg)) {
            ini = arg;
        } else if (!path.empty()) {
            return Usage();
        } else {
            path = arg;
        }
    }
    if (writeTemplate) return game.empty() && ini.empty() ? WriteTemplate(path, force) : Usage();
    // Each file checked, in its words: (name, text).
    std::vector<std::pair<std::string, std::string>> parts;
    int status = 0;
    if (!game.empty()) {
        const checker::GameReport report = checker::CheckGameFile(game);
        parts.emplace_back("game", json ? checker::FormatGameJson(report) : checker::FormatGameText(report));
        status = checker::GameExitStatus(report);
    }
    if ((game.empty() && ini.empty()) || !path.empty()) {
        if (path.empty()) path = "aimingSets.dat";
        const checker::Report report = checker::CheckFile(path);
        parts.emplace_back("settings", json ? checker::FormatJson(report, path) : checker::FormatText(report, path));
        status = Worse(status, checker::ExitStatus(report));
        // The plugin's options beside the settings file, as the plugin reads them.
        const std::string beside = checker::FolderOf(report.fullPath) + "AimingPlugin.ini";
        if (ini.empty() && checker::FileExists(beside)) ini = beside;
    }
    if (!ini.empty()) {
        const checker::IniReport report = checker::CheckIniFile(ini);
        parts.emplace_back("ini", json ? checker::FormatIniJson(report, ini) : checker::FormatIniText(report, ini));
        status = Worse(status, checker::IniExitStatus(report));
    }
    std::string text;
    if (parts.size() == 1) {
        text = parts[0].second;
    } else if (json) {
        text = "{";
        for (std::size_t i = 0; i < parts.size(); ++i)
            text += std::string(i ? ", " : "") + "\"" + parts[i].first + "\": " + parts[i].second;
        text += "}\n";
    } else {
        for (std::size_t i = 0; i < parts.size(); ++i) text += (i ? "\n" : "") + parts[i].second;
    }
    return WriteOut(text) ? status : 2;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The output is UTF-8: a console window shows quoted words and paths as
    // they are written.
    SetConsoleOutputCP(CP_UTF8);
#else
    std::signal(SIGPIPE, SIG_IGN);  // a closed pipe is a failed write, said as such
#endif
    const int status = Run(Arguments(argc, argv));
    WaitIfTheWindowIsOurs();
    return status;
}
