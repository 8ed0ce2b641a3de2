#include "import/FfmpegReader.h"

#include "import/CanonicalWav.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace ruvo {
namespace {

constexpr std::int32_t kSlowestRate = 4000;  // as the first reader: outside is a damaged header
constexpr std::int32_t kFastestRate = 768000;
constexpr double kFullScale = 32768.0;
constexpr std::int64_t kIdleFrames = 32768;  // output frames between two calls of `idle`

std::string AvReason(int code) {
    std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
    av_strerror(code, text.data(), text.size());
    return text.data();
}

struct FormatCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecFreer {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct ResamplerFreer {
    void operator()(SwrContext* context) const { swr_free(&context); }
};
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The codec's name as a listener knows it.
std::string CodecName(AVCodecID id) {
    switch (id) {
        case AV_CODEC_ID_AAC:
        case AV_CODEC_ID_AAC_LATM: return "AAC";
        case AV_CODEC_ID_ALAC: return "ALAC";
        case AV_CODEC_ID_WMAV1:
        case AV_CODEC_ID_WMAV2:
        case AV_CODEC_ID_WMAPRO: return "WMA";
        case AV_CODEC_ID_WMALOSSLESS: return "WMA Lossless";
        case AV_CODEC_ID_AMR_NB:
        case AV_CODEC_ID_AMR_WB: return "AMR";
        case AV_CODEC_ID_MP3: return "MP3";
        case AV_CODEC_ID_MP2: return "MP2";
        case AV_CODEC_ID_VORBIS: return "Vorbis";
        case AV_CODEC_ID_OPUS: return "Opus";
        case AV_CODEC_ID_FLAC: return "FLAC";
        case AV_CODEC_ID_AC3: return "AC-3";
        case AV_CODEC_ID_EAC3: return "E-AC-3";
        default: break;
    }
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(id);
    return descriptor != nullptr ? descriptor->name : "sound";
}

}  // namespace

// The opened container and the decoder of its best sound track.
struct FfmpegReader::Streams {
    std::unique_ptr<AVFormatContext, FormatCloser> Format;
    std::unique_ptr<AVCodecContext, CodecFreer> Decoder;
    int Track = -1;
    bool HasVideo = false;
    bool Used = false;  // a write has decoded from it

    // 0 opened; -1 with `error` (and `unknown` when FFmpeg knows no format in the file).
    std::int32_t Open(const std::string& fileName, std::string& error, bool& unknown) {
        unknown = false;
        AVFormatContext* format = nullptr;
        if (const int code = avformat_open_input(&format, fileName.c_str(), nullptr, nullptr); code < 0) {
            // Whether the file can be read at all the first reader has told already; here a
            // failure means that no demuxer takes it (a probe can even stop at EINVAL).
            unknown = true;
            error = AvReason(code);
            return -1;
        }
        Format.reset(format);
        if (const int code = avformat_find_stream_info(format, nullptr); code < 0) {
            error = AvReason(code);
            return -1;
        }
        for (unsigned i = 0; i < format->nb_streams; ++i)
            if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) HasVideo = true;
        const AVCodec* codec = nullptr;
        Track = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        if (Track == AVERROR_STREAM_NOT_FOUND) {
            // A container of pictures or text only; a text file may pass as one.
            unknown = !HasVideo;
            error = "the file holds no sound track";
            return -1;
        }
        if (Track < 0 || codec == nullptr) {
            error = "no decoder for its sound track";
            return -1;
        }
        Decoder.reset(avcodec_alloc_context3(codec));
        if (!Decoder || avcodec_parameters_to_context(Decoder.get(), format->streams[Track]->codecpar) < 0) {
            error = "cannot set up its decoder";
            return -1;
        }
        if (const int code = avcodec_open2(Decoder.get(), codec, nullptr); code < 0) {
            error = "cannot open its decoder: " + AvReason(code);
            return -1;
        }
        return 0;
    }

    AVStream* Stream() const { return Format->streams[Track]; }
};

FfmpegReader::FfmpegReader() = default;
FfmpegReader::~FfmpegReader() = default;

