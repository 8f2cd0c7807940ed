// libFuzzer target: arbitrary bytes as the settings file, read as the plugin
// reads them, problems included. The same text behind a UTF-8 byte-order
// mark, and (when it is ASCII) as UTF-16, must read as the same value; every
// numeric prefix is also checked against the C library's conversion.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "settings/NumberRules.h"
#include "settings/SettingsFile.h"

namespace {

settings::SettingsFile first, second;

void Require(bool condition) {
    if (!condition) std::abort();
}

// What the reader promises of any value it returns.
void CheckValue(const settings::SettingsFile& file) {
    Require(file.linesRead >= 0 && file.linesRead <= settings::kLineCount);
    Require(file.linesAfterLast == false || file.linesRead == settings::kLineCount);
    for (int line = 0; line < settings::kLineCount; ++line) {
        const settings::LineValues& given = file.lines[line];
        Require(given.count >= 0 && given.count <= settings::kLayout[line].values);
        Require(line < file.linesRead || given.count == 0);
    }
    Require(file.aimRowsPublished >= 0 && file.aimRowsPublished <= settings::kAimRowCount);
    for (int i = 0; i < file.problems.Kept(); ++i) {
        const settings::Problem& p = file.problems.kept[i];
        Require(p.line >= 0 && p.line <= file.linesRead);
        Require(std::memchr(p.text, '\0', sizeof p.text) != nullptr && p.text[0] != '\0');
    }
}

// Two readings of one text: equal in every value and every problem.
void RequireSameReading(const settings::SettingsFile& a, const settings::SettingsFile& b) {
    Require(a.linesRead == b.linesRead && a.linesAfterLast == b.linesAfterLast && a.limitReached == b.limitReached);
    Require(a.aimRowsPublished == b.aimRowsPublished);
    Require(std::memcmp(a.lines, b.lines, sizeof a.lines) == 0);
    Require(a.problems.count == b.problems.count);
    for (int i = 0; i < a.problems.Kept(); ++i)
        Require(a.problems.kept[i].line == b.problems.kept[i].line &&
                std::strcmp(a.problems.kept[i].text, b.problems.kept[i].text) == 0);
}

bool StartsWithAMark(const std::uint8_t* data, std::size_t size) {
    return (size >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF))) ||
           (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF);
}

// Decimal tokens: our conversion must give strtof's float.
void CheckConversion(const std::uint8_t* data, std::size_t size) {
    std::string token(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 64));
    for (char& c : token)
        if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '-' || c == '+')) c = '0';
    float ours = 0;
    const char* end = settings::ConvertFloat(token.data(), token.data() + token.size(), ours);
    if (!end) return;
    char* libraryEnd = nullptr;
    const float theirs = std::strtof(token.c_str(), &libraryEnd);
    Require(libraryEnd == end && std::memcmp(&ours, &theirs, 4) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    settings::ReadSettingsFile(bytes, size, first);
    CheckValue(first);
    // A mark of its own in front would be read as text, so leave those be;
    // the mark counts towards the read limit, so stay below it.
    if (!StartsWithAMark(data, size) && first.encoding == settings::Encoding::Plain &&
        size + 3 < settings::kMaxFileBytes) {
        const std::string marked = "\xEF\xBB\xBF" + std::string(bytes, size);
        settings::ReadSettingsFile(marked.data(), marked.size(), second);
        Require(second.encoding == settings::Encoding::Utf8WithMark);
        RequireSameReading(first, second);
        bool ascii = true;
        for (std::size_t i = 0; i < size; ++i) ascii &= data[i] < 0x80;
        if (ascii && 2 * size + 2 < settings::kMaxFileBytes) {
            std::string utf16 = "\xFF\xFE";
            for (std::size_t i = 0; i < size; ++i) utf16 += {bytes[i], '\0'};
            settings::ReadSettingsFile(utf16.data(), utf16.size(), second);
            Require(second.encoding == settings::Encoding::Utf16LittleEndian);
            RequireSameReading(first, second);
        }
    }
    CheckConversion(data, size);
    return 0;
}
