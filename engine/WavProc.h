#pragma once
// TWavProc: accepts or rejects a WAV file, records its parameters in its WavHead, turns its
// samples into the normalised stream ("nor") and the spectrum file ("int"), one record of
// 2048 log magnitudes per frame of 1024 samples at 22050 per second. Owned by value by its
// user (main window or converter) and called from one thread; the spectrum pass shares its
// frames with a few worker threads of its own while a batch runs.

#include "engine/Idle.h"
#include "engine/UFile.h"
#include "engine/Units.h"
#include "engine/WavHead.h"
#include "engine/WorkerPool.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ruvo {

constexpr std::int32_t kFftPoints = 4096;        // zero-padded frame length
constexpr double kDefaultMaxTime = 6000.0;       // seconds
constexpr double kMinTime = 0.55;                // seconds
constexpr std::int32_t kHeaderProbeBytes = 300;  // bytes the header check looks at
constexpr std::int32_t kReaderSamples = 90000;   // samples per raw reader buffer load
constexpr std::int32_t kBatchFrames = 64;        // frames the spectrum pass hands out at once

// AnalyzeFrame commands.
constexpr std::int32_t kAnalyzeOpen = -1;
constexpr std::int32_t kAnalyzeClose = -2;

// Why the last CheckWavFile refused its file. Layout covers what another reader may still
// understand (not RIFF, the format chunk, channels, rate, bits, no data chunk where the check
// looks); Size and Length are refusals of the file itself.
enum class WavRejection { None, Size, Layout, Length };

// The decimal logarithm of x >= 1 with the bits of std::log10: the C library's own steps (the
// binary exponent split off, the natural logarithm of the mantissa in [1, 2), both scaled),
// without its wrapper's checks, which the spectrum's values (a power plus one) never need.
// Other arguments go to std::log10.
double Log10AtLeastOne(double x);

// What both programs say of an input that is not a regular file (a FIFO, a device, a folder).
constexpr const char* kNotRegularFile = "not a regular file";

// The check's message for a recording longer than `maxTime` seconds.
std::string TooLongMessage(double maxTime);

// One raw reader over the WAV data: a file in units of the sample size and a buffer load of
// kReaderSamples.
template <typename Sample>
struct RawSampleReader {
    RawFile File;
    std::vector<Sample> Buffer;
};

class TWavProc {
public:
    TWavProc();

    void SetMaxTime(double seconds);
    double MaxTime() const { return m_maxTime; }

    // Validates `fileName`. Accepted: newHead and the own head become oldHead with the WAV
    // description replaced, result 0. Rejected: the message is shown, only newHead.FileName is
    // cleared, result -1. A file that cannot be opened or read throws FileIoError. A header
    // announcing too long a recording is refused; otherwise the sample count is what the
    // header announces or what the file holds, whichever is smaller.
    std::int32_t CheckWavFile(const std::string& fileName, const WavHead& oldHead, WavHead& newHead);
    // After an accepted check of a file that ends before its data chunk does: "the header
    // announces 33.0 s, the file holds 1.0 s; converting 1.0 s"; else empty.
    std::string ShortFileNotice() const;
    void GetWavHead(WavHead& head) const { head = m_head; }
    // None after an acceptance.
    WavRejection LastRejection() const { return m_lastRejection; }
    // Called after every buffer load of the sample preparation; returning false ends it with
    // StepCancelled.
    void SetIdle(IdleHook::Fn idle) { m_idle.Set(std::move(idle)); }

    [[nodiscard]] std::int32_t OpenIntenFilesByte(const std::string& name);
    [[nodiscard]] std::int32_t OpenIntenFilesShortint(const std::string& name);
    [[nodiscard]] std::int32_t OpenIntenFilesWord(const std::string& name);
    [[nodiscard]] std::int32_t OpenIntenFilesSmallint(const std::string& name);
    void ReadIntenByte(std::uint8_t& sample);
    void ReadIntenShortint(std::int8_t& sample);
    void ReadIntenWord(std::uint16_t& sample);
    void ReadIntenSmallint(std::int16_t& sample);
    void CloseIntenFilesByte();
    void CloseIntenFilesShortint();
    void CloseIntenFilesWord();
    void CloseIntenFilesSmallint();

    // Stage 1 creates the four work files and streams the samples, mono at 22050 per second,
    // into "nor"; stage 3 brings the counts to 22050 per second. "tm1" and "tm2" stay empty
    // for the note stage's tables.
    void PrepareSamples(std::int32_t stage);

