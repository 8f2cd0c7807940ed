// A settings file as a value: what each of its lines gave, which elements
// were given, how its bytes were encoded, how many lines it has and what is
// wrong with it. Reading is a pure function from bytes to this value: the
// plugin applies it to the host, the checker prints it, the tests and the
// fuzzer compare it. Nothing here allocates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/SettingsLayout.h"
#include "settings/TextLines.h"

namespace settings {

// What one line gave: its first `count` numbers (0 for a heading, a blank
// line or one whose first value is no number). A destination the line did
// not give keeps what it held.
struct LineValues {
    int count;
    std::int32_t integer;             // line 1: live reload's whole number
    float values[kMaxValuesPerLine];  // every other value line
};

// One thing wrong with the file, in the words a player reads.
struct Problem {
    static constexpr std::size_t kLength = 320;
    int line;  // 0: the file as a whole
    char text[kLength];
};

// The problems of one file: all are counted, the first kKept are kept.
struct Problems {
    static constexpr int kKept = 64;
    int count;
    Problem kept[kKept];

    int Kept() const { return count < kKept ? count : kKept; }
    void Add(int line, const char* text);
};

// Adds problems of line `line` (0: the file as a whole), each formatted
// printf-style and cut to a problem's length.
class ProblemReporter {
public:
    ProblemReporter(int line, Problems& problems) : line_(line), problems_(problems) {}
    void operator()(const char* format, ...) const __attribute__((format(printf, 2, 3)));

private:
    int line_;
    Problems& problems_;
};

struct SettingsFile {
    Encoding encoding;
    int linesRead;        // at most kLineCount; the lines after them are never read
    bool linesAfterLast;  // text after line kLineCount
    bool limitReached;    // the bytes reached kMaxFileBytes
    int ctrlZLine;        // the line that holds a Ctrl-Z with text after it (0: none)
    // A line missing or one too many: from this line on (0: none), every line
    // may be read one line off, and none gives anything.
    int firstShiftedLine;
    LineValues lines[kLineCount];  // lines past linesRead gave nothing
    // The aim block takes rows [0, aimRowsPublished): every row once the
    // last row line has been read, the rows read when the file ends inside
    // them, none when no aim line gave a number. A value a published row
    // does not give keeps what the block holds.
    int aimRowsPublished;
    Problems problems;

    const LineValues& Given(LineKind kind, int index = 0) const { return lines[LineOf(kind, index) - 1]; }
    // How many values of aim row `row` reach the host's block.
    int AimValuesPublished(int row) const { return row < aimRowsPublished ? Given(LineKind::AimRow, row).count : 0; }
};

// Reads a settings file from its bytes (at most the first kMaxFileBytes).
void ReadSettingsFile(const char* bytes, std::size_t size, SettingsFile& file);

// Why the file could not be opened, from Windows' error number.
enum class OpenFailure { NoSuchFile, Locked, AccessDenied, Other };
OpenFailure OpenFailureOf(unsigned long windowsError);
// What that means and what to do, in a player's words: the plugin's log and
// the checker say the same.
const char* OpenFailureMeaning(OpenFailure failure);

// Fills `bytes` with at most `capacity` bytes from `read(into, room)`, which
// returns how many it read, 0 at the end or on a failure (what a failed read
// leaves is the end). Returns how many bytes there are.
template <typename Read>
std::size_t ReadUpTo(char* bytes, std::size_t capacity, Read read) {
    std::size_t size = 0;
    while (size < capacity) {
        const std::size_t got = read(bytes + size, capacity - size);
        if (got == 0) break;
        size += got;
    }
    return size;
}

// What file line `number` sets, in a player's words ("weapon 19", "host
// value 1", "aim row 0", "live reload", "the code constant", "a heading").
const char* LineRole(int number, char (&out)[32]);

// Said where aimingSets.dat is missing (or older than one of these beside
// it): Notepad's Save As adds .txt, which Explorer hides.
constexpr char kNotepadTxtHint[] =
    "found aimingSets.dat.txt beside it: Notepad added .txt; rename it to aimingSets.dat";

}  // namespace settings
