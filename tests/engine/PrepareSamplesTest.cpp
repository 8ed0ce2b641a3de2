#include "engine/WavProc.h"

#include "tests/testsupport/ByteWriter.h"
#include "tests/testsupport/RecordFiles.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/Signals.h"
#include "tests/testsupport/TempDir.h"
#include "tests/testsupport/WavWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

using namespace ruvo;
using namespace ruvo::testsupport;

namespace {

// Distinct, non-zero samples that fit `bits`: a ramp that wraps inside the range.
std::vector<std::int32_t> Ramp(std::size_t count, int bits) {
    const std::int32_t span = bits == 8 ? 255 : 65535;
    const std::int32_t low = bits == 8 ? -128 : -32768;
    std::vector<std::int32_t> out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = low + static_cast<std::int32_t>((i * 37 + 11) % static_cast<std::size_t>(span));
    return out;
}

std::vector<double> AsDoubles(const std::vector<std::int32_t>& v) { return std::vector<double>(v.begin(), v.end()); }

class PrepareSamplesTest : public ::testing::Test {
protected:
    // Checks the file and runs the three preparation stages; returns the object's head.
    WavHead Prepare(const std::string& wavPath) {
        WavHead head;
        EXPECT_EQ(wav->CheckWavFile(wavPath, WavHead{}, head), 0);
        for (std::int32_t stage = 1; stage <= 3; ++stage) wav->PrepareSamples(stage);
        wav->GetWavHead(head);
        return head;
    }

    WavHead PrepareSamples(const WavFormat& format, const std::vector<std::int32_t>& samples,
                           const std::string& name = "in.wav") {
        WriteWav(dir.File(name), format, samples);
        return Prepare(dir.File(name));
    }

    TempDir dir;
    ScopedRecordingHost host;
    std::unique_ptr<TWavProc> wav = std::make_unique<TWavProc>();
};

TEST_F(PrepareSamplesTest, StageOneNamesTheFourWorkFilesInTheTemporaryFolder) {
    const WavHead h = PrepareSamples({22050, 1, 16}, Ramp(13230, 16));
    const std::pair<const std::string*, const char*> files[] = {
        {&h.NormFileName, "nor"}, {&h.Temp1FileName, "tm1"}, {&h.Temp2FileName, "tm2"}, {&h.IntenFileName, "int"}};
    for (const auto& [name, prefix] : files) {
        const std::filesystem::path p(*name);
        EXPECT_EQ(p.parent_path(), dir.Path()) << *name;
        EXPECT_EQ(p.filename().string().substr(0, 3), prefix) << *name;
        EXPECT_TRUE(std::filesystem::exists(p)) << *name;
    }
    EXPECT_EQ(host.BoxCount(), 0u);
}

TEST_F(PrepareSamplesTest, SamplesKeepTheirIntegerScale) {
    // 8-bit data is unsigned, offset by 128; 16-bit data is signed; nothing scales one to
    // the other.
    std::vector<std::int32_t> eight(13230, 0);
    eight[0] = -128;
    eight[1] = 127;
    eight[2] = -1;
    WavHead h = PrepareSamples({22050, 1, 8}, eight, "eight.wav");
    std::vector<double> nor = ReadDoubles(h.NormFileName);
    ASSERT_EQ(nor.size(), 13230u);
    EXPECT_EQ(nor[0], -128.0);
    EXPECT_EQ(nor[1], 127.0);
    EXPECT_EQ(nor[2], -1.0);
    EXPECT_EQ(nor[3], 0.0);

    std::vector<std::int32_t> sixteen(13230, 0);
    sixteen[0] = -32768;
    sixteen[1] = 32767;
    sixteen[2] = -1;
    h = PrepareSamples({22050, 1, 16}, sixteen, "sixteen.wav");
    nor = ReadDoubles(h.NormFileName);
    ASSERT_EQ(nor.size(), 13230u);
    EXPECT_EQ(nor[0], -32768.0);
    EXPECT_EQ(nor[1], 32767.0);
    EXPECT_EQ(nor[2], -1.0);
}

TEST_F(PrepareSamplesTest, Rate22050IsCopiedAcrossReaderBufferLoads) {
    // 200000 samples take three loads of the 90000-sample reader buffer.
    const auto samples = Ramp(200000, 16);
    const WavHead h = PrepareSamples({22050, 1, 16}, samples);
    EXPECT_EQ(ReadDoubles(h.NormFileName), AsDoubles(samples));
    EXPECT_EQ(h.SampleCount, 200000);
    EXPECT_EQ(h.FrameCount, 200000 >> 10);
    EXPECT_EQ(h.SampleRate, 22050) << "the file's own rate is kept";
}

TEST_F(PrepareSamplesTest, Rate11025IsInterpolatedToTwiceTheSamples) {
    // x0, x1, x2 ... becomes x0/2, x0, (x0 + x1)/2, x1, (x1 + x2)/2, x2 ...
    const auto samples = Ramp(6615, 8);
    const WavHead h = PrepareSamples({11025, 1, 8}, samples);
    const std::vector<double> nor = ReadDoubles(h.NormFileName);
    ASSERT_EQ(nor.size(), 2u * 6615u);
    double previous = 0.0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double x = samples[i];
        ASSERT_EQ(nor[2 * i], (x + previous) * 0.5) << "sample " << i;
        ASSERT_EQ(nor[2 * i + 1], x) << "sample " << i;
        previous = x;
    }
    EXPECT_EQ(h.SampleCount, 13230);
    EXPECT_EQ(h.FrameCount, 2 * (6615 >> 10)) << "twice the whole blocks of the file as recorded";
    EXPECT_EQ(h.SampleRate, 11025);
}

