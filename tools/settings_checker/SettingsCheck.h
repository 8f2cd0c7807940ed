// The settings checker's core: reads aimingSets.dat with the plugin's own
// reader and tells, line by line, what each line sets, what was read, and
// every problem that makes a value not do what its author meant.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/SettingsReader.h"

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

// What a load leaves, starting from an empty plugin and a host whose values
// the file does not provide (a `...Set`/`...Given` flag false: the file gave
// none, and the host keeps its own).
struct Applied {
    std::int32_t reloadEveryFrame = 0;
    float hostValues[settings::kHostValueCount] = {};  // host values 1 to 6 (lines 3, 4, 6, 7, 8, 9)
    bool hostValueSet[settings::kHostValueCount] = {};
    float codeConstant = 0;
    bool codeConstantSet = false;
    float aimBlock[4][7] = {};  // as it reaches the host
    bool aimGiven[4][7] = {};
    int aimRowsPublished = 0;
    float weaponOffsets[16][3] = {};
    bool weaponOffsetGiven[16] = {};  // false: that weapon keeps the host's own aim point
};

struct Report {
    bool readable = false;
    settings::LineReader::Encoding encoding = settings::LineReader::Encoding::Plain;
    int linesRead = 0;
    bool linesAfter31 = false;
    std::vector<LineReport> lines;
    std::vector<Problem> problems;
    Applied applied;
};

// Checks what `reader` yields (the settings file's bytes).
Report Check(settings::LineReader& reader);
#ifdef _WIN32
// UTF-8 as UTF-16, for the wide API (paths in any script).
std::wstring Wide(const std::string& text);
#endif

// Checks the file at `path` (UTF-8); an unreadable file, or a folder, gives
// readable == false.
Report CheckFile(const std::string& path);

// The encoding as the report names it.
const char* EncodingName(settings::LineReader::Encoding encoding);

std::string FormatText(const Report& report, const std::string& path);
std::string FormatJson(const Report& report, const std::string& path);

// 0: sound, 1: problems, 2: unreadable.
int ExitStatus(const Report& report);

// A fresh settings file with every line labelled and the headings filled in.
const std::string& TemplateText();

}  // namespace checker
