#include "import/ImportFormats.h"

#include <array>
#include <sstream>

namespace ruvo {
namespace {

constexpr std::array<ImportFormat, 9> kFormats{{
    {"WAV", "wav wave", "audio/x-wav;audio/wav;audio/vnd.wave"},
    {"FLAC", "flac", "audio/flac;audio/x-flac"},
    {"Ogg Vorbis", "ogg oga", "audio/ogg;audio/x-vorbis+ogg"},
    {"Opus", "opus", "audio/x-opus+ogg"},
    {"MP3", "mp3", "audio/mpeg"},
    {"AIFF", "aif aiff aifc", "audio/x-aiff;audio/x-aifc"},
    {"Wave64", "w64", "audio/x-w64"},
    {"CAF", "caf", "audio/x-caf"},
    {"AU", "au snd", "audio/basic"},
}};

}  // namespace

std::span<const ImportFormat> ImportFormats() { return kFormats; }

std::string ImportNamePatterns() {
    std::string patterns;
    for (const ImportFormat& format : kFormats) {
        std::istringstream words(format.Extensions);
        for (std::string word; words >> word;) {
            if (!patterns.empty()) patterns += ' ';
            patterns += "*." + word;
        }
    }
    return patterns;
}

std::string ImportMimeTypes() {
    std::string types;
    for (const ImportFormat& format : kFormats) {
        types += format.MimeTypes;
        types += ';';
    }
    return types;
}

}  // namespace ruvo
