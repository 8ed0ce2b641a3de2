#pragma once
// FfmpegReader: the import's second reader, for what libsndfile does not read: AAC and ALAC in
// M4A, WMA, AMR and the sound track of a video (MP4, MKV, WebM), through FFmpeg's libraries.
// Also reads MP3, whose encoder delay it removes. Writes the same canonical 16-bit WAV work
// file as the first reader. Owned by TAudioImport; one thread; no Qt.

#include "import/AudioImport.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace ruvo {

class FfmpegReader {
public:
    FfmpegReader();
    ~FfmpegReader();
    FfmpegReader(const FfmpegReader&) = delete;
    FfmpegReader& operator=(const FfmpegReader&) = delete;

    // 0 when FFmpeg finds a sound track it decodes (Source() then describes it), else -1 with
    // the reason in LastError(); FormatUnknown() then tells a file of no format FFmpeg knows
    // from one that it knows but cannot use (no sound track, an unsupported codec).
    [[nodiscard]] std::int32_t Open(const std::string& fileName);
    const AudioSource& Source() const { return m_source; }
    bool FormatUnknown() const { return m_formatUnknown; }

    // As TAudioImport::WriteWav: at most `maxFrames` frames at the imported rate into
    // `outName` (replaced); 0, -1 (LastError() says why) or kImportCancelled.
    [[nodiscard]] std::int32_t WriteWav(const std::string& outName, std::int64_t maxFrames,
                                        const std::function<bool()>& idle);

    const std::string& LastError() const { return m_error; }

private:
    struct Streams;
    std::unique_ptr<Streams> m_streams;
    std::string m_fileName;
    AudioSource m_source;
    bool m_formatUnknown = false;
    std::string m_error;
};

// Samples an MP3 decoding starts late by when the file does not say (no encoder-delay tag):
// the decoder's 529 and the 576 that LAME, by far the most common encoder, puts in front.
constexpr std::int64_t kUntaggedMp3Delay = 529 + 576;

}  // namespace ruvo
