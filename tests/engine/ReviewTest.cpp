// Exact-value checks of the engine's arithmetic, where a tolerance would hide a wrong order of
// operations or a different rounding.

#include "engine/WavProc.h"

#include "tests/testsupport/RecordFiles.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/Signals.h"
#include "tests/testsupport/TempDir.h"
#include "tests/testsupport/WavWriter.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <vector>

using namespace ruvo;
using namespace ruvo::testsupport;

namespace {

// The windowed sample as the spectrum pass must make it: the window factor wholly in extended
// precision, rounded to double once, then multiplied by the sample in double.
double WindowedSample(std::size_t i, double sample) {
    const long double angle = 6.283185307179586477L * static_cast<long double>(i) * (1.0L / 1024.0L);
    const auto factor = static_cast<double>(0.54L - 0.46L * cosl(angle));
    return factor * sample;
}

TEST(SpectrumPrecisionTest, WindowFactorIsRoundedOnceThenAppliedInDouble) {
    TempDir dir;
    ScopedRecordingHost host;
    // Loud noise: nearly every sample is a full 16-bit value, so a product taken in extended
    // precision instead would show in many of the 1024 samples.
    const std::vector<std::int32_t> samples = Quantize(Noise(13230, 32000.0, 11), 16);
    WriteWav(dir.File("in.wav"), {22050, 1, 16}, samples);

    auto wav = std::make_unique<TWavProc>();
    WavHead head;
    ASSERT_EQ(wav->CheckWavFile(dir.File("in.wav"), WavHead{}, head), 0);
    for (std::int32_t stage = 1; stage <= 3; ++stage) wav->PrepareSamples(stage);
    const std::int32_t n = wav->AnalyzeFrame(kAnalyzeOpen);
    ASSERT_EQ(n, 12);
    for (std::int32_t f = 0; f <= n; ++f) wav->AnalyzeFrame(f);
    wav->AnalyzeFrame(kAnalyzeClose);
    wav->GetWavHead(head);
    const Table spectrum = ReadTable(head.IntenFileName, kSpectrumBins);
    ASSERT_EQ(spectrum.size(), 13u);

    // The same transform of the same windowed frames must give the stored records bit for bit.
    auto reference = std::make_unique<TWavProc>();
    reference->MakeTables();
    for (std::size_t frame : {0u, 5u, 11u}) {
        std::array<double, kFftPoints> w{};
        for (std::size_t i = 0; i < kFrameSamples; ++i)
            w[i] = WindowedSample(i, static_cast<double>(samples[frame * kFrameSamples + i]));
        reference->LogSpectrum(w);
        w[0] = 0.0;
        std::size_t differing = 0;
        for (std::size_t k = 0; k < kSpectrumBins; ++k) differing += spectrum[frame][k] != w[k] ? 1 : 0;
        EXPECT_EQ(differing, 0u) << "frame " << frame;
    }
}

}  // namespace