std::int32_t FfmpegReader::Open(const std::string& fileName) {
    // The import says why it fails itself; FFmpeg's own notes on standard error would only confuse.
    av_log_set_level(AV_LOG_QUIET);
    m_fileName = fileName;
    m_source = {};
    m_error.clear();
    auto streams = std::make_unique<Streams>();
    if (streams->Open(fileName, m_error, m_formatUnknown) != 0) return -1;
    const AVCodecParameters* par = streams->Stream()->codecpar;
    if (par->ch_layout.nb_channels < 1) {
        m_error = "the file holds no sound channels";
        return -1;
    }
    if (par->sample_rate < kSlowestRate || par->sample_rate > kFastestRate) {
        m_error = "its rate of " + std::to_string(par->sample_rate) + " samples per second is not one of sound (" +
                  std::to_string(kSlowestRate) + " to " + std::to_string(kFastestRate) + ")";
        return -1;
    }
    m_source.Format = CodecName(par->codec_id) + (streams->HasVideo ? " sound of a video" : "");
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(par->codec_id);
    if (descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_LOSSLESS) != 0 && par->bits_per_raw_sample > 0)
        m_source.Encoding = std::to_string(par->bits_per_raw_sample) + "-bit";
    m_source.SampleRate = par->sample_rate;
    m_source.Channels = par->ch_layout.nb_channels;
    const AVStream* stream = streams->Stream();
    m_source.Frames = -1;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        m_source.Frames = av_rescale_q(stream->duration, stream->time_base, AVRational{1, par->sample_rate});
    } else if (streams->Format->duration != AV_NOPTS_VALUE && streams->Format->duration > 0) {
        m_source.Frames = av_rescale(streams->Format->duration, par->sample_rate, AV_TIME_BASE);
    }
    m_streams = std::move(streams);
    return 0;
}