    // kAnalyzeOpen: opens the pass, returns the number n of whole frames (-1 when the file is
    // longer than any accepted recording, with a message); 0..n: analyses the next frame;
    // kAnalyzeClose: closes the pass.
    std::int32_t AnalyzeFrame(std::int32_t index);
    // Analyses the next `count` frames of an open pass (as many AnalyzeFrame calls would), on
    // the pass's worker threads; the records are written in frame order. One thread writes
    // the previous batch's records and reads the next batch's samples while the others
    // compute, so the last batch's records reach the file when the pass closes.
    void AnalyzeFrames(std::int32_t count);
    // Threads of the next spectrum pass, the calling one included; 0 (the default) takes
    // DefaultWorkerCount(). Any count writes the same bytes.
    void SetWorkers(std::int32_t workers) { m_workers = workers; }

    // Internal steps, public for tests. LogSpectrum replaces w[1..2047] by the log magnitudes
    // of the 4096-point transform of w[0..4095]; FFT is the in-place 2048-point transform.
    void MakeTables();
    void LogSpectrum(std::span<double, kFftPoints> w);
    void FFT(std::span<double> re, std::span<double> im, std::int32_t order, double sign);

    const std::array<double, 4096>& CosTab() const { return m_cosTab; }
    const std::array<double, 4096>& SinTab() const { return m_sinTab; }

private:
    // One thread's work arrays for a frame: nothing is allocated per frame.
    struct FrameScratch {
        std::vector<double> Work = std::vector<double>(kFftPoints);
        std::vector<double> Imag = std::vector<double>(kFftPoints);
        std::vector<double> Spectrum = std::vector<double>(kSpectrumBins);
    };
    // The tables must be made; these read them and touch only their arguments, so that
    // several threads may run them at once.
    // skipPasses: the first passes are already done (LogSpectrumWith's padded frames).
    void Transform(double* re, double* im, std::int32_t order, double sign, std::int32_t skipPasses) const;
    // padded: w[1024..4095] are zeros, taken as such without being read or written. The log
    // magnitudes 1..2047 go to out[1..2047] (out may be w; out[0] is left to the caller).
    void LogSpectrumWith(double* w, FrameScratch& scratch, bool padded, double* out) const;
    // One frame of kFrameSamples samples to its record of kSpectrumBins values.
    void SpectrumRecord(const double* frame, double* record, FrameScratch& scratch) const;
    void WritePending();

    template <typename Sample>
    std::int32_t OpenReader(RawSampleReader<Sample>& reader, const std::string& name, const char* message);
    template <typename Sample>
    void ReadSample(RawSampleReader<Sample>& reader, Sample& sample);
    template <typename Sample>
    void NormaliseSamples(RawSampleReader<Sample>& reader, std::int64_t count, double offset);
    void PrepareRaw();
    void PrepareRate();
    std::int64_t BlockLimit() const;
    void PlanFft(std::int32_t order);

    std::array<double, 4096> m_cosTab{};
    std::array<double, 4096> m_sinTab{};
    std::array<double, 2048> m_twCos{};
    std::array<double, 2048> m_twSin{};
    std::int32_t m_fftOrder = 0;
    // Butterfly twiddle index per block of each FFT pass and the final reordering; the same
    // for every call, so made once with the tables.
    std::vector<std::int32_t> m_blockTwiddle;
    std::vector<std::pair<std::int32_t, std::int32_t>> m_swaps;  // the reordering's exchanges
    std::int32_t m_plannedOrder = 0;
    std::array<double, kFrameSamples> m_hamming{};  // window factor per sample of a frame
    double m_maxTime = kDefaultMaxTime;
    WavRejection m_lastRejection = WavRejection::None;
    WavHead m_head;
    std::int32_t m_announcedSamples = 0;  // per channel, of the last accepted check
    std::int32_t m_heldSamples = 0;
    TFileBase m_inFile;
    TFileBase m_outFile;
    RawSampleReader<std::uint8_t> m_byteReader;
    RawSampleReader<std::int8_t> m_shortintReader;
    RawSampleReader<std::uint16_t> m_wordReader;
    RawSampleReader<std::int16_t> m_smallintReader;
    std::int64_t m_sampleCounter = -1;
    // Per-frame work arrays, kept between calls so that nothing is allocated per frame: the
    // samples and records of a batch, one scratch per worker.
    std::vector<double> m_frame;
    std::vector<double> m_record;
    std::vector<double> m_ahead;    // samples of the frames after the last batch, read early
    std::vector<double> m_pending;  // records of the last batch, not yet written
    std::size_t m_aheadFrames = 0;
    std::size_t m_pendingFrames = 0;
    std::vector<FrameScratch> m_scratch;
    std::int32_t m_workers = 0;
    std::unique_ptr<WorkerPool> m_pool;  // while a spectrum pass is open
    IdleHook m_idle;
};

}  // namespace ruvo
