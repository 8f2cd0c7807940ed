#include "settings/SettingsFile.h"

#include <cstdarg>
#include <cstdio>

#include "settings/NumberRules.h"
#include "settings/SettingsDiagnostics.h"
#include "settings/WeaponTable.h"

namespace settings {

void Problems::Add(int line, const char* text) {
    if (count < kKept) {
        kept[count].line = line;
        std::snprintf(kept[count].text, sizeof kept[count].text, "%s", text);
    }
    ++count;
}

void ProblemReporter::operator()(const char* format, ...) const {
    char text[Problem::kLength];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    problems_.Add(line_, text);
}

void ReadSettingsFile(const char* bytes, std::size_t size, SettingsFile& file) {
    // First the shape and label of every line, and of the first line after
    // the layout: whether the lines sit where the layout has them. Then how
    // many lines hold text at all, the ones past the layout included.
    LineShape shapes[kLineCount + 1];
    LineLabel labels[kLineCount + 1];
    int available = 0;
    int textLines = 0;  // the last line that holds text
    {
        TextLines text(bytes, size);
        Line line;
        while (available <= kLineCount && text.Next(line)) {
            shapes[available] = ShapeOf(line.text, line.length);
            labels[available] = LabelOf(line.text, line.length, shapes[available]);
            if (!shapes[available++].blank) textLines = available;
        }
        if (const int more = text.LinesToLastText()) textLines = available + more;
        file.encoding = text.TextEncoding();
        file.linesRead = available < kLineCount ? available : kLineCount;
        file.linesAfterLast = textLines > kLineCount;
        file.limitReached = text.LimitReached();
        file.ctrlZLine = text.CtrlZLine();
    }
    // The sample's labels tell where lines went, where the file has them;
    // the lines' shapes and count, where it has not.
    const LabelEvidence byLabels = ReadLabelEvidence(labels, available, textLines);
    Shift shift = byLabels.shift.shift;
    if (!byLabels.evidence) {
        shift = DetectShift(shapes, available);
        if (shift.kind == Shift::Kind::None) shift = DetectWeaponLineCount(shapes, available, textLines);
    }
    file.firstShiftedLine = shift.kind == Shift::Kind::None ? 0 : shift.first;

    // Numbers written with a decimal comma on many lines are one mistake,
    // told once.
    int commaLines = 0, firstCommaLine = 0;
    for (int number = 1; number <= file.linesRead; ++number) {
        if (file.firstShiftedLine && number >= file.firstShiftedLine) break;
        const LineLayout& layout = kLayout[number - 1];
        const LineShape& shape = shapes[number - 1];
        if (layout.kind != LineKind::FreeText && shape.decimalComma && shape.numbers < layout.values) {
            ++commaLines;
            if (!firstCommaLine) firstCommaLine = number;
        }
    }
    const bool commasTold = commaLines >= 3;
    char commaWord[48] = "";

    // Then the values: none from a shifted line on, whose values would land
    // in the wrong places.
    file.problems.count = 0;
    int aimRowsRead = 0;
    int aimValuesRead = 0;
    int finding = 0;
    TextLines text(bytes, size);
    Line line;
    for (int number = 1; number <= kLineCount; ++number) {
        LineValues& given = file.lines[number - 1];
        given = LineValues{};
        if (number > file.linesRead || !text.Next(line)) continue;
        if (number == file.firstShiftedLine) DiagnoseShift(shift, &byLabels.shift, labels, file.problems);
        if (file.firstShiftedLine && number >= file.firstShiftedLine) continue;
        for (; finding < byLabels.findings && byLabels.found[finding].line == number; ++finding)
            DiagnoseLabelFinding(byLabels.found[finding], file.problems);
        const LineLayout& layout = kLayout[number - 1];
        ParsedLine parsed;
        if (layout.kind != LineKind::FreeText)
            parsed = ParseValueLine(line.text, line.length, layout.kind == LineKind::ReloadSwitch, layout.values);
        if (number == firstCommaLine && commasTold)
            std::snprintf(commaWord, sizeof commaWord, "%.*s", static_cast<int>(parsed.stopWordLength),
                          line.text + parsed.stopWordBegin);
        // A plainly wrong line is not applied at all.
        const Refusal refusal = RefusalOf(number, line, parsed, shapes[number - 1]);
        given.count = refusal == Refusal::None ? parsed.converted : 0;
        given.integer = parsed.integer;
        for (int i = 0; i < parsed.converted; ++i) given.values[i] = parsed.floats[i];
        if (layout.kind == LineKind::AimRow) {
            aimRowsRead = layout.index + 1;
            aimValuesRead += given.count;
        }
        DiagnoseLine(number, line, parsed, shapes[number - 1], refusal, commasTold, file.problems);
    }
    file.aimRowsPublished = aimValuesRead > 0 ? aimRowsRead : 0;
    if (commasTold) DiagnoseDecimalCommas(commaLines, firstCommaLine, commaWord, file.problems);
    DiagnoseFile(file.linesRead, file.linesAfterLast, file.limitReached, file.firstShiftedLine != 0, shift.byCount,
                 file.problems);
    DiagnoseCtrlZ(file.ctrlZLine, file.problems);
}

OpenFailure OpenFailureOf(unsigned long windowsError) {
    switch (windowsError) {
        case 2:  // ERROR_FILE_NOT_FOUND
        case 3:  // ERROR_PATH_NOT_FOUND
            return OpenFailure::NoSuchFile;
        case 32:  // ERROR_SHARING_VIOLATION
        case 33:  // ERROR_LOCK_VIOLATION
            return OpenFailure::Locked;
        case 5:  // ERROR_ACCESS_DENIED
            return OpenFailure::AccessDenied;
        default:
            return OpenFailure::Other;
    }
}

const char* OpenFailureMeaning(OpenFailure failure) {
    switch (failure) {
        case OpenFailure::NoSuchFile:
            return "no such file: put aimingSets.dat next to the plugin (the release zip has a sample, and "
                   "aimingsets-check --template aimingSets.dat writes one)";
        case OpenFailure::Locked:
            return "another program holds it locked: close that program, or let it finish saving; the plugin reads "
                   "it again as soon as that program lets go";
        case OpenFailure::AccessDenied:
            return "Windows refuses to open it (access denied; is it a folder?): check the file and who may read it";
        case OpenFailure::Other:
            break;
    }
    return "Windows cannot open it";
}

const char* LineRole(int number, char (&out)[32]) {
    if (number < 1 || number > kLineCount) return "";
    const LineLayout& layout = kLayout[number - 1];
    switch (layout.kind) {
        case LineKind::ReloadSwitch:
            return "live reload";
        case LineKind::FreeText:
            return "a heading";
        case LineKind::HostValue:
            std::snprintf(out, sizeof out, "host value %d", layout.index + 1);
            return out;
        case LineKind::CodeConstant:
            return "the code constant";
        case LineKind::AimRow:
            std::snprintf(out, sizeof out, "aim row %d", static_cast<int>(layout.index));
            return out;
        case LineKind::WeaponOffset:
            if (layout.index == 0) return "no weapon";
            std::snprintf(out, sizeof out, "weapon %u", static_cast<unsigned>(weapons::CodeOfRow(layout.index)));
            return out;
    }
    return "";
}

}  // namespace settings
