#include "engine/WavProc.h"

#include "tests/testsupport/RecordFiles.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/Signals.h"
#include "tests/testsupport/TempDir.h"
#include "tests/testsupport/WavWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <limits>
#include <vector>
#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <random>

using namespace ruvo;
using namespace ruvo::testsupport;

namespace {

// Forward DFT with kernel e^(-2 pi i nk/N), summed term by term; angles are reduced to
// n*k mod N so that the reference keeps full precision at every bin.
std::vector<std::complex<double>> NaiveDft(const std::vector<std::complex<double>>& x, std::size_t n,
                                           std::size_t bins) {
    std::vector<std::complex<double>> out(bins);
    std::vector<std::complex<double>> kernel(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double angle = -2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n);
        kernel[i] = {std::cos(angle), std::sin(angle)};
    }
    for (std::size_t k = 0; k < bins; ++k) {
        std::complex<double> sum = 0.0;
        for (std::size_t i = 0; i < x.size(); ++i) sum += x[i] * kernel[(i * k) % n];
        out[k] = sum;
    }
    return out;
}

// Hamming-windowed frame of 1024 samples, zero-padded to 4096, as the spectrum pass makes it.
std::array<double, kFftPoints> WindowedFrame(const std::vector<double>& samples) {
    std::array<double, kFftPoints> w{};
    for (std::size_t i = 0; i < 1024; ++i)
        w[i] = (0.54 - 0.46 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / 1024.0)) * samples[i];
    return w;
}

std::vector<double> CosineAtBin100() {
    std::vector<double> x(1024);
    for (std::size_t n = 0; n < x.size(); ++n)
        x[n] = 10000.0 * std::cos(2.0 * std::numbers::pi * 100.0 * static_cast<double>(n) / 4096.0);
    return x;
}

// Bins 98..102 of that cosine: 0.5 * log10(|X_k / 2048|^2 + 1), computed in double with a
// naive DFT of the windowed frame.
constexpr double kCosineBins[] = {3.042261004, 3.108414808, 3.130333888, 3.109017465, 3.043253153};

class SpectrumTest : public ::testing::Test {
protected:
    // Runs the WAV stage by hand; returns the frame count n of AnalyzeFrame(-1).
    std::int32_t Analyse(const WavFormat& format, const std::vector<std::int32_t>& samples, WavHead& head) {
        WriteWav(dir.File("in.wav"), format, samples);
        EXPECT_EQ(wav->CheckWavFile(dir.File("in.wav"), WavHead{}, head), 0);
        for (std::int32_t stage = 1; stage <= 3; ++stage) wav->PrepareSamples(stage);
        const std::int32_t n = wav->AnalyzeFrame(kAnalyzeOpen);
        // Frame by frame, or in the batch sizes of `batches` taken in turn.
        for (std::int32_t f = 0, turn = 0; f <= n; ++turn) {
            const std::int32_t count =
                batches.empty() ? 1 : std::min(batches[static_cast<std::size_t>(turn) % batches.size()], n + 1 - f);
            wav->AnalyzeFrames(count);
            f += count;
        }
        wav->AnalyzeFrame(kAnalyzeClose);
        wav->GetWavHead(head);
        return n;
    }

    TempDir dir;
    ScopedRecordingHost host;
    std::unique_ptr<TWavProc> wav = std::make_unique<TWavProc>();
    std::vector<std::int32_t> batches;
};

TEST_F(SpectrumTest, FftMatchesANaiveDft) {
    std::mt19937 random(20240611);
    std::uniform_real_distribution<double> uniform(-1000.0, 1000.0);
    std::vector<std::complex<double>> x(2048);
    for (auto& v : x) v = {uniform(random), uniform(random)};
    const auto expected = NaiveDft(x, 2048, 2048);

    wav->MakeTables();
    for (const double sign : {-1.0, 1.0}) {
        std::vector<double> re(2048), im(2048);
        for (std::size_t i = 0; i < x.size(); ++i) {
            re[i] = x[i].real();
            im[i] = x[i].imag();
        }
        wav->FFT(re, im, 11, sign);
        // A negative sign scales by 1/N; the transform is forward either way.
        const double scale = sign < 0 ? 1.0 / 2048.0 : 1.0;
        double worst = 0.0;
        for (std::size_t k = 0; k < 2048; ++k)
            worst = std::max(worst, std::abs(std::complex<double>(re[k], im[k]) - expected[k] * scale));
        // Inputs up to 1000 summed over 2048 terms: rounding of both transforms stays far
        // below 1e-6 of the output scale (about 4e4 unscaled).
        EXPECT_LT(worst, 1e-6 * 4e4 * scale) << "sign " << sign;
    }
}

