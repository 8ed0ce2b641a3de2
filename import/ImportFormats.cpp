#include "import/ImportFormats.h"

#include <array>
#include <sstream>

namespace ruvo {
namespace {

constexpr std::array<ImportFormat, 17> kFormats{{
    {"WAV", "wav wave", "audio/x-wav;audio/wav;audio/vnd.wave"},
    {"FLAC", "flac", "audio/flac;audio/x-flac"},
    {"Ogg Vorbis", "ogg oga", "audio/ogg;audio/x-vorbis+ogg"},
    {"Opus", "opus", "audio/x-opus+ogg"},
    {"MP3", "mp3", "audio/mpeg"},
    {"AIFF", "aif aiff aifc", "audio/x-aiff;audio/x-aifc"},
    {"Wave64", "w64", "audio/x-w64"},
    {"CAF", "caf", "audio/x-caf"},
    {"AU", "au snd", "audio/basic"},
    // Read through FFmpeg: phone memos, Windows Media, and the sound track of videos.
    {"M4A/AAC", "m4a aac", "audio/mp4;audio/x-m4a;audio/aac;audio/x-aac"},
    {"ALAC", "m4a caf", "audio/x-alac"},
    {"WMA", "wma", "audio/x-ms-wma"},
    {"AMR", "amr awb", "audio/amr;audio/amr-wb"},
    {"3GP", "3gp 3ga", "audio/3gpp;video/3gpp"},
    {"MP4 video", "mp4 m4v mov", "video/mp4;video/quicktime"},
    {"MKV video", "mkv mka", "video/x-matroska;audio/x-matroska"},
    {"WebM video", "webm", "video/webm;audio/webm"},
}};

}  // namespace

std::span<const ImportFormat> ImportFormats() { return kFormats; }

std::string ImportNamePatterns() {
    std::string patterns;
    for (const ImportFormat& format : kFormats) {
        std::istringstream words(format.Extensions);
        for (std::string word; words >> word;) {
            if (patterns.find("*." + word + ' ') != std::string::npos || patterns.ends_with("*." + word)) continue;
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

std::string UnreadableFormatMessage() {
    std::string names;
    for (const ImportFormat& format : kFormats) {
        if (!names.empty()) names += ", ";
        names += format.Name;
    }
    return "This file is in no sound format that can be read. Formats read: " + names + ".";
}

}  // namespace ruvo
