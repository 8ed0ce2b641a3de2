#include "import/AudioImport.h"

#include "import/CanonicalWav.h"
#include "import/FfmpegReader.h"
#include "import/FlacFrames.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <exception>
#include <filesystem>
#include <limits>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <type_traits>
#include <unistd.h>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ruvo {
namespace {

constexpr std::size_t kBlockSamples = 65536;  // source samples (all channels) read at once
// Rates outside these are no sound recording: a damaged header, whose resampling would only
// make a huge or empty file.
constexpr std::int32_t kSlowestRate = 4000;
constexpr std::int32_t kFastestRate = 768000;
constexpr std::int32_t kHighRate = 44100;
constexpr std::int32_t kLowRate = 22050;
constexpr std::int32_t kLowestRate = 11025;
constexpr float kFullScaleFloat = 32768.0F;   // a float sample of 1.0 in 16-bit units
constexpr float kRoundingBias = 12582912.0F;  // 1.5 x 2^23

// libsndfile's reasons without their "Error : " or "System error : " lead.
std::string Reason(const char* text) {
    std::string reason = text != nullptr ? text : "unknown error";
    for (const char* lead : {"System error : ", "Error : "}) {
        if (reason.starts_with(lead)) reason.erase(0, std::strlen(lead));
    }
    return reason;
}

// The MP3 decoder inside libsndfile writes notes to standard error while it tries a file that
// is not MP3; they would only confuse next to our own message.
class QuietStderr {
public:
    QuietStderr() {
        std::fflush(stderr);
        m_saved = dup(STDERR_FILENO);
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (m_saved >= 0 && null >= 0) dup2(null, STDERR_FILENO);
        if (null >= 0) close(null);
    }
    ~QuietStderr() {
        if (m_saved < 0) return;
        dup2(m_saved, STDERR_FILENO);
        close(m_saved);
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int m_saved = -1;
};

std::string FormatName(int format) {
    const int sub = format & SF_FORMAT_SUBMASK;
    switch (format & SF_FORMAT_TYPEMASK) {
        case SF_FORMAT_WAV:
        case SF_FORMAT_WAVEX: return "WAV";
        case SF_FORMAT_RF64: return "RF64";
        case SF_FORMAT_NIST: return "NIST SPHERE";
        case SF_FORMAT_W64: return "Wave64";
        case SF_FORMAT_AIFF: return "AIFF";
        case SF_FORMAT_AU: return "AU";
        case SF_FORMAT_CAF: return "CAF";
        case SF_FORMAT_FLAC: return "FLAC";
        case SF_FORMAT_OGG: return sub == SF_FORMAT_OPUS ? "Opus" : sub == SF_FORMAT_VORBIS ? "Ogg Vorbis" : "Ogg";
        case SF_FORMAT_MPEG:
            return sub == SF_FORMAT_MPEG_LAYER_III ? "MP3" : sub == SF_FORMAT_MPEG_LAYER_II ? "MP2" : "MPEG audio";
        default: break;
    }
    SF_FORMAT_INFO info{};
    info.format = format & SF_FORMAT_TYPEMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name != nullptr) {
        // "AIFF (Apple/SGI)" and the like: the part before the explanation.
        std::string name = info.name;
        return name.substr(0, name.find(" ("));
    }
    return "sound";
}

std::string EncodingName(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8: return "8-bit";
        case SF_FORMAT_PCM_16: return "16-bit";
        case SF_FORMAT_PCM_24: return "24-bit";
        case SF_FORMAT_PCM_32: return "32-bit";
        case SF_FORMAT_FLOAT: return "32-bit float";
        case SF_FORMAT_DOUBLE: return "64-bit float";
        case SF_FORMAT_ULAW: return "u-law";
        case SF_FORMAT_ALAW: return "A-law";
        case SF_FORMAT_IMA_ADPCM:
        case SF_FORMAT_MS_ADPCM: return "ADPCM";
        default: return {};
    }
}

enum class Side { Left, Right, Both };