TEST_F(SpectrumTest, LogSpectrumIsTheLogMagnitudeOfThe4096PointTransform) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> uniform(-30000.0, 30000.0);
    std::array<double, kFftPoints> w{};
    std::vector<std::complex<double>> x(kFftPoints);
    for (std::size_t i = 0; i < 1024; ++i) {
        w[i] = uniform(random);
        x[i] = w[i];
    }
    const auto expected = NaiveDft(x, kFftPoints, 2048);
    wav->MakeTables();
    wav->LogSpectrum(w);
    for (std::size_t k = 1; k < 2048; ++k) {
        const double magnitude = std::abs(expected[k]) / 2048.0;
        const double reference = 0.5 * std::log10(magnitude * magnitude + 1.0);
        // Log values of order 1..5; the transforms agree to about 1e-12 relative.
        ASSERT_NEAR(w[k], reference, 1e-9) << "bin " << k;
    }
}

TEST_F(SpectrumTest, CosineAtBin100PeaksThereWithItsNeighboursFallingOff) {
    auto w = WindowedFrame(CosineAtBin100());
    wav->MakeTables();
    wav->LogSpectrum(w);
    for (std::size_t i = 0; i < 5; ++i)
        // The reference is a naive DFT in double; the FFT differs by rounding only.
        EXPECT_NEAR(w[98 + i], kCosineBins[i], 1e-8) << "bin " << 98 + i;
    EXPECT_GT(w[100], w[99]);
    EXPECT_GT(w[100], w[101]);
}

TEST_F(SpectrumTest, AnalyzedFrameOfTheCosineMatchesTheReference) {
    // The cosine as 16-bit samples in the first frame, silence after it (0.6 s in all).
    std::vector<double> signal = CosineAtBin100();
    signal.resize(13230, 0.0);
    WavHead head;
    const std::int32_t n = Analyse({22050, 1, 16}, Quantize(signal, 16), head);
    ASSERT_EQ(n, 12);
    const Table spectrum = ReadTable(head.IntenFileName, 2048);
    ASSERT_EQ(spectrum.size(), 13u) << "n + 1 records";
    for (std::size_t i = 0; i < 5; ++i)
        // Rounding the samples to integers moves each by at most 0.5 of 10000: about 2e-5
        // in the log magnitude.
        EXPECT_NEAR(spectrum[0][98 + i], kCosineBins[i], 2e-4) << "bin " << 98 + i;
    EXPECT_EQ(spectrum[0][0], 0.0) << "bin 0 is always 0";
    EXPECT_EQ(spectrum[1], std::vector<double>(2048, 0.0)) << "a silent frame";
}

TEST_F(SpectrumTest, SilenceGivesRecordsOfZeros) {
    WavHead head;
    const std::int32_t n = Analyse({22050, 1, 16}, std::vector<std::int32_t>(13230, 0), head);
    const Table spectrum = ReadTable(head.IntenFileName, 2048);
    ASSERT_EQ(spectrum.size(), static_cast<std::size_t>(n + 1));
    for (const auto& record : spectrum) ASSERT_EQ(record, std::vector<double>(2048, 0.0));
}

TEST_F(SpectrumTest, BatchesOfAnySizeWriteTheRecordsOfSingleFrames) {
    // Samples read ahead for a batch of one size serve the next call of another size.
    const std::vector<std::int32_t> samples = Quantize(Noise(150 * 1024, 8000.0, 5), 16);
    WavHead single;
    Analyse({22050, 1, 16}, samples, single);
    for (const auto& sizes : std::vector<std::vector<std::int32_t>>{{64}, {70, 3, 1, 64, 9}, {1, 2, 90}}) {
        wav = std::make_unique<TWavProc>();
        batches = sizes;
        WavHead batched;
        Analyse({22050, 1, 16}, samples, batched);
        EXPECT_EQ(ReadTable(batched.IntenFileName, 2048), ReadTable(single.IntenFileName, 2048)) << sizes.size();
    }
}

