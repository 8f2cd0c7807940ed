// The settings checker's core: reads aimingSets.dat with the plugin's own
// reader and tells, line by line, what each line sets, what was read, and
// every problem that makes a value not do what its author meant.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/SettingsFile.h"
#include "tools/settings_checker/FileBytes.h"

namespace checker {

struct LineReport {
    int number;
    std::string sets;                 // what the line sets, in words
    std::vector<std::string> values;  // the numbers read, as the plugin stores them
    int expected;                     // numbers the line should hold
};

struct Problem {
    int line;  // 0: the file as a whole
    std::string text;
};

struct Report {
    bool readable = false;
    std::string unreadable;            // why not, in words, with what to do
    std::string fullPath;              // the file looked at, as the system names it
    settings::SettingsFile file = {};  // what the plugin reads from it
    std::vector<LineReport> lines;     // the lines read, each with what it sets and gave
    std::vector<Problem> problems;     // the file's, then the checker's own
};

// Checks a settings file from its bytes.
Report Check(const std::string& bytes);

// Checks the file at `path` (UTF-8). A file that cannot be read (missing, a
// folder, a device or a pipe, one the system refuses) gives readable ==
// false and the reason; a pipe is never opened, so nothing waits on it.
Report CheckFile(const std::string& path);

std::string FormatText(const Report& report, const std::string& path);
std::string FormatJson(const Report& report, const std::string& path);

// `value` as 0x and at least `digits` hex digits: a host address (6) or an
// image's base (8).
std::string Hex(std::uint32_t value, int digits = 6);

// A JSON string of `text`: valid UTF-8 whatever the bytes were (a path on
// Linux may hold any); a byte that is no part of a character becomes U+FFFD.
std::string JsonString(const std::string& text);

// 0: sound, 1: problems, 2: unreadable.
int ExitStatus(const Report& report);

// A fresh settings file with every line labelled and the headings filled in.
const std::string& TemplateText();

}  // namespace checker