Side SideOf(int position) {
    switch (position) {
        case SF_CHANNEL_MAP_LEFT:
        case SF_CHANNEL_MAP_FRONT_LEFT:
        case SF_CHANNEL_MAP_REAR_LEFT:
        case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER:
        case SF_CHANNEL_MAP_SIDE_LEFT:
        case SF_CHANNEL_MAP_TOP_FRONT_LEFT:
        case SF_CHANNEL_MAP_TOP_REAR_LEFT: return Side::Left;
        case SF_CHANNEL_MAP_RIGHT:
        case SF_CHANNEL_MAP_FRONT_RIGHT:
        case SF_CHANNEL_MAP_REAR_RIGHT:
        case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER:
        case SF_CHANNEL_MAP_SIDE_RIGHT:
        case SF_CHANNEL_MAP_TOP_FRONT_RIGHT:
        case SF_CHANNEL_MAP_TOP_REAR_RIGHT: return Side::Right;
        default: return Side::Both;
    }
}

// Mixes more than two channels down to stereo: each output side is the mean of the channels
// on that side and of those in the middle (centre, LFE, mono), so it never clips. Without a
// channel map the channels pair up as left and right in turn; an odd last one is the middle.
class Downmix {
public:
    Downmix(SNDFILE* file, int channels) {
        std::vector<int> map(static_cast<std::size_t>(channels));
        const bool mapped = sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map.data(),
                                       static_cast<int>(map.size() * sizeof(int))) == SF_TRUE;
        for (int c = 0; c < channels; ++c) {
            Side side = c % 2 == 0 ? Side::Left : Side::Right;
            if (mapped) {
                side = SideOf(map[static_cast<std::size_t>(c)]);
            } else if (c == channels - 1 && channels % 2 == 1) {
                side = Side::Both;
            }
            m_left.push_back(side != Side::Right ? 1.0F : 0.0F);
            m_right.push_back(side != Side::Left ? 1.0F : 0.0F);
        }
        Normalise(m_left);
        Normalise(m_right);
    }

    // `in` holds `frames` frames of all channels; `out` receives two per frame.
    void Mix(const float* in, std::size_t frames, float* out) const {
        const std::size_t channels = m_left.size();
        for (std::size_t f = 0; f < frames; ++f, in += channels) {
            float left = 0.0F;
            float right = 0.0F;
            for (std::size_t c = 0; c < channels; ++c) {
                left += m_left[c] * in[c];
                right += m_right[c] * in[c];
            }
            *out++ = left;
            *out++ = right;
        }
    }

private:
    static void Normalise(std::vector<float>& weights) {
        float sum = 0.0F;
        for (float w : weights) sum += w;
        if (sum > 0.0F)
            for (float& w : weights) w /= sum;
    }

    std::vector<float> m_left;
    std::vector<float> m_right;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::uint32_t GetLe(const unsigned char* at, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | at[i];
    return value;
}

// The samples per channel that a RIFF WAV header's data chunk announces, for encodings of one
// block per sample; -1 when the header does not say (no data chunk in the first 64 kB, or a
// size of 0 or all ones, as streaming writers leave it).
std::int64_t AnnouncedWavFrames(const std::string& fileName) {
    FilePtr file(std::fopen(fileName.c_str(), "rb"));
    if (!file) return -1;
    std::vector<unsigned char> head(65536);
    const std::size_t got = std::fread(head.data(), 1, head.size(), file.get());
    if (got < 12 || std::memcmp(head.data(), "RIFF", 4) != 0 || std::memcmp(head.data() + 8, "WAVE", 4) != 0) return -1;
    std::uint32_t blockAlign = 0;
    for (std::size_t at = 12; at + 8 <= got;) {
        const std::uint32_t size = GetLe(head.data() + at + 4, 4);
        if (std::memcmp(head.data() + at, "fmt ", 4) == 0 && size >= 16 && at + 22 <= got) {
            blockAlign = GetLe(head.data() + at + 8 + 12, 2);
        } else if (std::memcmp(head.data() + at, "data", 4) == 0) {
            if (blockAlign == 0 || size == 0 || size == std::numeric_limits<std::uint32_t>::max()) return -1;
            return size / blockAlign;
        }
        at += 8 + static_cast<std::size_t>(size) + (size & 1U);
    }
    return -1;
}

// The bits per sample of a PCM encoding; 0 for any other.
std::int32_t SampleBits(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8: return 8;
        case SF_FORMAT_PCM_16: return 16;
        case SF_FORMAT_PCM_24: return 24;
        case SF_FORMAT_PCM_32: return 32;
        default: return 0;
    }
}

bool OneBlockPerSample(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW: return true;
        default: return false;
    }
}

struct ResamplerDeleter {
    void operator()(soxr_t resampler) const { soxr_delete(resampler); }
};
using ResamplerPtr = std::unique_ptr<std::remove_pointer_t<soxr_t>, ResamplerDeleter>;

