#pragma once
// The sound formats the import accepts, in one list: the Open dialog's "Audio files" filter,
// the desktop entry's MimeType line and the README all follow it. Plain constants.

#include <span>
#include <string>

namespace ruvo {

struct ImportFormat {
    const char* Name;        // as the user knows it: "FLAC"
    const char* Extensions;  // file name endings without the dot, blank-separated: "aif aiff aifc"
    const char* MimeTypes;   // semicolon-separated, as a desktop entry lists them
};

std::span<const ImportFormat> ImportFormats();

// "*.wav *.flac ..." for a file dialog's filter.
std::string ImportNamePatterns();
// "audio/x-wav;audio/flac;...;" for a desktop entry's MimeType key (ends in a semicolon).
std::string ImportMimeTypes();

// What both programs say of a file that neither the WAV check, libsndfile nor FFmpeg reads.
std::string UnreadableFormatMessage();

}  // namespace ruvo
