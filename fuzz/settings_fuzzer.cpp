// libFuzzer target: arbitrary bytes as the settings file, read through the
// same reader and loader as the plugin; every numeric prefix is also checked
// against the C library's conversion.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "settings/SettingsReader.h"

namespace {

struct Source {
    const std::uint8_t* data;
    std::size_t size, at;
};

std::size_t Read(void* context, char* buffer, std::size_t size) {
    auto* s = static_cast<Source*>(context);
    // Uneven chunks, so that line ends fall on every kind of boundary.
    std::size_t n = std::min(size, s->size - s->at);
    if (n > 1 && s->at % 7 == 3) n = 1 + s->at % 13 % n;
    std::memcpy(buffer, s->data + s->at, n);
    s->at += n;
    return n;
}

// Plain memory for every destination, with the checks the reader promises.
class CheckingSink final : public settings::SettingsSink {
public:
    void SetReloadEveryFrame(std::int32_t value) override { reload = value; }
    void SetHostValue(int index, float value) override {
        if (index < 0 || index >= settings::kHostValueCount) std::abort();
        hostValues[index] = value;
    }
    void SetCodeConstant(std::uint32_t bits) override { codeConstant = bits; }
    void StageAimRow(int row, const float* values, int count) override {
        if (row < 0 || row >= settings::kAimRowCount || count < 0 || count > settings::kAimRowLength) std::abort();
        std::memcpy(staged[row], values, sizeof(float) * static_cast<std::size_t>(count));
    }
    void PublishAimRows(int rowCount) override {
        if (rowCount < 1 || rowCount > settings::kAimRowCount) std::abort();
        std::memcpy(block, staged, sizeof staged[0] * static_cast<std::size_t>(rowCount));
    }
    void SetWeaponOffset(int row, const float* values, int count) override {
        if (row < 0 || row >= settings::kWeaponOffsetRows || count < 0 || count > 3) std::abort();
        std::memcpy(offsets[row], values, sizeof(float) * static_cast<std::size_t>(count));
    }
    void LineRead(int number, const settings::Line& line, const settings::ParsedLine& parsed) override {
        if (number != lastLine + 1 || line.length >= settings::kLineBufferSize || line.text[line.length] != '\0')
            std::abort();
        if (parsed.converted > settings::kLayout[number - 1].values) std::abort();
        lastLine = number;
    }

    std::int32_t reload = 0;
    float hostValues[settings::kHostValueCount] = {};
    std::uint32_t codeConstant = 0;
    float staged[settings::kAimRowCount][settings::kAimRowLength] = {};
    float block[settings::kAimRowCount][settings::kAimRowLength] = {};
    float offsets[settings::kWeaponOffsetRows][3] = {};
    int lastLine = 0;
};

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
    if (libraryEnd != end || std::memcmp(&ours, &theirs, 4) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Source source{data, size, 0};
    settings::LineReader reader(&Read, &source);
    CheckingSink sink;
    if (settings::ApplySettings(reader, sink) != sink.lastLine) std::abort();
    CheckConversion(data, size);
    return 0;
}