// The 16-bit output: float samples scaled to full scale, rounded to the nearest integer with
// ties to even (the rounding everywhere in this program) and clipped to the 16-bit range.
class PcmWriter {
public:
    PcmWriter(std::FILE* file, std::size_t channels, std::int64_t maxFrames)
        : m_file(file), m_channels(channels), m_left(maxFrames) {}

    // `samples` holds `frames` interleaved frames.
    bool Put(const float* samples, std::size_t frames) {
        frames = std::min<std::size_t>(frames, static_cast<std::size_t>(m_left));
        m_pcm.resize(frames * m_channels);
        Convert(samples, m_pcm.size(), m_pcm.data());
        return Write(frames);
    }
    // `lanes` holds one array of `frames` samples per channel.
    bool PutLanes(const float* const* lanes, std::size_t frames) {
        if (m_channels == 1) return Put(lanes[0], frames);
        frames = std::min<std::size_t>(frames, static_cast<std::size_t>(m_left));
        m_pcm.resize(frames * 2);
        ConvertPair(lanes[0], lanes[1], frames, m_pcm.data());
        return Write(frames);
    }
    bool Full() const { return m_left <= 0; }
    std::int64_t Written() const { return m_written; }

private:
    // In float, without a library call per sample: the scaling by a power of two is exact in
    // float as in double, a NaN gives 0 as lrint's result cast to 16 bits did, and adding and
    // taking away 1.5 x 2^23 rounds a value of the 16-bit range to an integer with ties to
    // even (the sum's spacing is 1, and the constant is even). Every float gives the bytes of
    // the double arithmetic before.
    static std::int16_t ToPcm(float sample) {
        float scaled = sample * kFullScaleFloat;
        scaled = scaled == scaled ? std::clamp(scaled, -kFullScaleFloat, kFullScaleFloat - 1) : 0.0F;
        scaled = (scaled + kRoundingBias) - kRoundingBias;
        return LittleEndian(static_cast<std::int16_t>(static_cast<std::int32_t>(scaled)));
    }
#if defined(__SSE2__)
    // Four samples as ToPcm gives them, in 32-bit lanes: the processor's conversion rounds
    // with ties to even (its default mode), after the NaNs are made 0 and the clipping.
    static __m128i ToPcm4(const float* samples) {
        __m128 scaled = _mm_mul_ps(_mm_loadu_ps(samples), _mm_set1_ps(kFullScaleFloat));
        scaled = _mm_and_ps(scaled, _mm_cmpeq_ps(scaled, scaled));
        scaled = _mm_min_ps(_mm_max_ps(scaled, _mm_set1_ps(-kFullScaleFloat)), _mm_set1_ps(kFullScaleFloat - 1));
        return _mm_cvtps_epi32(scaled);
    }
#endif
    static void Convert(const float* samples, std::size_t count, std::int16_t* out) {
        std::size_t i = 0;
#if defined(__SSE2__)
        for (; i + 8 <= count; i += 8) {
            const __m128i packed = _mm_packs_epi32(ToPcm4(samples + i), ToPcm4(samples + i + 4));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), packed);
        }
#endif
        for (; i < count; ++i) out[i] = ToPcm(samples[i]);
    }
    static void ConvertPair(const float* left, const float* right, std::size_t frames, std::int16_t* out) {
        std::size_t f = 0;
#if defined(__SSE2__)
        for (; f + 4 <= frames; f += 4) {
            const __m128i l = ToPcm4(left + f);
            const __m128i r = ToPcm4(right + f);
            const __m128i packed = _mm_packs_epi32(_mm_unpacklo_epi32(l, r), _mm_unpackhi_epi32(l, r));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * f), packed);
        }
#endif
        for (; f < frames; ++f) {
            out[2 * f] = ToPcm(left[f]);
            out[2 * f + 1] = ToPcm(right[f]);
        }
    }
    bool Write(std::size_t frames) {
        // A resampler's first calls may make nothing, and an empty vector has no data to pass.
        if (m_pcm.empty()) return true;
        if (std::fwrite(m_pcm.data(), sizeof(std::int16_t), m_pcm.size(), m_file) != m_pcm.size()) return false;
        m_left -= static_cast<std::int64_t>(frames);
        m_written += static_cast<std::int64_t>(frames);
        return true;
    }
    static std::int16_t LittleEndian(std::int16_t v) {
        if constexpr (std::endian::native == std::endian::little) return v;
        const auto u = static_cast<std::uint16_t>(v);
        return static_cast<std::int16_t>(static_cast<std::uint16_t>((u >> 8) | (u << 8)));
    }

    std::FILE* m_file;
    std::size_t m_channels;
    std::int64_t m_left;
    std::int64_t m_written = 0;
    std::vector<std::int16_t> m_pcm;
};

