#include "settings/SettingsFile.h"

#include <cstdio>

#include "settings/NumberRules.h"
#include "settings/SettingsDiagnostics.h"

namespace settings {

void Problems::Add(int line, const char* text) {
    if (count < kKept) {
        kept[count].line = line;
        std::snprintf(kept[count].text, sizeof kept[count].text, "%s", text);
    }
    ++count;
}

void ReadSettingsFile(const char* bytes, std::size_t size, SettingsFile& file) {
    TextLines text(bytes, size);
    file.problems.count = 0;
    int aimRowsRead = 0;
    int aimValuesRead = 0;
    Line line;
    int number = 0;
    while (number < kLineCount && text.Next(line)) {
        const LineLayout& layout = kLayout[number];
        ++number;
        ParsedLine parsed;
        if (layout.kind != LineKind::FreeText)
            parsed = ParseValueLine(line.text, line.length, layout.kind == LineKind::ReloadSwitch, layout.values);
        LineValues& given = file.lines[number - 1];
        given.count = parsed.converted;
        given.integer = parsed.integer;
        for (int i = 0; i < kMaxValuesPerLine; ++i) given.values[i] = i < parsed.converted ? parsed.floats[i] : 0.0f;
        if (layout.kind == LineKind::AimRow) {
            aimRowsRead = layout.index + 1;
            aimValuesRead += parsed.converted;
        }
        DiagnoseLine(number, line, parsed, file.problems);
    }
    for (int rest = number; rest < kLineCount; ++rest) file.lines[rest] = LineValues{};
    file.encoding = text.TextEncoding();
    file.linesRead = number;
    file.linesAfterLast = number == kLineCount && text.RestHoldsText();
    file.limitReached = text.LimitReached();
    file.aimRowsPublished = aimValuesRead > 0 ? aimRowsRead : 0;
    DiagnoseFile(file.linesRead, file.linesAfterLast, file.limitReached, file.problems);
}

}  // namespace settings
