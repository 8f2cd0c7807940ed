// libFuzzer target: arbitrary bytes as the settings file, read through the
// same reader and loader as the plugin; every numeric prefix is also checked
// against the C library's conversion.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "plugin/SettingsReader.h"

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

float hostFloats[6];
float* HostFloat(host::Address address, void*) {
    switch (address) {
        case host::kAimFloat8CC4A0:
            return &hostFloats[0];
        case host::kAimFloat8CC4A8:
            return &hostFloats[1];
        case host::kAimFloat8CC4AC:
            return &hostFloats[2];
        case host::kAimFloat8CC4B0:
            return &hostFloats[3];
        case host::kAimFloat8CC4B4:
            return &hostFloats[4];
        case host::kAimFloat8CC4B8:
            return &hostFloats[5];
        default:
            std::abort();  // the layout names no other host float
    }
}
std::uint32_t codeConstant;
void WriteCode(std::uint32_t bits, void*) {
    codeConstant = bits;
}
float block[4][7];
void Publish(const float (*rows)[7], int count, void*) {
    if (count < 1 || count > 4) std::abort();
    std::memcpy(block, rows, sizeof rows[0] * static_cast<std::size_t>(count));
}
int lastLine;
void Observe(int number, const settings::Line& line, const settings::ParsedLine& parsed, void*) {
    if (number != lastLine + 1 || line.length >= settings::kLineBufferSize || line.text[line.length] != '\0')
        std::abort();
    if (parsed.converted > settings::kLayout[number - 1].values) std::abort();
    lastLine = number;
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
    if (libraryEnd != end || std::memcmp(&ours, &theirs, 4) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Source source{data, size, 0};
    settings::LineReader reader(&Read, &source);
    std::int32_t reload = 0;
    float rows[4][7] = {};
    float offsets[16][3] = {};
    lastLine = 0;
    const settings::SettingsTarget target = {&reload,    rows,     offsets, &HostFloat,
                                             &WriteCode, &Publish, nullptr, &Observe};
    if (settings::ApplySettings(reader, target) != lastLine) std::abort();
    CheckConversion(data, size);
    return 0;
}