std::int32_t FfmpegReader::WriteWav(const std::string& outName, std::int64_t maxFrames,
                                    const std::function<bool()>& idle) {
    m_error.clear();
    if (!m_streams) {
        m_error = "no sound file is open";
        return -1;
    }
    // A second write decodes from the start again through a fresh opening.
    if (m_streams->Used) {
        auto streams = std::make_unique<Streams>();
        bool unknown = false;
        if (streams->Open(m_fileName, m_error, unknown) != 0) return -1;
        m_streams = std::move(streams);
    }
    Streams& s = *m_streams;
    s.Used = true;
    const auto fail = [this](const std::string& reason) {
        m_error = reason;
        return -1;
    };
    std::unique_ptr<std::FILE, FileCloser> out(std::fopen(outName.c_str(), "wb"));
    const auto writeFailed = [&]() { return fail("cannot write " + outName + ": " + std::strerror(errno)); };
    if (!out) return writeFailed();
    const std::int32_t rate = ImportedRate(m_source.SampleRate);
    const std::int32_t channels = ImportedChannels(m_source.Channels);
    const std::int64_t largest = static_cast<std::int64_t>((std::numeric_limits<std::uint32_t>::max() - 36) /
                                                           (static_cast<std::uint32_t>(channels) * kBytesPerSample));
    std::int64_t left = std::min(maxFrames, largest);
    const auto header = CanonicalHeader(static_cast<std::uint32_t>(rate), static_cast<std::uint32_t>(channels), 0);
    if (std::fwrite(header.data(), 1, header.size(), out.get()) != header.size()) return writeFailed();

    // Decoders tell their channel order; a track that does not gets the usual one for its count.
    AVChannelLayout inLayout{};
    if (s.Decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_default(&inLayout, s.Decoder->ch_layout.nb_channels);
    } else if (av_channel_layout_copy(&inLayout, &s.Decoder->ch_layout) < 0) {
        return fail("cannot read its channel layout");
    }
    AVChannelLayout outLayout{};
    av_channel_layout_default(&outLayout, channels);
    SwrContext* made = nullptr;
    const int setUp = swr_alloc_set_opts2(&made, &outLayout, AV_SAMPLE_FMT_FLT, rate, &inLayout,
                                          s.Decoder->sample_fmt, s.Decoder->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_uninit(&outLayout);
    std::unique_ptr<SwrContext, ResamplerFreer> resampler(made);
    if (setUp < 0 || !resampler) return fail("cannot convert its samples: " + AvReason(setUp));
    // soxr, as the first reader resamples; FFmpeg's own resampler where it is built without it.
    av_opt_set_int(resampler.get(), "resampler", SWR_ENGINE_SOXR, 0);
    if (swr_init(resampler.get()) < 0) {
        av_opt_set_int(resampler.get(), "resampler", SWR_ENGINE_SWR, 0);
        if (const int code = swr_init(resampler.get()); code < 0)
            return fail("cannot convert its samples: " + AvReason(code));
    }

    std::vector<float> converted;
    std::vector<std::int16_t> pcm;
    std::int64_t written = 0;
    std::int64_t sinceIdle = 0;
    // Output frames still to drop at the start: an MP3 without an encoder-delay tag starts
    // with the encoder's and the decoder's delay, which FFmpeg removes only when tagged.
    std::int64_t skip = 0;
    bool firstPacket = true;
    const auto put = [&](const std::uint8_t** in, int inFrames) {
        const int room = swr_get_out_samples(resampler.get(), inFrames);
        if (room < 0) return fail("cannot convert its samples: " + AvReason(room));
        converted.resize(static_cast<std::size_t>(room) * static_cast<std::size_t>(channels));
        auto* target = reinterpret_cast<std::uint8_t*>(converted.data());
        const int got = swr_convert(resampler.get(), &target, room, in, inFrames);
        if (got < 0) return fail("cannot convert its samples: " + AvReason(got));
        std::int64_t first = std::min<std::int64_t>(skip, got);
        skip -= first;
        const std::int64_t frames = std::min<std::int64_t>(got - first, left);
        if (frames <= 0) return 0;
        pcm.resize(static_cast<std::size_t>(frames * channels));
        const float* from = converted.data() + first * channels;
        for (std::size_t i = 0; i < pcm.size(); ++i) {
            // Ties to even, clipped to 16 bits, as the first reader writes its samples.
            const double scaled = std::clamp(static_cast<double>(from[i]) * kFullScale, -kFullScale, kFullScale - 1);
            auto value = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lrint(scaled)));
            if constexpr (std::endian::native == std::endian::big)
                value = static_cast<std::uint16_t>((value >> 8) | (value << 8));
            pcm[i] = static_cast<std::int16_t>(value);
        }
        if (std::fwrite(pcm.data(), sizeof(std::int16_t), pcm.size(), out.get()) != pcm.size()) return writeFailed();
        left -= frames;
        written += frames;
        sinceIdle += frames;
        return 0;
    };

    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
    if (!packet || !frame) return fail("out of memory");
    // Takes every frame the decoder has ready; false on a failure (m_error says it).
    const auto drain = [&]() {
        for (;;) {
            const int code = avcodec_receive_frame(s.Decoder.get(), frame.get());
            if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return true;
            if (code < 0) {
                fail("cannot decode it: " + AvReason(code));
                return false;
            }
            const int result = put(const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
            av_frame_unref(frame.get());
            if (result != 0) return false;
        }
    };
    bool ended = false;
    while (left > 0 && !ended) {
        const int code = av_read_frame(s.Format.get(), packet.get());
        if (code == AVERROR_EOF) {
            ended = true;
            avcodec_send_packet(s.Decoder.get(), nullptr);
        } else if (code < 0) {
            return fail("cannot read it: " + AvReason(code));
        } else if (packet->stream_index == s.Track) {
            if (firstPacket) {
                firstPacket = false;
                std::size_t size = 0;
                const bool tagged = av_packet_get_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &size) != nullptr;
                if (s.Decoder->codec_id == AV_CODEC_ID_MP3 && !tagged)
                    skip = av_rescale(kUntaggedMp3Delay, rate, m_source.SampleRate);
            }
            const int sent = avcodec_send_packet(s.Decoder.get(), packet.get());
            av_packet_unref(packet.get());
            // A damaged packet fails the import, as a damaged frame does in the first reader:
            // notes from a glitch would pass for the recording's.
            if (sent < 0) return fail("cannot decode it: " + AvReason(sent));
        } else {
            av_packet_unref(packet.get());
        }
        if (!drain()) return m_error.empty() ? writeFailed() : -1;
        if (sinceIdle >= kIdleFrames) {
            sinceIdle = 0;
            if (idle && !idle()) return kImportCancelled;
        }
    }
    // What the resampler still holds.
    if (left > 0 && put(nullptr, 0) != 0) return m_error.empty() ? writeFailed() : -1;

    const auto dataBytes = static_cast<std::uint32_t>(static_cast<std::uint64_t>(written) *
                                                      static_cast<std::uint64_t>(channels) * kBytesPerSample);
    const auto final = CanonicalHeader(static_cast<std::uint32_t>(rate), static_cast<std::uint32_t>(channels), dataBytes);
    if (std::fseek(out.get(), 0, SEEK_SET) != 0 ||
        std::fwrite(final.data(), 1, final.size(), out.get()) != final.size()) {
        return writeFailed();
    }
    if (std::fclose(out.release()) != 0) return writeFailed();
    return 0;
}

// The import's hooks: FFmpeg reads what libsndfile does not, and every MP3, whose delay it
// removes where libsndfile's decoder keeps it.
std::int32_t TAudioImport::OpenWithFfmpeg(const std::string& fileName, bool sndfileKnowsNoFormat) {
    auto reader = std::make_unique<FfmpegReader>();
    if (reader->Open(fileName) != 0) {
        m_formatUnknown = sndfileKnowsNoFormat && reader->FormatUnknown();
        // A format FFmpeg knows has its own reason; else libsndfile's stands.
        if (!reader->FormatUnknown()) m_error = reader->LastError();
        if (m_formatUnknown) m_error = "Format not recognised.";
        return -1;
    }
    m_error.clear();
    m_source = reader->Source();
    m_announcedFrames = -1;
    m_ffmpeg = std::move(reader);
    return 0;
}

std::int32_t TAudioImport::WriteWithFfmpeg(const std::string& outName, std::int64_t maxFrames,
                                           const std::function<bool()>& idle) {
    const std::int32_t written = m_ffmpeg->WriteWav(outName, maxFrames, idle);
    m_error = m_ffmpeg->LastError();
    return written;
}

}  // namespace ruvo