// Resamples each channel with a soxr of its own on a thread of its own, one block behind the
// caller: Submit hands a block to the channels' threads and returns at once, Collect waits for
// the oldest block submitted, so that a block is resampled while the one before it is written.
// Each channel of a soxr keeps its own filter state, so the samples are those of one soxr for
// all channels. Each thread also takes its channel out of the interleaved block.
class ChannelResamplers {
public:
    ChannelResamplers(std::int32_t sourceRate, std::uint32_t rate, std::size_t channels) : m_channels(channels) {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        for (std::size_t c = 0; c < channels && m_error.empty(); ++c) {
            soxr_error_t error = nullptr;
            m_lanes[c].Soxr.reset(soxr_create(sourceRate, rate, 1, &error, &io, &quality, &runtime));
            if (error != nullptr) m_error = error;
        }
        try {
            for (std::size_t c = 0; c < channels && m_error.empty(); ++c) {
                m_lanes[c].Thread = std::jthread([this, c](const std::stop_token& stop) { Serve(stop, c); });
            }
        } catch (...) {
            // A thread that started waits on the condition: woken and joined before the throw.
            Stop();
            throw;
        }
    }
    ~ChannelResamplers() { Stop(); }
    ChannelResamplers(const ChannelResamplers&) = delete;
    ChannelResamplers& operator=(const ChannelResamplers&) = delete;

    const std::string& Error() const { return m_error; }

    // Starts on `frames` interleaved frames, or on the flush when `samples` is nullptr. The
    // samples stay untouched by the caller until the Collect of their block, and at most two
    // blocks are submitted and not collected.
    void Submit(const float* samples, std::size_t frames) {
        {
            const std::lock_guard lock(m_mutex);
            m_jobs[m_submitted % kSlots] = Job{samples, frames};
            ++m_submitted;
        }
        m_changed.notify_all();
    }
    // The oldest block not yet collected: one array of `count` samples per channel in
    // `made`, valid until the next Submit. False when soxr failed (Error() says why).
    bool Collect(std::array<const float*, 2>& made, std::size_t& count) {
        const std::size_t slot = m_collected % kSlots;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] {
                return std::all_of(m_lanes.begin(), m_lanes.begin() + static_cast<std::ptrdiff_t>(m_channels),
                                   [this](const Lane& lane) { return lane.Done > m_collected; });
            });
            ++m_collected;
        }
        count = m_lanes[0].Slots[slot].Made;
        for (std::size_t c = 0; c < m_channels; ++c) {
            const Output& out = m_lanes[c].Slots[slot];
            if (!out.Error.empty()) {
                m_error = out.Error;
                return false;
            }
            if (out.Made != count) {
                m_error = "the channels came out of different lengths";
                return false;
            }
            made[c] = out.Samples.data();
        }
        return true;
    }
    // Ends the threads (a block they are resampling first): nothing of a submitted block is
    // read afterwards.
    void Stop() {
        {
            // Under the mutex, so that no thread can miss it between its look and its wait.
            const std::lock_guard lock(m_mutex);
            for (Lane& lane : m_lanes) lane.Thread.request_stop();
        }
        m_changed.notify_all();
        for (Lane& lane : m_lanes) {
            if (lane.Thread.joinable()) lane.Thread.join();
        }
    }