TEST_F(PrepareSamplesTest, Rate44100KeepsEverySecondSampleAndDropsAnOddLastOne) {
    // 24255 samples (0.55 s): pairs (x0, x1), (x2, x3) ... give x1, x3 ...; x24254 is dropped.
    const auto samples = Ramp(24255, 16);
    const WavHead h = PrepareSamples({44100, 1, 16}, samples);
    const std::vector<double> nor = ReadDoubles(h.NormFileName);
    ASSERT_EQ(nor.size(), 12127u);
    for (std::size_t i = 0; i < nor.size(); ++i) ASSERT_EQ(nor[i], samples[2 * i + 1]) << "output " << i;
    EXPECT_EQ(h.SampleCount, 12127);
    EXPECT_EQ(h.FrameCount, (24255 >> 10) / 2);
    EXPECT_EQ(h.SampleRate, 44100);
}

TEST_F(PrepareSamplesTest, StereoIsTheMeanOfBothChannels) {
    const auto left = Ramp(13230, 16);
    std::vector<std::int32_t> right(left.rbegin(), left.rend());
    const WavHead h = PrepareSamples({22050, 2, 16}, Interleave(left, right));
    const std::vector<double> nor = ReadDoubles(h.NormFileName);
    ASSERT_EQ(nor.size(), 13230u);
    for (std::size_t i = 0; i < nor.size(); ++i) ASSERT_EQ(nor[i], (left[i] + right[i]) * 0.5) << "sample " << i;
    EXPECT_EQ(h.Channels, 2);
}

TEST_F(PrepareSamplesTest, StereoWithEqualChannelsMatchesItsMonoTwin) {
    for (const WavFormat mono : {WavFormat{11025, 1, 8}, WavFormat{22050, 1, 16}, WavFormat{44100, 1, 16}}) {
        const auto samples = Ramp(static_cast<std::size_t>(mono.SampleRate * 6 / 10), mono.Bits);
        const WavHead m = PrepareSamples(mono, samples, "mono.wav");
        const Bytes monoNor = ReadFileBytes(m.NormFileName);
        const WavHead s = PrepareSamples({mono.SampleRate, 2, mono.Bits}, Interleave(samples, samples), "stereo.wav");
        EXPECT_EQ(ReadFileBytes(s.NormFileName), monoNor) << mono.SampleRate << " per second";
        EXPECT_EQ(s.SampleCount, m.SampleCount);
        EXPECT_EQ(s.FrameCount, m.FrameCount);
    }
}

TEST_F(PrepareSamplesTest, SixteenBitDataAtAnOddOffsetIsReadFromItsFirstByte) {
    // A 9-byte chunk between "fmt " and "data" puts the first sample byte at the odd offset
    // 53 (DataOffset 54, 1-based).
    const auto samples = Ramp(13230, 16);
    const Bytes data = PcmData({22050, 1, 16}, samples);
    ByteWriter w;
    w.Text("RIFF").U32(0).Text("WAVE").Chunk("fmt ", FmtPayload({22050, 1, 16}));
    w.Chunk("JUNK", Bytes{0x55}).Text("data").U32(static_cast<std::uint32_t>(data.size())).Raw(data);
    w.PutU32At(4, static_cast<std::uint32_t>(w.Size() - 8));
    WriteFileBytes(dir.File("odd.wav"), w.Data());

    const WavHead h = Prepare(dir.File("odd.wav"));
    EXPECT_EQ(h.DataOffset, 54);
    EXPECT_EQ(ReadDoubles(h.NormFileName), AsDoubles(samples));
}

