#pragma once
// FlacFrames: the frames of a FLAC file of one or two channels straight from libFLAC, as
// interleaved floats of full scale 1 with the values libsndfile gives (a sample over 2 to the
// power of its bits less one). A stream that announces no length, changes its layout between
// frames, or fails to decode to its announced length is left to libsndfile, which tells why
// (Irregular()). libFLAC holds its address: neither copied nor moved. One thread at a time.

#include <FLAC/stream_decoder.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ruvo {

class FlacFrames {
public:
    // `frames`, `channels`, `rate` and `bits` as libsndfile reported them.
    FlacFrames(const std::string& fileName, std::int64_t frames, std::int32_t channels, std::int32_t rate,
               std::int32_t bits);
    FlacFrames(const FlacFrames&) = delete;
    FlacFrames& operator=(const FlacFrames&) = delete;

    // Whether the file suits this reader: one or two channels of at most 24 bits, a known length.
    static bool Suits(std::int64_t frames, std::int32_t channels, std::int32_t bits);
    // False when the decoder cannot start on the file.
    bool Opened() const { return m_decoder != nullptr && !m_irregular; }

    // Up to `count` frames into `out` (count x channels floats): fewer only at the end of the
    // announced length; -1 once the file proved irregular.
    std::int64_t Read(float* out, std::size_t count);
    bool Irregular() const { return m_irregular; }

private:
    static FLAC__StreamDecoderWriteStatus OnFrame(const FLAC__StreamDecoder* decoder, const FLAC__Frame* frame,
                                                  const FLAC__int32* const buffer[], void* self);
    static void OnError(const FLAC__StreamDecoder* decoder, FLAC__StreamDecoderErrorStatus status, void* self);

    struct DecoderDeleter {
        void operator()(FLAC__StreamDecoder* decoder) const { FLAC__stream_decoder_delete(decoder); }
    };

    std::unique_ptr<FLAC__StreamDecoder, DecoderDeleter> m_decoder;
    std::int64_t m_left;  // frames still to give
    std::size_t m_channels;
    std::uint32_t m_rate;
    std::uint32_t m_bits;
    std::vector<float> m_frame;  // the last decoded frame, interleaved, in its first m_filled
    std::size_t m_filled = 0;
    std::size_t m_at = 0;  // floats of it already given
    // Where the frame being decoded goes when it holds at most m_room frames (m_direct then
    // says how many it held); else to m_frame.
    float* m_target = nullptr;
    std::size_t m_room = 0;
    std::size_t m_direct = 0;
    bool m_irregular = false;
};

}  // namespace ruvo