private:
    static constexpr std::size_t kSlots = 2;

    struct Job {
        const float* Samples = nullptr;  // interleaved frames of all channels; nullptr: the flush
        std::size_t Frames = 0;
    };
    struct Output {
        std::vector<float> Samples;  // grows only: its first Made samples are the block's
        std::size_t Made = 0;
        std::string Error;
    };
    struct Lane {
        ResamplerPtr Soxr;
        std::vector<float> In;
        std::array<Output, kSlots> Slots;
        std::uint64_t Done = 0;  // blocks finished, under m_mutex
        std::jthread Thread;
    };

    void Serve(const std::stop_token& stop, std::size_t channel) {
        Lane& lane = m_lanes[channel];
        for (std::uint64_t next = 0;; ++next) {
            Job job;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [&] { return m_submitted > next || stop.stop_requested(); });
                if (stop.stop_requested()) return;
                job = m_jobs[next % kSlots];
            }
            Output& out = lane.Slots[next % kSlots];
            try {
                Run(lane, channel, job, out);
            } catch (const std::exception&) {
                // No exception leaves the thread: the block fails on the collecting side.
                out.Error = "out of memory";
            }
            {
                const std::lock_guard lock(m_mutex);
                lane.Done = next + 1;
            }
            m_changed.notify_all();
        }
    }

    void Run(Lane& lane, std::size_t channel, const Job& job, Output& out) const {
        out.Made = 0;
        out.Error.clear();
        const bool flush = job.Samples == nullptr;
        if (!flush) {
            if (lane.In.size() < job.Frames) lane.In.resize(job.Frames);
            const float* from = job.Samples + channel;
            for (std::size_t f = 0; f < job.Frames; ++f) lane.In[f] = from[f * m_channels];
        }
        std::size_t used = 0;
        constexpr std::size_t kRoom = 16384;  // frames made per call at most
        do {
            if (out.Samples.size() < out.Made + kRoom) out.Samples.resize(out.Made + kRoom);
            std::size_t taken = 0;
            std::size_t made = 0;
            soxr_error_t error = soxr_process(lane.Soxr.get(), flush ? nullptr : lane.In.data() + used,
                                              job.Frames - used, &taken, out.Samples.data() + out.Made, kRoom, &made);
            if (error != nullptr) {
                out.Error = error;
                return;
            }
            out.Made += made;
            used += taken;
            if (flush && made == 0) return;
            if (!flush && taken == 0 && made == 0) return;
        } while (flush || used < job.Frames);
    }

    std::size_t m_channels;
    std::string m_error;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::array<Job, kSlots> m_jobs;  // under m_mutex until their block is taken
    std::uint64_t m_submitted = 0;   // under m_mutex
    std::uint64_t m_collected = 0;   // by the caller only
    std::array<Lane, 2> m_lanes;     // last: their threads are stopped and joined first
};

// Decodes a sound file block by block on a thread of its own, a few blocks ahead of the one
// taking them (Next, Release): memory stays at kQueueBlocks blocks. The reader belongs to the
// thread from construction until Stop or the destructor, which stop it and wait for it.
class BlockDecoder {
public:
    struct Block {
        std::vector<float> Samples;  // Frames frames of all channels
        std::size_t Frames = 0;
        bool Failed = false;
        std::string Error;
    };

    // Reads up to the given count of frames into the given floats: the count read (0 at the
    // end), or -1 with the reason in the string.
    using Reader = TAudioImport::BlockReader;

    BlockDecoder(Reader read, std::size_t blockFrames, std::size_t channels) : m_read(std::move(read)) {
        for (Block& block : m_blocks) {
            block.Samples.resize(blockFrames * channels);
            m_free.push_back(&block);
        }
        m_thread = std::jthread([this, blockFrames](const std::stop_token& stop) { Run(stop, blockFrames); });
    }
    ~BlockDecoder() { Stop(); }
    BlockDecoder(const BlockDecoder&) = delete;
    BlockDecoder& operator=(const BlockDecoder&) = delete;

    // The next block in file order, or nullptr at the end of the file.
    Block* Next() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_full.empty() || m_ended; });
        if (m_full.empty()) return m_lost ? &m_failure : nullptr;
        Block* block = m_full.front();
        m_full.pop_front();
        return block;
    }
    // A block taken by Next can be decoded into again.
    void Release(Block* block) {
        if (block == &m_failure) return;
        {
            const std::lock_guard lock(m_mutex);
            m_free.push_back(block);
        }
        m_changed.notify_all();
    }
    void Stop() {
        if (!m_thread.joinable()) return;
        {
            // Under the mutex, so that the thread cannot miss it between its look and its wait.
            const std::lock_guard lock(m_mutex);
            m_thread.request_stop();
        }
        m_changed.notify_all();
        m_thread.join();
    }

