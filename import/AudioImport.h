#pragma once
// TAudioImport: reads a sound file of any format libsndfile or FFmpeg knows (WAV of every PCM and float
// width, extensible headers, extra chunks, AIFF, FLAC, Ogg Vorbis, Opus, MP3) and writes it as
// a canonical 16-bit PCM WAV file that the WAV check accepts: mono or stereo (more channels are
// mixed down to two), at 44100 samples per second from rates above 22050, at 22050 from rates
// up to 22050 (11025 is kept), resampled by soxr. Streams in blocks: memory stays flat
// whatever the length. Owned by value by its user and called from one thread; while it writes,
// threads of its own decode (FLAC files through libFLAC itself) and resample; no Qt.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace ruvo {

constexpr std::int32_t kImportCancelled = -2;

// What a sound file holds, as libsndfile reports it.
struct AudioSource {
    std::string Format;           // "WAV", "FLAC", "Ogg Vorbis", "Opus", "MP3", "AIFF", ...
    std::string Encoding;         // "24-bit", "32-bit float", "u-law", ...; empty when compressed
    std::int32_t SampleRate = 0;  // samples per second
    std::int32_t Channels = 0;
    std::int64_t Frames = 0;  // samples per channel, as the file announces them; -1 when unknown
    double Seconds() const;  // 0 when unknown
};

// The rate (samples per second) and channel count a source is analysed at.
std::int32_t ImportedRate(std::int32_t sourceRate);
std::int32_t ImportedChannels(std::int32_t sourceChannels);
// "48000 Hz, 24-bit FLAC", with ", 4 channels" for more than two.
std::string DescribeSource(const AudioSource& source);
// "44100 Hz, 16-bit", with ", stereo" when channels are mixed down.
std::string DescribeImported(const AudioSource& source);

class FfmpegReader;

class TAudioImport {
public:
    TAudioImport();
    ~TAudioImport();
    TAudioImport(const TAudioImport&) = delete;
    TAudioImport& operator=(const TAudioImport&) = delete;

    // 0 when libsndfile or else FFmpeg reads the file (Source() then describes it), else -1
    // with the reason in LastError().
    [[nodiscard]] std::int32_t Open(const std::string& fileName);
    const AudioSource& Source() const { return m_source; }

    // Writes the opened file as a canonical WAV file to `outName` (replaced): at most
    // `maxFrames` samples per channel at the imported rate. `idle` runs after every block;
    // false cancels. 0 written, -1 failed (LastError() says why), kImportCancelled. The file
    // is left for its owner to delete in every case.
    [[nodiscard]] std::int32_t WriteWav(const std::string& outName, std::int64_t maxFrames,
                                        const std::function<bool()>& idle);

    const std::string& LastError() const { return m_error; }
    // After a failed Open: neither libsndfile nor FFmpeg knows the file's format.
    bool FormatUnknown() const { return m_formatUnknown; }

    // Reads up to the given count of frames into the given floats: the count read (0 at the
    // end), or -1 with the reason in the string.
    using BlockReader = std::function<std::int64_t(float*, std::size_t, std::string&)>;

private:
    std::int32_t WriteBlocks(const std::string& outName, std::int64_t maxFrames, const std::function<bool()>& idle,
                             const BlockReader& read);
    std::int32_t OpenWithFfmpeg(const std::string& fileName, bool sndfileKnowsNoFormat);
    std::int32_t WriteWithFfmpeg(const std::string& outName, std::int64_t maxFrames,
                                 const std::function<bool()>& idle);

    struct SoundFile;
    std::unique_ptr<SoundFile> m_file;
    std::unique_ptr<FfmpegReader> m_ffmpeg;  // set when FFmpeg reads the file instead
    bool m_formatUnknown = false;
    AudioSource m_source;
    std::int64_t m_announcedFrames = -1;  // by a WAV header that says more than the file holds
    std::string m_error;
    std::string m_fileName;         // of the last Open through libsndfile
    std::int32_t m_sampleBits = 0;  // its bits per sample when PCM, else 0
};

}  // namespace ruvo
