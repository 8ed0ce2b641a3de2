#include "import/FlacFrames.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace ruvo {

namespace {
constexpr std::int32_t kWidestBits = 24;  // whose samples a float holds exactly
}  // namespace

bool FlacFrames::Suits(std::int64_t frames, std::int32_t channels, std::int32_t bits) {
    return frames > 0 && (channels == 1 || channels == 2) && bits > 0 && bits <= kWidestBits;
}

FlacFrames::FlacFrames(const std::string& fileName, std::int64_t frames, std::int32_t channels, std::int32_t rate,
                       std::int32_t bits)
    : m_decoder(FLAC__stream_decoder_new()),
      m_left(frames),
      m_channels(static_cast<std::size_t>(channels)),
      m_rate(static_cast<std::uint32_t>(rate)),
      m_bits(static_cast<std::uint32_t>(bits)) {
    if (!m_decoder || !Suits(frames, channels, bits)) {
        m_irregular = true;
        return;
    }
    // Only the audio frames: the checksum over the whole file is not checked (libsndfile does
    // not either), and no metadata is kept.
    FLAC__stream_decoder_set_md5_checking(m_decoder.get(), false);
    FLAC__stream_decoder_set_metadata_ignore_all(m_decoder.get());
    if (FLAC__stream_decoder_init_file(m_decoder.get(), fileName.c_str(), &FlacFrames::OnFrame, nullptr,
                                       &FlacFrames::OnError, this) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        m_irregular = true;
    }
}

std::int64_t FlacFrames::Read(float* out, std::size_t count) {
    std::size_t given = 0;
    while (given < count && m_left > 0 && !m_irregular) {
        if (m_at == m_filled) {
            m_filled = 0;
            m_at = 0;
            // A frame that fits is converted straight into `out`.
            m_target = out + given * m_channels;
            m_room = std::min(count - given, static_cast<std::size_t>(m_left));
            m_direct = 0;
            // Metadata blocks come before the first frame, one per call.
            while (m_filled == 0 && m_direct == 0 && !m_irregular) {
                const bool decoded = FLAC__stream_decoder_process_single(m_decoder.get()) != 0;
                if (!decoded ||
                    (m_filled == 0 && m_direct == 0 &&
                     FLAC__stream_decoder_get_state(m_decoder.get()) == FLAC__STREAM_DECODER_END_OF_STREAM)) {
                    // The file ends before its announced length, or fails: libsndfile's turn.
                    m_irregular = true;
                }
            }
            if (m_irregular) break;
            given += m_direct;
            m_left -= static_cast<std::int64_t>(m_direct);
        }
        const std::size_t take =
            std::min({count - given, (m_filled - m_at) / m_channels, static_cast<std::size_t>(m_left)});
        if (take > 0) std::memcpy(out + given * m_channels, m_frame.data() + m_at, take * m_channels * sizeof(float));
        m_at += take * m_channels;
        given += take;
        m_left -= static_cast<std::int64_t>(take);
    }
    return m_irregular ? -1 : static_cast<std::int64_t>(given);
}

FLAC__StreamDecoderWriteStatus FlacFrames::OnFrame(const FLAC__StreamDecoder* /*decoder*/, const FLAC__Frame* frame,
                                                   const FLAC__int32* const buffer[], void* self) {
    auto& reader = *static_cast<FlacFrames*>(self);
    const FLAC__FrameHeader& header = frame->header;
    if (header.channels != reader.m_channels || header.bits_per_sample != reader.m_bits ||
        (header.sample_rate != 0 && header.sample_rate != reader.m_rate)) {
        reader.m_irregular = true;
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    // A power of two: every product is exact, as libsndfile's.
    const float scale = 1.0F / static_cast<float>(1U << (header.bits_per_sample - 1));
    const std::size_t frames = header.blocksize;
    float* to = reader.m_target;
    if (frames <= reader.m_room) {
        reader.m_direct = frames;
    } else {
        try {
            if (reader.m_frame.size() < frames * reader.m_channels) reader.m_frame.resize(frames * reader.m_channels);
        } catch (const std::bad_alloc&) {
            // Nothing may be thrown through the C library.
            reader.m_irregular = true;
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
        reader.m_filled = frames * reader.m_channels;
        to = reader.m_frame.data();
    }
    if (reader.m_channels == 2) {
        const FLAC__int32* left = buffer[0];
        const FLAC__int32* right = buffer[1];
        for (std::size_t f = 0; f < frames; ++f) {
            to[2 * f] = static_cast<float>(left[f]) * scale;
            to[2 * f + 1] = static_cast<float>(right[f]) * scale;
        }
    } else {
        for (std::size_t f = 0; f < frames; ++f) to[f] = static_cast<float>(buffer[0][f]) * scale;
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void FlacFrames::OnError(const FLAC__StreamDecoder* /*decoder*/, FLAC__StreamDecoderErrorStatus /*status*/,
                         void* self) {
    static_cast<FlacFrames*>(self)->m_irregular = true;
}

}  // namespace ruvo