private:
    static constexpr std::size_t kQueueBlocks = 4;

    void Run(const std::stop_token& stop, std::size_t blockFrames) {
        try {
            Decode(stop, blockFrames);
        } catch (const std::exception&) {
            // No exception leaves the thread: the taker gets a failed block instead.
            {
                const std::lock_guard lock(m_mutex);
                m_lost = true;
                m_ended = true;
            }
            m_changed.notify_all();
        }
    }

    void Decode(const std::stop_token& stop, std::size_t blockFrames) {
        while (!stop.stop_requested()) {
            Block* block = nullptr;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [&] { return !m_free.empty() || stop.stop_requested(); });
                if (stop.stop_requested()) break;
                block = m_free.back();
                m_free.pop_back();
            }
            const std::int64_t got = m_read(block->Samples.data(), blockFrames, block->Error);
            block->Frames = got > 0 ? static_cast<std::size_t>(got) : 0;
            block->Failed = got < 0;
            const bool last = block->Failed || got <= 0;
            {
                const std::lock_guard lock(m_mutex);
                if (block->Frames > 0 || block->Failed) {
                    m_full.push_back(block);
                } else {
                    m_free.push_back(block);
                }
                m_ended = last;
            }
            m_changed.notify_all();
            if (last) return;
        }
        const std::lock_guard lock(m_mutex);
        m_ended = true;
    }

    Reader m_read;
    std::array<Block, kQueueBlocks> m_blocks;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Block*> m_free;  // under m_mutex
    std::deque<Block*> m_full;  // in file order, under m_mutex
    bool m_ended = false;       // under m_mutex: no block will follow those in m_full
    bool m_lost = false;        // under m_mutex: the thread failed outside the decoder
    Block m_failure{{}, 0, true, "out of memory"};
    std::jthread m_thread;      // last: stopped and joined before the rest goes
};

}  // namespace

struct TAudioImport::SoundFile {
    explicit SoundFile(SNDFILE* file) : File(file) {}
    ~SoundFile() { sf_close(File); }
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;
    SNDFILE* File;
    bool Read = false;  // a write has read from it: the next one seeks back first
};

double AudioSource::Seconds() const {
    return SampleRate > 0 && Frames > 0 ? static_cast<double>(Frames) / SampleRate : 0.0;
}

std::int32_t ImportedRate(std::int32_t sourceRate) {
    if (sourceRate > kLowRate) return kHighRate;
    return sourceRate == kLowestRate ? kLowestRate : kLowRate;
}

std::int32_t ImportedChannels(std::int32_t sourceChannels) { return std::min<std::int32_t>(sourceChannels, 2); }

std::string DescribeSource(const AudioSource& source) {
    std::string text = std::to_string(source.SampleRate) + " Hz, ";
    if (!source.Encoding.empty()) text += source.Encoding + " ";
    text += source.Format;
    if (source.Channels > 2) text += ", " + std::to_string(source.Channels) + " channels";
    return text;
}

std::string DescribeImported(const AudioSource& source) {
    std::string text = std::to_string(ImportedRate(source.SampleRate)) + " Hz, 16-bit";
    if (source.Channels > 2) text += ", stereo";
    return text;
}

TAudioImport::TAudioImport() = default;
TAudioImport::~TAudioImport() = default;

