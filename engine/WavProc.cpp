#include "engine/WavProc.h"

#include "engine/EngineHost.h"
#include "engine/Rounding.h"
#include "engine/WorkerPool.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <numbers>
#include <utility>

namespace ruvo {
namespace {

constexpr std::int32_t kSearchPositions = 21;  // byte positions tried for each chunk tag
constexpr std::int32_t kFmtFirstOffset = 5;
constexpr std::int32_t kDataAfterFmt = 21;
constexpr std::int32_t kTableOrder = 11;  // the only transform size in use: 2048 points
constexpr std::uint32_t kFormatPcm = 1;
constexpr std::uint32_t kFormatExtensible = 0xFFFE;
constexpr std::int32_t kExtensibleSubformat = 32;  // from the format chunk's tag
constexpr std::size_t kQuarter = 512;              // complex points of a 2048-point transform that a frame fills

bool IsZero(double v) { return v == 0.0; }

std::uint32_t ReadLe(const std::uint8_t* bytes, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

std::int32_t FindTag(const std::uint8_t* bytes, std::int32_t first, const char* tag) {
    for (std::int32_t offset = first; offset < first + kSearchPositions; ++offset) {
        if (std::memcmp(bytes + offset, tag, 4) == 0) return offset;
    }
    return -1;
}

// False for a file that exists and is not a regular file: opening or reading it could block.
bool IsRegularOrMissing(const std::string& fileName) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(fileName, error);
    return !std::filesystem::exists(status) || std::filesystem::is_regular_file(status);
}

// Collects the normalised values of one raw buffer load, for the sample preparation.
struct BlockSink {
    std::vector<double>* Values = nullptr;
    void Put(double value) { Values->push_back(value); }
};

// Mono at 22050 per second from the interleaved raw values: two channels average, 11025
// doubles with a midpoint before every sample (the first output is half the first input),
// 44100 keeps every second sample (no low-pass; an odd last one drops). The values arrive in
// buffer loads; the channel count and the rate are fixed per loop, so the loop per value
// holds no test of them.
class Normaliser {
public:
    Normaliser(const WavHead& head, BlockSink& out)
        : m_stereo(head.Channels == 2), m_rate(head.SampleRate), m_out(out) {}

    template <typename Sample>
    void PutBlock(const Sample* raw, std::size_t count, double offset) {
        if (m_stereo) {
            PutAll<true, Sample>(raw, count, offset);
        } else {
            PutAll<false, Sample>(raw, count, offset);
        }
    }

private:
    template <bool Stereo, typename Sample>
    void PutAll(const Sample* raw, std::size_t count, double offset) {
        if (m_rate == 11025) {
            PutEach<Stereo, 11025>(raw, count, offset);
        } else if (m_rate == 22050) {
            PutEach<Stereo, 22050>(raw, count, offset);
        } else {
            PutEach<Stereo, 44100>(raw, count, offset);
        }
    }

    template <bool Stereo, std::int32_t Rate, typename Sample>
    void PutEach(const Sample* raw, std::size_t count, double offset) {
        std::size_t i = 0;
        if constexpr (Rate == 44100) {
            // Whole groups of the values that make one kept sample and one dropped one, from a
            // group's start: the dropped sample is not computed at all.
            constexpr std::size_t group = Stereo ? 4 : 2;
            if (!m_haveLeft && !m_odd) {
                for (; i + group <= count; i += group) {
                    if constexpr (Stereo) {
                        m_out.Put(
                            ((static_cast<double>(raw[i + 2]) - offset) + (static_cast<double>(raw[i + 3]) - offset)) *
                            0.5);
                    } else {
                        m_out.Put(static_cast<double>(raw[i + 1]) - offset);
                    }
                }
            }
        }
        for (; i < count; ++i) Put<Stereo, Rate>(static_cast<double>(raw[i]) - offset);
    }