TEST_F(SpectrumTest, LastFrameLiesPastTheEndOfTheSamples) {
    // 20480 samples at 22050: n = 20 whole frames, 21 analysed; the last one is all zeros.
    WavHead head;
    const std::int32_t n = Analyse({22050, 1, 16}, Quantize(Noise(20480, 8000.0, 3), 16), head);
    EXPECT_EQ(n, 20);
    EXPECT_EQ(head.FrameCount, 20);
    EXPECT_EQ(head.SampleCount, 20480);
    const Table spectrum = ReadTable(head.IntenFileName, 2048);
    ASSERT_EQ(spectrum.size(), 21u);
    for (std::size_t f = 0; f < 20; ++f) {
        double loudest = 0.0;
        for (double v : spectrum[f]) loudest = std::max(loudest, v);
        EXPECT_GT(loudest, 2.0) << "frame " << f << " holds noise";
    }
    EXPECT_EQ(spectrum[20], std::vector<double>(2048, 0.0));
    EXPECT_EQ(host.BoxCount(), 0u);
}

TEST_F(SpectrumTest, EightBitAndSixteenBitDifferByTheirScaleInStrongBins) {
    // The same sine at 100 (8-bit) and 25600 (16-bit): strong bins differ by log10(256).
    const std::vector<double> sine = SineAtNote(36, 13230, 22050.0, 100.0);
    std::vector<double> loud(sine);
    for (double& v : loud) v *= 256.0;
    WavHead head8, head16;
    Analyse({22050, 1, 8}, Quantize(sine, 8), head8);
    const Table eight = ReadTable(head8.IntenFileName, 2048);
    wav = std::make_unique<TWavProc>();
    Analyse({22050, 1, 16}, Quantize(loud, 16), head16);
    const Table sixteen = ReadTable(head16.IntenFileName, 2048);
    ASSERT_EQ(eight.size(), sixteen.size());
    // 440 Hz lies at bin 81.7; bins 81 and 82 hold the peak.
    for (std::size_t f = 1; f < 10; ++f)
        for (std::size_t bin : {81u, 82u})
            // 8-bit rounding adds noise of about 0.3 % of the amplitude: well under 0.02.
            EXPECT_NEAR(sixteen[f][bin] - eight[f][bin], std::log10(256.0), 0.02) << "frame " << f << " bin " << bin;
}

TEST_F(SpectrumTest, FrameLimitFollowsTheLongestTime) {
    // A limit of 1 s allows floor(22050 / 1024) = 21 frames; 22 are refused.
    WavHead head;
    WriteWav(dir.File("in.wav"), {22050, 1, 16}, std::vector<std::int32_t>(22 * 1024, 0));
    ASSERT_EQ(wav->CheckWavFile(dir.File("in.wav"), WavHead{}, head), 0);
    for (std::int32_t stage = 1; stage <= 3; ++stage) wav->PrepareSamples(stage);
    wav->SetMaxTime(1.0);
    EXPECT_EQ(wav->AnalyzeFrame(kAnalyzeOpen), -1);
    EXPECT_EQ(host.Errors.size(), 1u);

    host.Clear();
    WriteWav(dir.File("in.wav"), {22050, 1, 16}, std::vector<std::int32_t>(22050, 0));
    wav->SetMaxTime(kDefaultMaxTime);
    ASSERT_EQ(wav->CheckWavFile(dir.File("in.wav"), WavHead{}, head), 0);
    for (std::int32_t stage = 1; stage <= 3; ++stage) wav->PrepareSamples(stage);
    wav->SetMaxTime(1.0);
    EXPECT_EQ(wav->AnalyzeFrame(kAnalyzeOpen), 21);
    wav->AnalyzeFrame(kAnalyzeClose);
    EXPECT_EQ(host.BoxCount(), 0u);
}

}  // namespace

// The spectrum's logarithm must keep every bit of std::log10, or a peak comparison further on
// could turn: exact powers of two and their neighbours (where the exponent split changes),
// powers of ten, the spectrum's range and many values between.
TEST(SpectrumLogTest, HasTheBitsOfTheLibraryLog10) {
    std::vector<double> inputs{1.0, 2.0, 10.0, 1e300, std::numeric_limits<double>::max(), 0.5, 0.0, -1.0};
    for (int e = 0; e < 1024; e += 7) {
        const double p = std::ldexp(1.0, e);
        inputs.insert(inputs.end(), {p, std::nextafter(p, 0.0), std::nextafter(p, 1e308), p * 1.5});
    }
    std::uint64_t seed = 99;
    for (int i = 0; i < 200000; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        inputs.push_back(1.0 + std::ldexp(static_cast<double>(seed >> 11), -53) * std::pow(10.0, i % 40));
    }
    for (const double x : inputs) {
        ASSERT_EQ(std::bit_cast<std::uint64_t>(Log10AtLeastOne(x)), std::bit_cast<std::uint64_t>(std::log10(x))) << x;
    }
}
