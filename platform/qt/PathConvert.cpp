#include "platform/qt/PathConvert.h"

#include <cstddef>
#include <cstdint>

namespace ruvo {

namespace {

// A byte that is no part of valid UTF-8 stands in a QString as the lone low surrogate
// U+DC00 + byte (U+DC80 ... U+DCFF), which no valid name holds: every name of the file system,
// UTF-8 or not, comes back as the same bytes.
constexpr char16_t kEscapeBase = 0xDC00;

bool Continuation(std::uint8_t byte, std::uint8_t low = 0x80, std::uint8_t high = 0xBF) {
    return byte >= low && byte <= high;
}

// The length of the valid UTF-8 sequence at `at`, 0 when there is none.
std::size_t SequenceLength(const std::string& text, std::size_t at) {
    const auto byte = [&text](std::size_t i) -> std::uint8_t {
        return i < text.size() ? static_cast<std::uint8_t>(text[i]) : std::uint8_t{0};
    };
    const std::uint8_t lead = byte(at);
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return Continuation(byte(at + 1)) ? 2 : 0;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        // No overlong forms and no surrogates.
        const std::uint8_t low = lead == 0xE0 ? 0xA0 : 0x80;
        const std::uint8_t high = lead == 0xED ? 0x9F : 0xBF;
        return Continuation(byte(at + 1), low, high) && Continuation(byte(at + 2)) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        // No overlong forms and nothing beyond U+10FFFF.
        const std::uint8_t low = lead == 0xF0 ? 0x90 : 0x80;
        const std::uint8_t high = lead == 0xF4 ? 0x8F : 0xBF;
        return Continuation(byte(at + 1), low, high) && Continuation(byte(at + 2)) && Continuation(byte(at + 3)) ? 4
                                                                                                                 : 0;
    }
    return 0;
}

}  // namespace

std::string FileNameToEngine(const QString& name) {
    std::string bytes;
    qsizetype runStart = 0;
    const auto flush = [&](qsizetype end) {
        bytes += name.mid(runStart, end - runStart).toStdString();
        runStart = end + 1;
    };
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t unit = name.at(i).unicode();
        const bool paired = i > 0 && name.at(i - 1).isHighSurrogate();
        if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF && !paired) {
            flush(i);
            bytes += static_cast<char>(unit - kEscapeBase);
        }
    }
    flush(name.size());
    return bytes;
}

QString FileNameFromEngine(const std::string& name) {
    QString text;
    std::size_t runStart = 0;
    std::size_t i = 0;
    while (i < name.size()) {
        if (const std::size_t length = SequenceLength(name, i); length > 0) {
            i += length;
            continue;
        }
        text += QString::fromUtf8(name.data() + runStart, static_cast<qsizetype>(i - runStart));
        text += QChar(static_cast<char16_t>(kEscapeBase + static_cast<std::uint8_t>(name[i])));
        runStart = ++i;
    }
    text += QString::fromUtf8(name.data() + runStart, static_cast<qsizetype>(name.size() - runStart));
    return text;
}

std::filesystem::path ToPath(const QString& name) { return std::filesystem::path(FileNameToEngine(name)); }

QString FromPath(const std::filesystem::path& path) { return FileNameFromEngine(path.native()); }

}  // namespace ruvo
