#include "tools/settings_checker/SettingsCheck.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "host/HostConstants.h"
#include "settings/SettingsLayout.h"

static_assert(settings::kAimRowCount == host::kAimBlockRows && settings::kAimRowLength == host::kAimBlockColumns,
              "the file's aim rows are the host's aim block, row for row");
static_assert(settings::kHostValueCount == host::kAimValueCount, "one file line per host aim value");
#include "settings/NumberRules.h"
#include "settings/SettingsDiagnostics.h"
#include "settings/WeaponTable.h"
#include "settings_template.h"

namespace checker {

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

namespace {

// A value as the plugin's log prints it too.
std::string Number(float value) {
    char text[settings::kNumberTextSize];
    return std::string(text, settings::FormatNumber(value, text));
}

std::string WhatItSets(int number) {
    const settings::LineLayout& layout = settings::kLayout[number - 1];
    switch (layout.kind) {
        case settings::LineKind::ReloadSwitch:
            return "live reload switch (0 off, anything else on)";
        case settings::LineKind::FreeText:
            return "free text (a heading, never read as values)";
        case settings::LineKind::HostValue:
            return "host float at " + Hex(host::kAimValues[layout.index]);
        case settings::LineKind::CodeConstant:
            return "float constant in host code at " + Hex(host::kAimCodeConstant);
        case settings::LineKind::AimRow:
            return "aim block row " + std::to_string(layout.index) + " (host " +
                   Hex(host::kAimBlock + host::kAimBlockColumns * 4u * static_cast<std::uint32_t>(layout.index)) + ")";
        case settings::LineKind::WeaponOffset:
            if (layout.index == 0) return "weapon offset row 0 (serves no weapon)";
            return "weapon offset row " + std::to_string(layout.index) + " (weapon type " +
                   std::to_string(weapons::CodeOfRow(layout.index)) + ")";
    }
    return "";
}

LineReport DescribeLine(int number, const settings::LineValues& given) {
    const settings::LineLayout& layout = settings::kLayout[number - 1];
    LineReport entry{number, WhatItSets(number), {}, layout.values};
    if (layout.kind == settings::LineKind::ReloadSwitch && given.count)
        entry.values.push_back(std::to_string(given.integer));
    else if (layout.kind != settings::LineKind::FreeText)
        for (int i = 0; i < given.count; ++i) entry.values.push_back(Number(given.values[i]));
    return entry;
}

}  // namespace

Report Check(const std::string& bytes) {
    Report report;
    report.readable = true;
    settings::ReadSettingsFile(bytes.data(), bytes.size(), report.file);
    const settings::SettingsFile& file = report.file;
    for (int number = 1; number <= file.linesRead; ++number)
        report.lines.push_back(DescribeLine(number, file.lines[number - 1]));
    for (int i = 0; i < file.problems.Kept(); ++i)
        report.problems.push_back({file.problems.kept[i].line, file.problems.kept[i].text});
    if (file.problems.count > file.problems.Kept())
        report.problems.push_back(
            {0, std::to_string(file.problems.count - file.problems.Kept()) + " more problem(s) not listed"});
    // Weapons whose line the file does not reach at all (the lines it has
    // but that give no number are told at their line).
    std::string missing;
    int missingCount = 0;
    for (int line = file.linesRead + 1; line <= settings::kLineCount; ++line) {
        const settings::LineLayout& layout = settings::kLayout[line - 1];
        if (layout.kind != settings::LineKind::WeaponOffset || layout.index == 0) continue;
        missing += (missing.empty() ? "" : ", ") + std::to_string(weapons::CodeOfRow(layout.index));
        ++missingCount;
    }
    if (missingCount == 1)
        report.problems.push_back({0, "weapon type " + missing +
                                          " keeps the game's own aim point (or an earlier save's offset): the file "
                                          "gives no offset for it"});
    else if (missingCount > 1)
        report.problems.push_back({0, "weapon types " + missing +
                                          " keep the game's own aim point (or an earlier save's offset): the file "
                                          "gives no offset for them"});
    return report;
}

namespace {

// After "no such file": the checker can look elsewhere.
const char kOrNameIt[] = "; or name the file to check: aimingsets-check path/to/aimingSets.dat";

}  // namespace

Report CheckFile(const std::string& path) {
    // No more than the plugin reads.
    const FileBytes read = ReadFileBytes(path, settings::kMaxFileBytes);
    if (!read.read) {
        Report report;
        report.fullPath = read.fullPath;
        report.unreadable = read.why;
        if (read.missing) {
            report.unreadable += kOrNameIt;
            if (FileExists(path + ".txt")) report.unreadable += std::string("; ") + settings::kNotepadTxtHint;
        }
        return report;
    }
    Report report = Check(read.bytes);
    report.fullPath = read.fullPath;
    // What the plugin's first load logs: a Notepad copy saved after the file.
    if (NewerFileExists(path + ".txt", path))
        report.problems.push_back({0, std::string(settings::kNotepadTxtHint) + " (it is newer than this one)"});
    return report;
}

int ExitStatus(const Report& report) {
    if (!report.readable) return 2;
    return report.problems.empty() ? 0 : 1;
}

std::string FormatText(const Report& report, const std::string& path) {
    std::string out;
    if (!report.readable)
        return path + ": cannot be read: " + report.unreadable + "\n  (looked at " + report.fullPath + ")\n";
    out += "checked " + report.fullPath + "\n";
    out += path + ": " + std::to_string(report.file.linesRead) + " line(s) read\n";
    out += "  encoding: " + std::string(settings::EncodingName(report.file.encoding)) + "\n";
    for (const LineReport& line : report.lines) {
        char head[96];
        std::snprintf(head, sizeof head, "  line %2d  %-52s", line.number, line.sets.c_str());
        out += head;
        for (const std::string& v : line.values) out += " " + v;
        out += "\n";
    }
    if (report.problems.empty()) {
        out += "no problems found\n";
        return out;
    }
    out += std::to_string(report.problems.size()) + " problem(s):\n";
    for (const Problem& p : report.problems)
        out += (p.line ? "  line " + std::to_string(p.line) + ": " : "  file: ") + p.text + "\n";
    return out;
}

namespace {
// The length of the well-formed UTF-8 sequence at text[i], or 0.
std::size_t Utf8Sequence(const std::string& text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return 0;
    std::uint32_t code = length == 1 ? c : c & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        code = (code << 6) | (next & 0x3F);
    }
    // No overlong forms, no surrogates, nothing past U+10FFFF.
    static const std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
    return length;
}

}  // namespace