TEST_F(PrepareSamplesTest, DataCutShortStreamsWhatTheFileHolds) {
    // The header announces 26460 samples; the file holds 13230 of them and half of the next.
    const auto samples = Ramp(26460, 16);
    Bytes bytes = CanonicalWav({22050, 1, 16}, samples);
    bytes.resize(44 + 2 * 13230 + 1);
    WriteFileBytes(dir.File("cut.wav"), bytes);
    const WavHead h = Prepare(dir.File("cut.wav"));
    const std::vector<double> nor = ReadDoubles(h.NormFileName);
    ASSERT_EQ(nor.size(), 13230u) << "the count is what the file holds";
    for (std::size_t i = 0; i < nor.size(); ++i) ASSERT_EQ(nor[i], samples[i]) << "sample " << i;
    EXPECT_EQ(h.FrameCount, 12);
}

TEST_F(PrepareSamplesTest, SampleReadersRefuseAnEmptyWorkFileName) {
    WriteWav(dir.File("in.wav"), {22050, 1, 16}, Ramp(13230, 16));
    WavHead head;
    ASSERT_EQ(wav->CheckWavFile(dir.File("in.wav"), WavHead{}, head), 0);
    EXPECT_EQ(wav->OpenIntenFilesByte(""), -1);
    EXPECT_EQ(wav->OpenIntenFilesShortint(""), -1);
    EXPECT_EQ(wav->OpenIntenFilesWord(""), -1);
    EXPECT_EQ(wav->OpenIntenFilesSmallint(""), -1);
    EXPECT_EQ(host.Messages, (std::vector<std::string>{
                                 "OpenIntenFilesByte in WavProc error.", "OpenIntenFilesShortint in WavProc error.",
                                 "OpenIntenFilesWord in WavProc error.", "OpenIntenFilesSmallint in WavProc error."}));
    EXPECT_TRUE(host.Errors.empty());
}

TEST_F(PrepareSamplesTest, SampleReadersDeliverTheDataInEachFormat) {
    // The same bytes read as each of the four formats, from the first sample byte on.
    const std::vector<std::int32_t> samples{-32768, -1, 0, 1, 32767, 0x1234};
    std::vector<std::int32_t> padded = samples;
    padded.resize(13230, 0);
    WriteWav(dir.File("in.wav"), {22050, 1, 16}, padded);
    WavHead head;
    ASSERT_EQ(wav->CheckWavFile(dir.File("in.wav"), WavHead{}, head), 0);

    ASSERT_EQ(wav->OpenIntenFilesSmallint("tm1"), 0);
    for (std::int32_t expected : samples) {
        std::int16_t s = 0;
        wav->ReadIntenSmallint(s);
        EXPECT_EQ(s, expected);
    }
    wav->CloseIntenFilesSmallint();

    ASSERT_EQ(wav->OpenIntenFilesWord("tm1"), 0);
    for (std::int32_t expected : samples) {
        std::uint16_t s = 0;
        wav->ReadIntenWord(s);
        EXPECT_EQ(s, static_cast<std::uint16_t>(expected));
    }
    wav->CloseIntenFilesWord();

    // Byte by byte: little-endian low byte first.
    const std::uint8_t bytes[] = {0x00, 0x80, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00};
    ASSERT_EQ(wav->OpenIntenFilesByte("tm1"), 0);
    for (std::uint8_t expected : bytes) {
        std::uint8_t s = 0;
        wav->ReadIntenByte(s);
        EXPECT_EQ(s, expected);
    }
    wav->CloseIntenFilesByte();

    ASSERT_EQ(wav->OpenIntenFilesShortint("tm1"), 0);
    for (std::uint8_t expected : bytes) {
        std::int8_t s = 0;
        wav->ReadIntenShortint(s);
        EXPECT_EQ(s, static_cast<std::int8_t>(expected));
    }
    wav->CloseIntenFilesShortint();
    EXPECT_EQ(host.BoxCount(), 0u);
}

}  // namespace