    template <bool Stereo, std::int32_t Rate>
    void Put(double raw) {
        if constexpr (Stereo) {
            if (!m_haveLeft) {
                m_left = raw;
                m_haveLeft = true;
                return;
            }
            m_haveLeft = false;
            raw = (m_left + raw) * 0.5;
        }
        if constexpr (Rate == 11025) {
            m_out.Put((raw + m_previous) * 0.5);
            m_out.Put(raw);
            m_previous = raw;
        } else if constexpr (Rate == 22050) {
            m_out.Put(raw);
        } else {
            if (m_odd) m_out.Put(raw);
            m_odd = !m_odd;
        }
    }

    bool m_stereo;
    std::int32_t m_rate;
    BlockSink& m_out;
    double m_left = 0.0;
    bool m_haveLeft = false;
    double m_previous = 0.0;
    bool m_odd = false;
};

}  // namespace

double Log10AtLeastOne(double x) {
    if (!(x >= 1.0 && x <= std::numeric_limits<double>::max())) return std::log10(x);
    constexpr double kInvLn10 = 4.34294481903251816668e-01;
    constexpr double kLog10Of2High = 3.01029995663611771306e-01;
    constexpr double kLog10Of2Low = 3.69423907715893078616e-13;
    auto bits = std::bit_cast<std::uint64_t>(x);
    const auto exponent = static_cast<std::int32_t>(bits >> 52) - 1023;  // >= 0: x >= 1, positive
    bits = (bits & 0x000fffffffffffffULL) | 0x3ff0000000000000ULL;       // the mantissa in [1, 2)
    const double y = exponent;
    const double z = y * kLog10Of2Low + kInvLn10 * std::log(std::bit_cast<double>(bits));
    return z + y * kLog10Of2High;
}

std::string TooLongMessage(double maxTime) {
    return "Recording time of this file must be less than " + std::to_string(RoundToInt(maxTime)) + " sec.";
}

TWavProc::TWavProc() : m_scratch(1) {}

void TWavProc::SetMaxTime(double seconds) { m_maxTime = seconds; }

std::int32_t TWavProc::CheckWavFile(const std::string& fileName, const WavHead& oldHead, WavHead& newHead) {
    WavHead head = oldHead;
    head.FileName.clear();
    const auto reject = [this, &newHead](const std::string& message, WavRejection kind = WavRejection::Layout) {
        m_lastRejection = kind;
        EngineHost().ErrorBox(message);
        newHead.FileName.clear();
        return -1;
    };

    // A FIFO or a device would block the open or never end; a missing file throws below.
    if (!IsRegularOrMissing(fileName)) return reject(kNotRegularFile, WavRejection::Size);

    std::uint8_t bytes[kHeaderProbeBytes] = {};
    RawFile file;
    file.Open(fileName, RawFile::Mode::Read);
    const std::size_t got = file.Read(bytes, sizeof bytes);
    const std::int64_t fileBytes = file.Size();
    file.Close();
    if (got < sizeof bytes) {
        return reject("File size smaller than 300bytes.\nOr can't read the file.", WavRejection::Size);
    }
    if (std::memcmp(bytes, "RIFF", 4) != 0) return reject("This file isn't wav File.\nRIFF header couldn't find.");

    const std::int32_t fmt = FindTag(bytes, kFmtFirstOffset, "fmt ");
    if (fmt < 0) return reject("This file isn't wav File.\nfmt header couldn't find.");
    // Compressed samples (ADPCM, u-law, A-law, ...) would be read as if they were PCM.
    const std::uint32_t tag = ReadLe(bytes + fmt + 8, 2);
    const bool pcm = tag == kFormatPcm ||
                     (tag == kFormatExtensible && ReadLe(bytes + fmt + kExtensibleSubformat, 2) == kFormatPcm);
    if (!pcm) return reject("This file isn't PCM wav file.\nIts samples are encoded.");
    const std::uint32_t channels = ReadLe(bytes + fmt + 10, 2);
    if (channels != 1 && channels != 2) return reject("Channel No. isn't find.\nThis file isn't wav file.");
    const std::uint32_t rate = ReadLe(bytes + fmt + 12, 4);
    if (rate != 11025 && rate != 22050 && rate != 44100) {
        return reject("Sample rate isn't 11025, 22050 or 44100 per second.\nIt must be above value.");
    }
    // Bits per sample come from the byte rate, not from the format chunk's own field.
    const double byteRate = ReadLe(bytes + fmt + 16, 4);
    const double bytesPerSample = RoundEven(byteRate / rate / channels);
    if (bytesPerSample != 1.0 && bytesPerSample != 2.0) {
        return reject("Bit rate per sample isn't 8 or 16.\nIt must be above value.");
    }
    const std::int32_t bits = bytesPerSample == 1.0 ? 8 : 16;

    const std::int32_t data = FindTag(bytes, fmt + kDataAfterFmt, "data");
    if (data < 0) return reject("This file isn't wav File.\ndata string couldn't find.");
    const std::uint32_t dataBytes = ReadLe(bytes + data + 4, 4);
    std::uint32_t count = dataBytes;
    if (channels == 2) count >>= 1;
    if (bits == 16) count >>= 1;

    const double seconds = static_cast<double>(count) / rate;
    if (seconds > m_maxTime || count > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
        return reject(TooLongMessage(m_maxTime), WavRejection::Length);
    }
    // The header decides what is too long; a file that ends early is converted as far as it
    // goes, and what it holds must reach the shortest recording.
    const std::int64_t frameBytes = static_cast<std::int64_t>(channels) * (bits / 8);
    const std::int64_t dataStart = data + 8;
    const std::int64_t held = fileBytes > dataStart ? (fileBytes - dataStart) / frameBytes : 0;
    const std::uint32_t announced = count;
    if (held < count) count = static_cast<std::uint32_t>(held);
    if (static_cast<double>(count) / rate < kMinTime) {
        return reject("Recording time of this file must be longer than   0.550 sec.", WavRejection::Length);
    }

    m_lastRejection = WavRejection::None;
    head.FileName = fileName;
    head.SampleRate = static_cast<std::int32_t>(rate);
    head.SampleCount = static_cast<std::int32_t>(count);
    head.Is16Bit = bits == 16 ? 1 : 0;
    head.BitsPerSample = bits;
    head.Channels = static_cast<std::int32_t>(channels);
    head.DataOffset = data + 9;
    m_head = head;
    m_announcedSamples = static_cast<std::int32_t>(announced);
    m_heldSamples = head.SampleCount;
    newHead = head;
    EngineHost().ProcessEvents();
    return 0;
}

std::string TWavProc::ShortFileNotice() const {
    if (m_heldSamples >= m_announcedSamples || m_head.SampleRate <= 0) return {};
    const double announced = static_cast<double>(m_announcedSamples) / m_head.SampleRate;
    const double held = static_cast<double>(m_heldSamples) / m_head.SampleRate;
    char text[160];
    std::snprintf(text, sizeof text, "the header announces %.1f s, the file holds %.1f s; converting %.1f s", announced,
                  held, held);
    return text;
}

template <typename Sample>
std::int32_t TWavProc::OpenReader(RawSampleReader<Sample>& reader, const std::string& name, const char* message) {
    if (name.empty()) {
        EngineHost().MessageBox(message);
        return -1;
    }
    reader.Buffer.resize(kReaderSamples);
    reader.File.Open(m_head.FileName, RawFile::Mode::Read);
    // The first sample byte exactly, also when an odd-sized chunk puts 16-bit data at an odd offset.
    reader.File.Seek(m_head.DataOffset - 1);
    m_sampleCounter = -1;
    return 0;
}

// A file that ends before its data chunk does reads as silence (zeros) for the missing samples.
template <typename Sample>
void TWavProc::ReadSample(RawSampleReader<Sample>& reader, Sample& sample) {
    ++m_sampleCounter;
    if (m_sampleCounter == 0 || m_sampleCounter == kReaderSamples) {
        const std::size_t got =
            reader.File.Read(reader.Buffer.data(), kReaderSamples * sizeof(Sample)) / sizeof(Sample);
        std::fill(reader.Buffer.begin() + static_cast<std::ptrdiff_t>(got), reader.Buffer.end(), Sample{});
        m_sampleCounter = 0;
    }
    sample = reader.Buffer[static_cast<std::size_t>(m_sampleCounter)];
}

std::int32_t TWavProc::OpenIntenFilesByte(const std::string& name) {
    return OpenReader(m_byteReader, name, "OpenIntenFilesByte in WavProc error.");
}
std::int32_t TWavProc::OpenIntenFilesShortint(const std::string& name) {
    return OpenReader(m_shortintReader, name, "OpenIntenFilesShortint in WavProc error.");
}
std::int32_t TWavProc::OpenIntenFilesWord(const std::string& name) {
    return OpenReader(m_wordReader, name, "OpenIntenFilesWord in WavProc error.");
}
std::int32_t TWavProc::OpenIntenFilesSmallint(const std::string& name) {
    return OpenReader(m_smallintReader, name, "OpenIntenFilesSmallint in WavProc error.");
}
void TWavProc::ReadIntenByte(std::uint8_t& sample) { ReadSample(m_byteReader, sample); }
void TWavProc::ReadIntenShortint(std::int8_t& sample) { ReadSample(m_shortintReader, sample); }
void TWavProc::ReadIntenWord(std::uint16_t& sample) { ReadSample(m_wordReader, sample); }
void TWavProc::ReadIntenSmallint(std::int16_t& sample) { ReadSample(m_smallintReader, sample); }
void TWavProc::CloseIntenFilesByte() { m_byteReader.File.Close(); }
void TWavProc::CloseIntenFilesShortint() { m_shortintReader.File.Close(); }
void TWavProc::CloseIntenFilesWord() { m_wordReader.File.Close(); }
void TWavProc::CloseIntenFilesSmallint() { m_smallintReader.File.Close(); }

// Reads the data chunk in whole buffer loads (the samples ReadInten... delivers, without a
// call each) and streams them through the normaliser straight into "nor". The raw and mono
// streams are never stored: nothing reads them, and writing them was most of the stage's time.
template <typename Sample>
void TWavProc::NormaliseSamples(RawSampleReader<Sample>& reader, std::int64_t count, double offset) {
    RawFile out;
    out.Open(m_head.NormFileName, RawFile::Mode::Recreate);
    // One thread writes the values of the previous load while another reads and normalises the
    // next: two sets of values take turns, and the file receives them in order.
    std::array<std::vector<double>, 2> values;
    for (auto& block : values) block.reserve(2 * static_cast<std::size_t>(kReaderSamples));
    BlockSink sink;
    Normaliser normaliser(m_head, sink);
    WorkerPool pool(std::min(m_workers > 0 ? m_workers : DefaultWorkerCount(), 2));
    std::size_t next = 0;
    for (std::int64_t done = 0; done < count || !values[1 - next].empty();) {
        const std::int64_t n = std::min<std::int64_t>(kReaderSamples, count - done);
        sink.Values = &values[next];
        const auto job = [&](std::int32_t item, std::int32_t /*worker*/) {
            if (item == 0) {
                const std::vector<double>& last = values[1 - next];
                if (!last.empty()) out.Write(last.data(), last.size() * sizeof(double));
            } else if (n > 0) {
                const std::size_t got =
                    reader.File.Read(reader.Buffer.data(), static_cast<std::size_t>(n) * sizeof(Sample)) /
                    sizeof(Sample);
                std::fill(reader.Buffer.begin() + static_cast<std::ptrdiff_t>(got), reader.Buffer.end(), Sample{});
                normaliser.PutBlock(reader.Buffer.data(), static_cast<std::size_t>(n), offset);
            }
        };
        pool.Run(2, job);
        values[1 - next].clear();
        next = 1 - next;
        done += n;
        m_idle.PollNow();
    }
    m_sampleCounter = -1;
    reader.File.Close();
    out.Close();
}

void TWavProc::PrepareRaw() {
    GetTempName("nor", m_head.NormFileName);
    GetTempName("tm1", m_head.Temp1FileName);
    GetTempName("tm2", m_head.Temp2FileName);
    GetTempName("int", m_head.IntenFileName);
    m_head.FrameCount = static_cast<std::int32_t>(static_cast<std::uint32_t>(m_head.SampleCount) >> 10);

    const std::int64_t count = static_cast<std::int64_t>(m_head.SampleCount) * m_head.Channels;
    const std::string& name = m_head.Temp1FileName;
    if (m_head.Is16Bit == 0 && m_head.BitsPerSample == 8) {
        if (OpenIntenFilesByte(name) == 0) NormaliseSamples(m_byteReader, count, 128.0);
    } else if (m_head.Is16Bit == 0) {
        if (OpenIntenFilesWord(name) == 0) NormaliseSamples(m_wordReader, count, 32768.0);
    } else if (m_head.BitsPerSample == 8) {
        if (OpenIntenFilesShortint(name) == 0) NormaliseSamples(m_shortintReader, count, 0.0);
    } else {
        if (OpenIntenFilesSmallint(name) == 0) NormaliseSamples(m_smallintReader, count, 0.0);
    }
    EngineHost().ProcessEvents();
}

// The counts follow the stream to 22050 per second.
void TWavProc::PrepareRate() {
    if (m_head.SampleRate == 11025) {
        m_head.SampleCount = 2 * m_head.SampleCount;
        m_head.FrameCount = 2 * m_head.FrameCount;
    } else if (m_head.SampleRate == 44100) {
        m_head.SampleCount = m_head.SampleCount >> 1;
        m_head.FrameCount = m_head.FrameCount / 2;
    }
    EngineHost().ProcessEvents();
}

void TWavProc::PrepareSamples(std::int32_t stage) {
    if (stage == 1) PrepareRaw();
    if (stage == 2) EngineHost().ProcessEvents();
    if (stage == 3) PrepareRate();
}

void TWavProc::MakeTables() {
    // The angle steps are the double 2*pi divided exactly; sine and cosine in extended precision.
    const double step4096 = 2.0 * std::numbers::pi / 4096.0;
    const double step2048 = 2.0 * std::numbers::pi / 2048.0;
    for (std::size_t k = 0; k < m_cosTab.size(); ++k) {
        m_cosTab[k] = static_cast<double>(cosl(static_cast<long double>(k) * step4096));
        m_sinTab[k] = static_cast<double>(sinl(static_cast<long double>(k) * step4096));
    }
    for (std::size_t k = 0; k < m_twCos.size(); ++k) {
        m_twCos[k] = static_cast<double>(cosl(static_cast<long double>(k) * step2048));
        m_twSin[k] = static_cast<double>(sinl(-static_cast<long double>(k) * step2048));
    }
    // Period 1024 (not 1023); the factor is rounded to double once.
    for (std::size_t i = 0; i < m_hamming.size(); ++i) {
        const long double angle = 6.283185307179586477L * static_cast<long double>(i) * (1.0L / 1024.0L);
        m_hamming[i] = static_cast<double>(0.54L - 0.46L * cosl(angle));
    }
    m_fftOrder = 12;
    PlanFft(kTableOrder);
}

// The butterflies take their twiddle index from a reversal table that grows pass by pass;
// it is the same for every transform of one size, so the plan keeps it.
void TWavProc::PlanFft(std::int32_t order) {
    const std::int32_t n = 1 << order;
    std::vector<std::int32_t> reversal(static_cast<std::size_t>(n), 0);
    m_blockTwiddle.clear();
    for (std::int32_t half = n / 2; half >= 1; half /= 2) {
        for (std::int32_t k = 0; k < n; k += 2 * half) {
            const std::int32_t t = reversal[static_cast<std::size_t>(k)] / 2;
            m_blockTwiddle.push_back(t);
            for (std::int32_t j = k; j < k + half; ++j) {
                reversal[static_cast<std::size_t>(j)] = t;
                reversal[static_cast<std::size_t>(j + half)] = t + n / 2;
            }
        }
    }
    m_swaps.clear();
    for (std::int32_t k = 0; k < n; ++k) {
        const std::int32_t to = reversal[static_cast<std::size_t>(k)];
        if (k < to) m_swaps.emplace_back(k, to);
    }
    m_plannedOrder = order;
}

void TWavProc::FFT(std::span<double> re, std::span<double> im, std::int32_t order, double sign) {
    if (m_fftOrder == 0) MakeTables();
    if (order != m_plannedOrder) PlanFft(order);
    Transform(re.data(), im.data(), order, sign, 0);
}

namespace {

// One block of butterflies; the halves never overlap, which lets the compiler pair the
// lanes. The same operations in the same order as one at a time, so the same bits.
void Butterflies(double* __restrict lowRe, double* __restrict lowIm, double* __restrict highRe,
                 double* __restrict highIm, std::int32_t half, double c, double s) {
    for (std::int32_t j = 0; j < half; ++j) {
        const double tr = highRe[j] * c - highIm[j] * s;
        const double ti = highIm[j] * c + highRe[j] * s;
        highRe[j] = lowRe[j] - tr;
        highIm[j] = lowIm[j] - ti;
        lowRe[j] = lowRe[j] + tr;
        lowIm[j] = lowIm[j] + ti;
    }
}

// One plus the power of each of the 4096-point transform's bins 0..2047, from the 2048-point
// complex transform of the even and odd samples.
void MakePowers(const double* __restrict re, const double* __restrict im, const double* __restrict cosTab,
                const double* __restrict sinTab, double* __restrict power) {
    for (std::size_t k = 0; k < 2048; ++k) {
        const std::size_t k2 = 2048 - k;
        const double u = cosTab[k];
        const double v = sinTab[k];
        const double a = 0.5 * ((re[k] + re[k2]) + (im[k] + im[k2]) * u - (re[k] - re[k2]) * v);
        const double b = 0.5 * ((im[k] - im[k2]) - (im[k] + im[k2]) * v - (re[k] - re[k2]) * u);
        power[k] = a * a + b * b + 1.0;
    }
}

}  // namespace

void TWavProc::Transform(double* r, double* i, std::int32_t order, double sign, std::int32_t skipPasses) const {
    const std::int32_t n = 1 << order;
    // Pass p has 2^p blocks: the passes skipped used the first 2^skip - 1 twiddles.
    std::size_t block = (std::size_t{1} << skipPasses) - 1;
    for (std::int32_t half = (n / 2) >> skipPasses; half >= 2; half /= 2) {
        for (std::int32_t k = 0; k < n; k += 2 * half) {
            const auto t = static_cast<std::size_t>(m_blockTwiddle[block++]);
            Butterflies(r + k, i + k, r + k + half, i + k + half, half, m_twCos[t], m_twSin[t]);
        }
    }
    // The last pass: blocks of one butterfly, without a call each.
    for (std::int32_t k = 0; k + 1 < n; k += 2) {
        const auto t = static_cast<std::size_t>(m_blockTwiddle[block++]);
        const double c = m_twCos[t];
        const double s = m_twSin[t];
        const double tr = r[k + 1] * c - i[k + 1] * s;
        const double ti = i[k + 1] * c + r[k + 1] * s;
        r[k + 1] = r[k] - tr;
        i[k + 1] = i[k] - ti;
        r[k] = r[k] + tr;
        i[k] = i[k] + ti;
    }
    if (sign < 0.0) {
        const double scale = n;
        for (std::int32_t k = 0; k < n; ++k) {
            r[k] = r[k] / scale;
            i[k] = i[k] / scale;
        }
    }
    for (const auto& [k, to] : m_swaps) {
        std::swap(r[k], r[to]);
        std::swap(i[k], i[to]);
    }
}

void TWavProc::LogSpectrum(std::span<double, kFftPoints> w) {
    if (m_fftOrder == 0) MakeTables();
    if (m_plannedOrder != kTableOrder) PlanFft(kTableOrder);
    LogSpectrumWith(w.data(), m_scratch.front(), false, w.data());
}

void TWavProc::LogSpectrumWith(double* w, FrameScratch& scratch, bool padded, double* out) const {
    // The 4096 real points as 2048 complex ones: even samples real, odd imaginary. A padded
    // input holds its samples in w[0..1023] only: the rest is taken as zeros, not read.
    double* const re = w;
    double* const im = scratch.Imag.data();
    const std::size_t filled = padded ? kQuarter : 2048;
    for (std::size_t k = 0; k < filled; ++k) {
        im[k] = w[2 * k + 1];
        re[k] = w[2 * k];
    }
    // A frame fills the first quarter and zeros pad the rest: the first two passes, whose
    // twiddles are 1 and -i there, then only copy that quarter into the other three (a zero's
    // sign aside, which no magnitude sees). An input that is not padded runs every pass.
    std::int32_t skip = 0;
    if (padded || (std::all_of(re + kQuarter, re + 2048, IsZero) && std::all_of(im + kQuarter, im + 2048, IsZero))) {
        for (std::size_t q = 1; q < 4; ++q) {
            std::copy(re, re + kQuarter, re + q * kQuarter);
            std::copy(im, im + kQuarter, im + q * kQuarter);
        }
        skip = 2;
    }
    Transform(re, im, kTableOrder, -1.0, skip);
    re[2048] = re[0];
    im[2048] = im[0];
    // Into `out` straight away unless it is w itself, which still holds the transform.
    double* const spectrum = out == w ? scratch.Spectrum.data() : out;
    // The powers first, in a loop without calls that the compiler can pair, then their logarithms.
    MakePowers(re, im, m_cosTab.data(), m_sinTab.data(), spectrum);
    for (std::size_t k = 0; k < 2048; ++k) spectrum[k] = 0.5 * Log10AtLeastOne(spectrum[k]);
    if (out == w) std::copy(spectrum + 1, spectrum + kSpectrumBins, w + 1);
}

void TWavProc::SpectrumRecord(const double* frame, double* record, FrameScratch& scratch) const {
    double* const w = scratch.Work.data();
    for (std::size_t i = 0; i < kFrameSamples; ++i) w[i] = m_hamming[i] * frame[i];
    LogSpectrumWith(w, scratch, true, record);
    record[0] = 0.0;
}

std::int64_t TWavProc::BlockLimit() const {
    // One more than the whole frames of the longest accepted recording.
    return static_cast<std::int64_t>(std::floor(m_maxTime * kNormalRate / kFrameSamples)) + 1;
}

std::int32_t TWavProc::AnalyzeFrame(std::int32_t index) {
    if (m_fftOrder == 0) MakeTables();
    if (index == kAnalyzeOpen) {
        RawFile norm;
        norm.Open(m_head.NormFileName, RawFile::Mode::Read);
        const std::int64_t blocks = norm.Size() / static_cast<std::int64_t>(sizeof(double) * kFrameSamples);
        norm.Close();
        if (blocks >= BlockLimit()) {
            EngineHost().ErrorBox("This recording is too long to analyse.");
            return -1;
        }
        m_aheadFrames = 0;
        m_pendingFrames = 0;
        if (m_inFile.OpenFile(m_head.NormFileName, kModeRead, kFrameSamples) != 0) return -1;
        if (m_outFile.OpenFile(m_head.IntenFileName, kModeWrite, kSpectrumBins) != 0) return -1;
        if (m_plannedOrder != kTableOrder) PlanFft(kTableOrder);
        const std::int32_t workers = m_workers > 0 ? std::min(m_workers, kMaxWorkers) : DefaultWorkerCount();
        m_pool = std::make_unique<WorkerPool>(workers);
        m_scratch.resize(static_cast<std::size_t>(m_pool->Workers()));
        return static_cast<std::int32_t>(blocks);
    }
    if (index == kAnalyzeClose) {
        m_aheadFrames = 0;
        WritePending();
        m_pool.reset();
        m_scratch.resize(1);
        m_frame.clear();
        m_record.clear();
        m_frame.shrink_to_fit();
        m_record.shrink_to_fit();
        m_ahead = {};
        m_pending = {};
        m_inFile.CloseFile();
        m_outFile.CloseFile();
        return 0;
    }
    if (index < 0) return 0;
    AnalyzeFrames(1);
    return 0;
}

void TWavProc::AnalyzeFrames(std::int32_t count) {
    if (count <= 0) return;
    if (m_plannedOrder != kTableOrder) PlanFft(kTableOrder);
    const auto frames = static_cast<std::size_t>(count);
    for (auto* buffer : {&m_frame, &m_ahead}) {
        if (buffer->size() < frames * kFrameSamples) buffer->resize(frames * kFrameSamples);
    }
    for (auto* buffer : {&m_record, &m_pending}) {
        if (buffer->size() < frames * kSpectrumBins) buffer->resize(frames * kSpectrumBins);
    }
    // This batch's samples: those read early first (the next ones in the file), then the rest.
    const std::size_t early = std::min(m_aheadFrames, frames);
    if (early == m_aheadFrames && early == frames) {
        m_frame.swap(m_ahead);
    } else {
        std::copy_n(m_ahead.begin(), early * kFrameSamples, m_frame.begin());
        std::copy(m_ahead.begin() + static_cast<std::ptrdiff_t>(early * kFrameSamples),
                  m_ahead.begin() + static_cast<std::ptrdiff_t>(m_aheadFrames * kFrameSamples), m_ahead.begin());
    }
    m_aheadFrames -= early;
    for (std::size_t f = early; f < frames; ++f) {
        m_inFile.ReadData({m_frame.data() + f * kFrameSamples, kFrameSamples});
    }
    // Item 0 is the file traffic, in frame order on one thread at a time: the previous batch's
    // records out, as many samples as this batch in (past the end they read as zeros, unused).
    const auto one = [this, frames](std::int32_t item, std::int32_t worker) {
        if (item == 0) {
            WritePending();
            for (std::size_t f = m_aheadFrames; f < frames; ++f) {
                m_inFile.ReadData({m_ahead.data() + f * kFrameSamples, kFrameSamples});
            }
            m_aheadFrames = std::max(m_aheadFrames, frames);
            return;
        }
        const auto f = static_cast<std::size_t>(item - 1);
        SpectrumRecord(m_frame.data() + f * kFrameSamples, m_record.data() + f * kSpectrumBins,
                       m_scratch[static_cast<std::size_t>(worker)]);
    };
    if (m_pool != nullptr && count > 1) {
        m_pool->Run(count + 1, one);
    } else {
        for (std::int32_t item = 0; item <= count; ++item) one(item, 0);
    }
    m_record.swap(m_pending);
    m_pendingFrames = frames;
}

void TWavProc::WritePending() {
    const std::size_t frames = std::exchange(m_pendingFrames, 0);
    for (std::size_t f = 0; f < frames; ++f) m_outFile.WriteData({m_pending.data() + f * kSpectrumBins, kSpectrumBins});
}

}  // namespace ruvo