// A JSON string of `text`: valid UTF-8 whatever the bytes were (a path on
// Linux may hold any); a byte that is no part of a character becomes U+FFFD.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = Utf8Sequence(text, i);
        if (length == 0) {
            out += "\\ufffd";
            ++i;
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            char u[8];
            std::snprintf(u, sizeof u, "\\u%04x", c);
            out += u;
            ++i;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out + "\"";
}

std::string FormatJson(const Report& report, const std::string& path) {
    std::string out =
        "{\n  \"file\": " + JsonString(path) + ",\n  \"readable\": " + (report.readable ? "true" : "false");
    if (!report.readable) out += ",\n  \"unreadable\": " + JsonString(report.unreadable);
    out += ",\n  \"fullPath\": " + JsonString(report.fullPath);
    out += ",\n  \"status\": " + std::to_string(ExitStatus(report));
    out += ",\n  \"linesRead\": " + std::to_string(report.file.linesRead);
    out += ",\n  \"linesAfter31\": " + std::string(report.file.linesAfterLast ? "true" : "false");
    out += ",\n  \"encoding\": " + JsonString(settings::EncodingName(report.file.encoding));
    out += ",\n  \"aimRowsPublished\": " + std::to_string(report.file.aimRowsPublished);
    out += ",\n  \"lines\": [";
    for (std::size_t i = 0; i < report.lines.size(); ++i) {
        const LineReport& line = report.lines[i];
        out += std::string(i ? "," : "") + "\n    {\"line\": " + std::to_string(line.number) +
               ", \"sets\": " + JsonString(line.sets) + ", \"expected\": " + std::to_string(line.expected) +
               ", \"values\": [";
        for (std::size_t v = 0; v < line.values.size(); ++v)
            out += (v ? ", " : "") + (std::isdigit(static_cast<unsigned char>(line.values[v].back()))
                                          ? line.values[v]
                                          : JsonString(line.values[v]));
        out += "]}";
    }
    out += "\n  ],\n  \"problems\": [";
    for (std::size_t i = 0; i < report.problems.size(); ++i)
        out += std::string(i ? "," : "") + "\n    {\"line\": " + std::to_string(report.problems[i].line) +
               ", \"text\": " + JsonString(report.problems[i].text) + "}";
    out += "\n  ]\n}\n";
    return out;
}

const std::string& TemplateText() {
    static const std::string text(reinterpret_cast<const char*>(kSettingsTemplate), sizeof kSettingsTemplate);
    return text;
}

}  // namespace checker