std::int32_t TAudioImport::Open(const std::string& fileName) {
    m_file.reset();
    m_ffmpeg.reset();
    m_formatUnknown = false;
    m_source = {};
    m_error.clear();
    SF_INFO info{};
    SNDFILE* file = nullptr;
    {
        QuietStderr quiet;
        file = sf_open(fileName.c_str(), SFM_READ, &info);
    }
    if (file == nullptr) {
        const int code = sf_error(nullptr);
        std::error_code ignored;
        // Only a failure to open or read the file is the system's; for any other file the
        // MP3 probe's own reason ("not a regular file") would mislead.
        const bool formatUnknown = code != SF_ERR_SYSTEM && code != SF_ERR_MALFORMED_FILE &&
                                   code != SF_ERR_UNSUPPORTED_ENCODING &&
                                   std::filesystem::is_regular_file(fileName, ignored);
        m_error = formatUnknown ? "Format not recognised." : Reason(sf_strerror(nullptr));
        return code == SF_ERR_SYSTEM ? -1 : OpenWithFfmpeg(fileName, formatUnknown);
    }
    m_file = std::make_unique<SoundFile>(file);
    if (info.channels < 1) {
        m_file.reset();
        m_error = "the file holds no sound channels";
        return -1;
    }
    if (info.samplerate < kSlowestRate || info.samplerate > kFastestRate) {
        m_file.reset();
        m_error = "its rate of " + std::to_string(info.samplerate) + " samples per second is not one of sound (" +
                  std::to_string(kSlowestRate) + " to " + std::to_string(kFastestRate) + ")";
        return -1;
    }
    if ((info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_MPEG_LAYER_III && OpenWithFfmpeg(fileName, false) == 0) {
        m_file.reset();
        return 0;
    }
    m_error.clear();
    m_source.Format = FormatName(info.format);
    m_source.Encoding = EncodingName(info.format);
    m_source.SampleRate = info.samplerate;
    m_source.Channels = info.channels;
    // A stream written through a pipe may not know its length (libsndfile then says the
    // largest count); the length is then what the decoding gives.
    m_source.Frames = info.frames == SF_COUNT_MAX ? -1 : info.frames;
    m_fileName = fileName;
    m_sampleBits = SampleBits(info.format);
    m_announcedFrames = -1;
    const int type = info.format & SF_FORMAT_TYPEMASK;
    if ((type == SF_FORMAT_WAV || type == SF_FORMAT_WAVEX) && OneBlockPerSample(info.format)) {
        m_announcedFrames = AnnouncedWavFrames(fileName);
    }
    return 0;
}

std::int32_t TAudioImport::WriteWav(const std::string& outName, std::int64_t maxFrames,
                                    const std::function<bool()>& idle) {
    m_error.clear();
    if (m_ffmpeg) return WriteWithFfmpeg(outName, maxFrames, idle);
    if (!m_file) {
        m_error = "no sound file is open";
        return -1;
    }
    if (m_source.Format == "FLAC" && FlacFrames::Suits(m_source.Frames, m_source.Channels, m_sampleBits)) {
        // libFLAC straight: libsndfile's samples without its copies. A file that does not
        // decode cleanly to its announced length is left to libsndfile, which says why.
        FlacFrames flac(m_fileName, m_source.Frames, m_source.Channels, m_source.SampleRate, m_sampleBits);
        if (flac.Opened()) {
            const std::int32_t written =
                WriteBlocks(outName, maxFrames, idle, [&flac](float* to, std::size_t count, std::string& error) {
                    const std::int64_t got = flac.Read(to, count);
                    if (got < 0) error = "irregular FLAC stream";
                    return got;
                });
            // The decoding thread has ended: what it saw of the file is settled.
            if (written == kImportCancelled || !flac.Irregular()) return written;
            m_error.clear();
        }
    }
    SNDFILE* in = m_file->File;
    if (m_file->Read && sf_seek(in, 0, SEEK_SET) < 0) {
        m_error = std::string("cannot read it again: ") + sf_strerror(in);
        return -1;
    }
    m_file->Read = true;
    return WriteBlocks(outName, maxFrames, idle, [in](float* to, std::size_t count, std::string& error) {
        const sf_count_t got = sf_readf_float(in, to, static_cast<sf_count_t>(count));
        if (sf_error(in) == SF_ERR_NO_ERROR) return static_cast<std::int64_t>(got);
        error = Reason(sf_strerror(in));
        return std::int64_t{-1};
    });
}

std::int32_t TAudioImport::WriteBlocks(const std::string& outName, std::int64_t maxFrames,
                                       const std::function<bool()>& idle, const BlockReader& read) {
    const auto fail = [this](const std::string& reason) {
        m_error = reason;
        return -1;
    };
    const auto writeFailed = [&]() { return fail("cannot write " + outName + ": " + std::strerror(errno)); };

    FilePtr out(std::fopen(outName.c_str(), "wb"));
    if (!out) return writeFailed();
    const auto rate = static_cast<std::uint32_t>(ImportedRate(m_source.SampleRate));
    const auto channels = static_cast<std::size_t>(ImportedChannels(m_source.Channels));
    // The data size field holds 32 bits.
    const std::int64_t largest =
        static_cast<std::int64_t>((std::numeric_limits<std::uint32_t>::max() - 36) / (channels * kBytesPerSample));
    const auto header = CanonicalHeader(rate, static_cast<std::uint32_t>(channels), 0);
    if (std::fwrite(header.data(), 1, header.size(), out.get()) != header.size()) return writeFailed();

    std::optional<ChannelResamplers> resampler;
    if (static_cast<std::int32_t>(rate) != m_source.SampleRate) {
        resampler.emplace(m_source.SampleRate, rate, channels);
        if (!resampler->Error().empty()) return fail("cannot resample: " + resampler->Error());
    }

    const auto sourceChannels = static_cast<std::size_t>(m_source.Channels);
    const std::size_t blockFrames = std::max<std::size_t>(kBlockSamples / sourceChannels, 64);
    // A block's downmix stays until its samples are written: two take turns.
    std::array<std::vector<float>, 2> mixed;
    std::optional<Downmix> downmix;
    if (sourceChannels > 2) {
        downmix.emplace(m_file->File, m_source.Channels);
        for (auto& buffer : mixed) buffer.resize(blockFrames * 2);
    }
    std::size_t turn = 0;
    const auto samplesOf = [&](const BlockDecoder::Block& block) {
        if (!downmix) return block.Samples.data();
        float* to = mixed[turn++ % mixed.size()].data();
        downmix->Mix(block.Samples.data(), block.Frames, to);
        return static_cast<const float*>(to);
    };
    const double ratio = static_cast<double>(rate) / m_source.SampleRate;
    PcmWriter pcm(out.get(), channels, std::min(maxFrames, largest));
    const auto writeResampled = [&]() {
        std::array<const float*, 2> made{};
        std::size_t count = 0;
        if (!resampler->Collect(made, count)) {
            m_error = "cannot resample: " + resampler->Error();
            return false;
        }
        return pcm.PutLanes(made.data(), count);
    };

    // The MP3 decoder tells every damaged frame on standard error; the import says why it
    // failed itself, and nothing else is written while it runs.
    std::optional<QuietStderr> quiet;
    if (m_source.Format == "MP3" || m_source.Format == "MP2" || m_source.Format == "MPEG audio") quiet.emplace();
    // Blocks are decoded on a thread of their own while earlier ones are resampled and written
    // here; the file is looked at only by that thread until it ends.
    BlockDecoder decoder(read, blockFrames, sourceChannels);
    // The resampling threads read the decoder's blocks: they end before it, however this ends.
    struct StopFirst {
        std::optional<ChannelResamplers>& Resampler;
        ~StopFirst() {
            if (Resampler) Resampler->Stop();
        }
    } stopFirst{resampler};
    if (!resampler) {
        while (!pcm.Full()) {
            BlockDecoder::Block* got = decoder.Next();
            if (got == nullptr) break;
            if (got->Failed) return fail("cannot decode it: " + got->Error);
            const bool ok = pcm.Put(samplesOf(*got), got->Frames);
            decoder.Release(got);
            if (!ok) return m_error.empty() ? writeFailed() : -1;
            if (idle && !idle()) return kImportCancelled;
        }
    } else {
        // Each block is resampled while the one before it is written, and goes back to the
        // decoder once it is; after the last block, the flush.
        BlockDecoder::Block* resampling = nullptr;
        bool flushing = false;
        for (;;) {
            BlockDecoder::Block* got = pcm.Full() ? nullptr : decoder.Next();
            if (got != nullptr && got->Failed) return fail("cannot decode it: " + got->Error);
            if (got != nullptr) {
                resampler->Submit(samplesOf(*got), got->Frames);
            } else if (!pcm.Full()) {
                resampler->Submit(nullptr, 0);
                flushing = true;
            }
            if (resampling != nullptr) {
                const bool ok = writeResampled();
                decoder.Release(resampling);
                resampling = nullptr;
                if (!ok) return m_error.empty() ? writeFailed() : -1;
                if (idle && !idle()) return kImportCancelled;
            }
            if (got == nullptr) break;
            resampling = got;
        }
        if (flushing && !writeResampled()) return m_error.empty() ? writeFailed() : -1;
    }
    decoder.Stop();

    // A source that ends before its header says keeps that length in the copy's header, so
    // that the check tells the file is short as it does for a WAV file it reads itself.
    std::int64_t announced = pcm.Written();
    if (m_announcedFrames > m_source.Frames && m_source.Frames >= 0) {
        announced = std::max(announced, static_cast<std::int64_t>(std::llrint(static_cast<double>(m_announcedFrames) *
                                                                                ratio)));
        announced = std::min(announced, largest);
    }
    const auto dataBytes = static_cast<std::uint32_t>(static_cast<std::uint64_t>(announced) * channels *
                                                      kBytesPerSample);
    const auto final = CanonicalHeader(rate, static_cast<std::uint32_t>(channels), dataBytes);
    if (std::fseek(out.get(), 0, SEEK_SET) != 0 ||
        std::fwrite(final.data(), 1, final.size(), out.get()) != final.size()) {
        return writeFailed();
    }
    if (std::fclose(out.release()) != 0) return writeFailed();
    return 0;
}

}  // namespace ruvo
