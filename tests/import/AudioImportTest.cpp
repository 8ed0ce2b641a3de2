#include "import/AudioImport.h"

#include "engine/Conversion.h"
#include "engine/TMakeMidi.h"
#include "engine/TNote.h"
#include "engine/Units.h"
#include "engine/WavProc.h"
#include "import/FlacFrames.h"
#include "import/ImportFormats.h"
#include "tests/testsupport/ByteWriter.h"
#include "tests/testsupport/MidiReader.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/Signals.h"
#include "tests/testsupport/TempDir.h"
#include "tests/testsupport/WavWriter.h"

#include <sndfile.h>
#include <soxr.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace ruvo;
using namespace ruvo::testsupport;

namespace {

// A4, C#5, E5, A5 (keys 69, 73, 76, 81), 0.51 s each, the last fading out, then silence.
const std::vector<int> kMelody{36, 40, 43, 48};
const std::vector<int> kMelodyKeys{69, 73, 76, 81};
constexpr std::int64_t kNoLimit = std::int64_t{1} << 40;
constexpr std::int64_t kSustainedTicks = 4 * 15;  // four frames: shorter notes are codec noise

std::vector<double> Melody(double rate) {
    const auto each = static_cast<std::size_t>(11 * 1024 * rate / 22050);
    std::vector<double> signal = NoteSequence(kMelody, each, rate, 12000.0);
    for (std::size_t i = 0; i < 512; ++i) signal[signal.size() - 1 - i] *= static_cast<double>(i) / 512.0;
    Append(signal, Silence(each));
    return signal;
}

class AudioImportTest : public ::testing::Test {
protected:
    void SetUp() override {
        reference = dir.File("reference.wav");
        referenceSamples = Quantize(Melody(44100), 16);
        if (LeadSamples() > 0) referenceSamples.insert(referenceSamples.begin(), static_cast<std::size_t>(LeadSamples()), 0);
        WriteWav(reference, {44100, 1, 16}, referenceSamples);
    }

    virtual std::int64_t LeadSamples() const { return 0; }

    // sox turns the reference into `name` with the output options given.
    std::string Sox(const std::string& name, const std::string& options) {
        const std::string out = dir.File(name);
        const std::string command = std::string(RUVO_SOX) + " -D -q " + reference + " " + options + " " + out;
        if (std::system(command.c_str()) != 0) ADD_FAILURE() << command;
        return out;
    }

    // Imports `input` into a work file; empty when the import failed.
    std::string Import(const std::string& input, std::int64_t maxFrames = kNoLimit) {
        TAudioImport import;
        if (import.Open(input) != 0) {
            ADD_FAILURE() << input << ": " << import.LastError();
            return {};
        }
        const std::string out = dir.File("imported.wav");
        if (import.WriteWav(out, maxFrames, nullptr) != 0) {
            ADD_FAILURE() << input << ": " << import.LastError();
            return {};
        }
        return out;
    }

    // The whole conversion of an accepted WAV file; the keys of its notes longer than a few
    // frames, empty when it was refused.
    std::vector<int> SustainedKeys(const std::string& wavName, std::vector<std::int64_t>* starts = nullptr) {
        WavHead rec;
        auto wav = std::make_unique<TWavProc>();
        auto note = std::make_unique<TNote>();
        const TickFn go = [](Tick) { return true; };
        if (RunWaveStage(*wav, wavName, rec, go) != 0 || RunNoteStage(*note, rec, 1, go) != 0) return {};
        rec.MidiFileName = dir.File("out.mid");
        std::string name;
        TMakeMidi().ConvMidi(kMidiToUserFile, rec, 0, rec.FrameCount - 1, name);
        std::vector<int> keys;
        for (const MidiNote& n : TrackNotes(ReadMidiFile(rec.MidiFileName).Tracks.at(1)))
            if (n.EndTick - n.StartTick >= kSustainedTicks) {
                if (starts != nullptr) starts->push_back(n.StartTick);
                keys.push_back(n.Key);
            }
        return keys;
    }

    TempDir dir;
    ScopedRecordingHost host;
    std::string reference;
    std::vector<std::int32_t> referenceSamples;
};

TEST_F(AudioImportTest, ReferenceGivesTheMelody) { EXPECT_EQ(SustainedKeys(reference), kMelodyKeys); }

struct SoxCase {
    const char* Name;
    const char* File;
    const char* Options;
    const char* Described;  // DescribeSource
    const char* Imported;   // DescribeImported
};

class ImportSoxFile : public AudioImportTest, public ::testing::WithParamInterface<SoxCase> {};

// Every format the check refuses goes through the import to the notes of the WAV reference.
TEST_P(ImportSoxFile, GivesTheNotesOfTheReference) {
    const SoxCase& c = GetParam();
    const std::string input = Sox(c.File, c.Options);
    auto wav = std::make_unique<TWavProc>();
    EXPECT_EQ(ProbeWavFile(*wav, input), WavRejection::Layout);
    EXPECT_EQ(host.BoxCount(), 0u) << "the probe shows nothing";

    TAudioImport import;
    ASSERT_EQ(import.Open(input), 0) << import.LastError();
    EXPECT_EQ(DescribeSource(import.Source()), c.Described);
    EXPECT_EQ(DescribeImported(import.Source()), c.Imported);
    const std::string imported = Import(input);
    ASSERT_FALSE(imported.empty());
    EXPECT_EQ(ProbeWavFile(*wav, imported), WavRejection::None);
    EXPECT_EQ(SustainedKeys(imported), kMelodyKeys);
    EXPECT_EQ(host.BoxCount(), 0u) << (host.Errors.empty() ? "" : host.Errors.front());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ImportSoxFile,
    ::testing::Values(SoxCase{"Wav48k16", "a.wav", "-r 48000 -b 16", "48000 Hz, 16-bit WAV", "44100 Hz, 16-bit"},
                      SoxCase{"Wav48k24", "a.wav", "-r 48000 -b 24", "48000 Hz, 24-bit WAV", "44100 Hz, 16-bit"},
                      SoxCase{"WavFloat", "a.wav", "-e floating-point -b 32", "44100 Hz, 32-bit float WAV",
                              "44100 Hz, 16-bit"},
                      SoxCase{"Wav48k8", "a.wav", "-r 48000 -b 8 -e unsigned-integer", "48000 Hz, 8-bit WAV",
                              "44100 Hz, 16-bit"},
                      SoxCase{"Wav96k", "a.wav", "-r 96000", "96000 Hz, 16-bit WAV", "44100 Hz, 16-bit"},
                      SoxCase{"Wav8k", "a.wav", "-r 8000", "8000 Hz, 16-bit WAV", "22050 Hz, 16-bit"},
                      SoxCase{"Wav11k24", "a.wav", "-r 11025 -b 24", "11025 Hz, 24-bit WAV", "11025 Hz, 16-bit"},
                      SoxCase{"Wav4Channels", "a.wav", "-c 4", "44100 Hz, 16-bit WAV, 4 channels",
                              "44100 Hz, 16-bit, stereo"},
                      SoxCase{"Flac48k24", "a.flac", "-r 48000 -b 24", "48000 Hz, 24-bit FLAC", "44100 Hz, 16-bit"},
                      SoxCase{"Ogg", "a.ogg", "", "44100 Hz, Ogg Vorbis", "44100 Hz, 16-bit"},
                      SoxCase{"Mp3", "a.mp3", "-C 192", "44100 Hz, MP3", "44100 Hz, 16-bit"},
                      SoxCase{"Aiff22k", "a.aiff", "-r 22050", "22050 Hz, 16-bit AIFF", "22050 Hz, 16-bit"},
                      SoxCase{"Nist", "a.sph", "", "44100 Hz, 16-bit NIST SPHERE", "44100 Hz, 16-bit"},
                      // Rates the check takes, in samples it must not read as PCM (A-law: see the check's table).
                      SoxCase{"MuLaw", "a.wav", "-r 22050 -e u-law", "22050 Hz, u-law WAV", "22050 Hz, 16-bit"},
                      SoxCase{"ImaAdpcm", "a.wav", "-r 22050 -e ima-adpcm", "22050 Hz, ADPCM WAV", "22050 Hz, 16-bit"}),
    [](const ::testing::TestParamInfo<SoxCase>& row) { return std::string(row.param.Name); });

struct FlacCase {
    const char* Name;
    const char* Format;   // sox's output options
    const char* Effects;  // and its effects after the output file
    bool Cut;             // the file ends half way through its announced length
};

class ImportFlacFrames : public AudioImportTest, public ::testing::WithParamInterface<FlacCase> {};

// libFLAC read straight gives libsndfile's floats bit for bit; a file that does not decode to
// its announced length is left to libsndfile, whose reason the import then gives.
TEST_P(ImportFlacFrames, GivesLibsndfilesSamples) {
    const FlacCase& c = GetParam();
    const std::string flac = dir.File("a.flac");
    const std::string command =
        std::string(RUVO_SOX) + " -D -q " + reference + " " + c.Format + " " + flac + " " + c.Effects;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    if (c.Cut) {
        Bytes bytes = ReadFileBytes(flac);
        bytes.resize(bytes.size() / 2);
        WriteFileBytes(flac, bytes);
    }
    SF_INFO info{};
    SNDFILE* file = sf_open(flac.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> expected(static_cast<std::size_t>(info.frames * info.channels));
    expected.resize(static_cast<std::size_t>(sf_readf_float(file, expected.data(), info.frames) * info.channels));
    sf_close(file);
    const std::int32_t bits = std::string(c.Format).find("-b 8") != std::string::npos    ? 8
                              : std::string(c.Format).find("-b 24") != std::string::npos ? 24
                                                                                         : 16;
    ASSERT_TRUE(FlacFrames::Suits(info.frames, info.channels, bits));

    FlacFrames frames(flac, info.frames, info.channels, info.samplerate, bits);
    ASSERT_TRUE(frames.Opened());
    // Odd block sizes: frames are split between reads and read whole into them.
    std::vector<float> got(static_cast<std::size_t>(info.frames * info.channels));
    std::int64_t at = 0;
    for (std::int64_t n = 1; at < info.frames; n = n * 3 + 1) {
        const std::int64_t read =
            frames.Read(got.data() + at * info.channels, static_cast<std::size_t>(std::min(n, info.frames - at)));
        if (read <= 0) break;
        at += read;
    }
    EXPECT_EQ(frames.Irregular(), c.Cut);
    if (!c.Cut) {
        EXPECT_EQ(at, info.frames);
        EXPECT_EQ(got, expected);
        return;
    }
    TAudioImport import;
    ASSERT_EQ(import.Open(flac), 0);
    const std::int32_t written = import.WriteWav(dir.File("cut.wav"), kNoLimit, nullptr);
    EXPECT_TRUE(written == 0 || import.LastError().find("irregular") == std::string::npos) << import.LastError();
}

INSTANTIATE_TEST_SUITE_P(Layouts, ImportFlacFrames,
                         ::testing::Values(FlacCase{"Stereo48k24", "-r 48000 -b 24", "remix 1 1v-0.5", false},
                                           FlacCase{"Mono44k16", "-b 16", "", false},
                                           FlacCase{"Stereo22k8", "-r 22050 -b 8", "remix 1v0.7 1", false},
                                           FlacCase{"Cut", "-r 48000 -b 24", "", true}),
                         [](const ::testing::TestParamInfo<FlacCase>& row) { return std::string(row.param.Name); });

struct ResampledCase {
    const char* Name;
    const char* File;
    const char* Format;   // sox's output options
    const char* Effects;  // and its effects after the output file
};

class ImportResampled : public AudioImportTest, public ::testing::WithParamInterface<ResampledCase> {};

// However the blocks go through the threads, the samples are those of one soxr run over the
// whole recording per channel, rounded to 16 bits with ties to even.
TEST_P(ImportResampled, GivesOneResamplingOfTheWhole) {
    const ResampledCase& c = GetParam();
    const std::string input = dir.File(c.File);
    const std::string command =
        std::string(RUVO_SOX) + " -D -q " + reference + " " + c.Format + " " + input + " " + c.Effects;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    SF_INFO info{};
    SNDFILE* file = sf_open(input.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> source(static_cast<std::size_t>(info.frames) * channels);
    ASSERT_EQ(sf_readf_float(file, source.data(), info.frames), info.frames);
    sf_close(file);

    const double rate = ImportedRate(info.samplerate);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const auto frames = static_cast<std::size_t>(std::llrint(static_cast<double>(info.frames) * rate / info.samplerate));
    std::vector<std::int16_t> expected(frames * channels);
    for (std::size_t ch = 0; ch < channels; ++ch) {
        std::vector<float> in(static_cast<std::size_t>(info.frames));
        for (std::size_t f = 0; f < in.size(); ++f) in[f] = source[f * channels + ch];
        std::vector<float> out(frames);
        std::size_t made = 0;
        ASSERT_EQ(soxr_oneshot(info.samplerate, rate, 1, in.data(), in.size(), nullptr, out.data(), frames, &made, &io,
                               &quality, nullptr),
                  nullptr);
        ASSERT_EQ(made, frames);
        for (std::size_t f = 0; f < frames; ++f) {
            const double scaled = std::clamp(static_cast<double>(out[f]) * 32768.0, -32768.0, 32767.0);
            expected[f * channels + ch] = static_cast<std::int16_t>(std::nearbyint(scaled));
        }
    }
    const Bytes wav = ReadFileBytes(Import(input));
    ASSERT_EQ(wav.size(), 44 + expected.size() * 2);
    std::vector<std::int16_t> got(expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        got[i] = static_cast<std::int16_t>(wav[44 + 2 * i] | wav[45 + 2 * i] << 8);
    }
    EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ImportResampled,
    ::testing::Values(ResampledCase{"Flac48kStereo", "a.flac", "-r 48000 -b 24", "remix 1 1v-0.5"},
                      ResampledCase{"Wav48kStereo", "a.wav", "-r 48000 -b 24", "remix 1v0.7 1"},
                      ResampledCase{"Flac96kMono", "a.flac", "-r 96000 -b 16", ""},
                      ResampledCase{"Wav8kStereo", "a.wav", "-r 8000", "remix 1 1v0.5"}),
    [](const ::testing::TestParamInfo<ResampledCase>& row) { return std::string(row.param.Name); });

// Float samples become 16 bits scaled by 32768, clipped, rounded with ties to even, a NaN as 0;
// in mono and stereo, in whole groups of samples and in the odd ones after them.
TEST_F(AudioImportTest, FloatSamplesRoundAndClipAsTheRestOfTheProgram) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<std::pair<float, std::int16_t>> table{{nan, 0},
                                                            {inf, 32767},
                                                            {-inf, -32768},
                                                            {1.0F, 32767},
                                                            {-1.0F, -32768},
                                                            {1.5F / 32768, 2},
                                                            {2.5F / 32768, 2},
                                                            {-2.5F / 32768, -2},
                                                            {-0.5F / 32768, 0},
                                                            {0.4999F / 32768, 0},
                                                            {32766.5F / 32768, 32766},
                                                            {-32767.5F / 32768, -32768},
                                                            {0.25F, 8192}};
    for (const int channels : {1, 2}) {
        const std::string name = dir.File("float" + std::to_string(channels) + ".wav");
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* file = sf_open(name.c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr);
        // The table once per channel, so that every channel meets every row.
        std::vector<float> samples;
        for (int c = 0; c < channels; ++c)
            for (const auto& row : table) samples.push_back(row.first);
        ASSERT_EQ(sf_write_float(file, samples.data(), static_cast<sf_count_t>(samples.size())),
                  static_cast<sf_count_t>(samples.size()));
        sf_close(file);
        const Bytes wav = ReadFileBytes(Import(name));
        ASSERT_EQ(wav.size(), 44 + 2 * samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i) {
            EXPECT_EQ(static_cast<std::int16_t>(wav[44 + 2 * i] | wav[45 + 2 * i] << 8), table[i % table.size()].second)
                << channels << " channels, sample " << i;
        }
    }
}

struct FfmpegCase {
    const char* Name;
    const char* Command;  // "sox" or "ffmpeg" and its options between the reference and the output
    const char* File;
    const char* Described;
    bool SameFrames = true;  // FFmpeg's own WMA encoder drops its first block of 2048 samples
};

class ImportFfmpegFile : public AudioImportTest, public ::testing::WithParamInterface<FfmpegCase> {
protected:
    // The notes start late in their analysis frames (2048 samples at 44100 per second), so
    // that a delay of half a frame moves them into the next one.
    std::int64_t LeadSamples() const override { return 1536; }
};

// What libsndfile does not read comes through FFmpeg; every copy's notes start in the
// reference's frames, an MP3's too, whether or not it tells its encoder's delay.
TEST_P(ImportFfmpegFile, GivesTheNotesOfTheReferenceInItsFrames) {
    const FfmpegCase& c = GetParam();
    const std::string input = dir.File(c.File);
    const std::string tool = c.Command;
    const std::string command = tool.starts_with("sox")
                                    ? std::string(RUVO_SOX) + " -D -q " + reference + tool.substr(3) + " " + input
                                    : std::string(RUVO_FFMPEG) + " -v error -y -i " + reference + tool.substr(6) + " " + input;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    TAudioImport import;
    ASSERT_EQ(import.Open(input), 0) << import.LastError();
    EXPECT_EQ(DescribeSource(import.Source()), c.Described);
    std::vector<std::int64_t> referenceStarts;
    std::vector<std::int64_t> starts;
    ASSERT_EQ(SustainedKeys(reference, &referenceStarts), kMelodyKeys);
    EXPECT_EQ(SustainedKeys(Import(input), &starts), kMelodyKeys);
    if (c.SameFrames) {
        EXPECT_EQ(starts, referenceStarts);
    }
    EXPECT_EQ(host.BoxCount(), 0u) << (host.Errors.empty() ? "" : host.Errors.front());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ImportFfmpegFile,
    ::testing::Values(FfmpegCase{"M4aAac", "ffmpeg -c:a aac -b:a 128k", "memo.m4a", "44100 Hz, AAC"},
                      FfmpegCase{"M4aAlac", "ffmpeg -c:a alac", "lossless.m4a", "44100 Hz, 16-bit ALAC"},
                      FfmpegCase{"Wma", "ffmpeg -c:a wmav2 -b:a 128k", "a.wma", "44100 Hz, WMA", false},
                      FfmpegCase{"Mp4Video",
                                 "ffmpeg -f lavfi -i color=s=64x48:r=5 -map 1:v -map 0:a -shortest -c:v mpeg4 -c:a aac",
                                 "clip.mp4", "44100 Hz, AAC sound of a video"},
                      FfmpegCase{"MkvVideo", "ffmpeg -f lavfi -i color=s=64x48:r=5 -map 1:v -map 0:a -shortest -c:v mpeg4 -c:a flac",
                                 "clip.mkv", "44100 Hz, 16-bit FLAC sound of a video"},
                      FfmpegCase{"Mp3Tagged", "ffmpeg -c:a libmp3lame -b:a 192k", "tagged.mp3", "44100 Hz, MP3"},
                      FfmpegCase{"Mp3Untagged", "sox -C 192", "untagged.mp3", "44100 Hz, MP3"}),
    [](const ::testing::TestParamInfo<FfmpegCase>& row) { return std::string(row.param.Name); });

TEST_F(AudioImportTest, TextNamedAsAMemoIsOfNoFormat) {
    const std::string text = dir.File("memo.m4a");
    WriteFileBytes(text, Bytes(4000, 'a'));
    TAudioImport import;
    EXPECT_EQ(import.Open(text), -1);
    EXPECT_TRUE(import.FormatUnknown());
    for (const char* name : {"WAV", "MP3", "M4A/AAC", "WMA", "AMR", "MP4 video", "WebM video"})
        EXPECT_NE(UnreadableFormatMessage().find(name), std::string::npos) << name;
}

TEST_F(AudioImportTest, OpusWrittenByLibsndfileGivesTheMelody) {
    const std::string source = Sox("48k.wav", "-r 48000");
    const std::string opus = dir.File("a.opus");
    {
        SF_INFO inInfo{};
        SNDFILE* in = sf_open(source.c_str(), SFM_READ, &inInfo);
        ASSERT_NE(in, nullptr);
        SF_INFO outInfo{};
        outInfo.samplerate = 48000;
        outInfo.channels = 1;
        outInfo.format = SF_FORMAT_OGG | SF_FORMAT_OPUS;
        SNDFILE* out = sf_open(opus.c_str(), SFM_WRITE, &outInfo);
        ASSERT_NE(out, nullptr) << sf_strerror(nullptr);
        std::vector<float> block(4096);
        for (sf_count_t got; (got = sf_readf_float(in, block.data(), 4096)) > 0;) sf_writef_float(out, block.data(), got);
        sf_close(out);
        sf_close(in);
    }
    TAudioImport import;
    ASSERT_EQ(import.Open(opus), 0) << import.LastError();
    EXPECT_EQ(DescribeSource(import.Source()), "48000 Hz, Opus");
    EXPECT_EQ(SustainedKeys(Import(opus)), kMelodyKeys);
}

// WAV files of the reference's own rate and width that the check refuses for their layout:
// the import copies their samples unchanged, so the notes are the reference's exactly.
TEST_F(AudioImportTest, RefusedLayoutsKeepTheSamplesExactly) {
    const WavFormat format{44100, 1, 16};
    const Bytes data = PcmData(format, referenceSamples);
    const Bytes pcmFmt = FmtPayload(format);
    ByteWriter extensible;  // WAVE_FORMAT_EXTENSIBLE: the PCM fields, 22 more bytes, the PCM GUID
    extensible.U16(0xFFFE).U16(1).U32(44100).U32(88200).U16(2).U16(16).U16(22).U16(16).U32(4);
    extensible.U32(1).U16(0x0000).U16(0x0010).Raw(Bytes{0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
    const Bytes listPayload = [] {
        ByteWriter w;
        w.Text("INFO").Chunk("ISFT", Bytes{'e', 'd', 'i', 't', 'o', 'r', 0, 0});
        return w.Take();
    }();
    const struct {
        const char* Name;
        Bytes Fmt;
        std::vector<std::pair<const char*, Bytes>> Before;  // chunks between format and data
    } cases[] = {
        {"extensible", extensible.Take(), {}},
        {"LIST", pcmFmt, {{"LIST", listPayload}}},
        {"bext and JUNK", pcmFmt, {{"bext", Bytes(602, 0x20)}, {"JUNK", Bytes(28, 0)}}},
    };
    const std::vector<int> referenceKeys = SustainedKeys(reference);
    const Bytes referenceBytes = ReadFileBytes(reference);
    for (const auto& c : cases) {
        ByteWriter w;
        w.Text("RIFF").U32(0).Text("WAVE").Chunk("fmt ", c.Fmt);
        for (const auto& [tag, payload] : c.Before) w.Chunk(tag, payload);
        w.Chunk("data", data);
        w.PutU32At(4, static_cast<std::uint32_t>(w.Size() - 8));
        const std::string input = dir.File("layout.wav");
        WriteFileBytes(input, w.Data());
        auto wav = std::make_unique<TWavProc>();
        EXPECT_EQ(ProbeWavFile(*wav, input), WavRejection::Layout) << c.Name;
        const std::string imported = Import(input);
        EXPECT_EQ(ReadFileBytes(imported), referenceBytes) << c.Name << ": the canonical copy of the same samples";
        EXPECT_EQ(SustainedKeys(imported), referenceKeys) << c.Name;
    }
}

TEST_F(AudioImportTest, ProbeTellsTheCheckFromTheImportCases) {
    auto wav = std::make_unique<TWavProc>();
    EXPECT_EQ(ProbeWavFile(*wav, reference), WavRejection::None);
    WriteFileBytes(dir.File("tiny.wav"), Bytes(200, 0));
    EXPECT_EQ(ProbeWavFile(*wav, dir.File("tiny.wav")), WavRejection::Size);
    EXPECT_EQ(ProbeWavFile(*wav, dir.File("missing.wav")), WavRejection::Size) << "the check's run reports it";
    WriteWav(dir.File("short.wav"), {44100, 1, 16}, std::vector<std::int32_t>(13230, 0));
    EXPECT_EQ(ProbeWavFile(*wav, dir.File("short.wav")), WavRejection::Length);
    EXPECT_EQ(host.BoxCount(), 0u);
}

TEST_F(AudioImportTest, ShortFlacGetsTheChecksTooShortMessage) {
    // 10 ms make no resampled output before the flush.
    for (const char* seconds : {"0.3", "0.01"}) {
        host.Clear();
        const std::string flac = dir.File("short.flac");
        const std::string command =
            std::string(RUVO_SOX) + " -q -n -r 48000 -b 24 " + flac + " synth " + seconds + " sine 440";
        ASSERT_EQ(std::system(command.c_str()), 0);
        const std::string imported = Import(flac);
        WavHead rec;
        auto wav = std::make_unique<TWavProc>();
        EXPECT_EQ(RunWaveStage(*wav, imported, rec, [](Tick) { return true; }), -1);
        EXPECT_EQ(host.Errors, std::vector<std::string>{"Recording time of this file must be longer than   0.550 sec."});
    }
}

// A FLAC stream written through a pipe announces no length; a float WAV cut short announces
// more than it holds, which the copy's header keeps for the check's notice.
TEST_F(AudioImportTest, LengthsThatTheHeaderDoesNotTell) {
    const std::string piped = dir.File("piped.flac");
    const std::string sox = std::string(RUVO_SOX) + " -q ";
    const std::string command = sox + reference + " -t raw - | " + sox +
                                "-t raw -r 44100 -b 16 -e signed -c 1 - -t flac - | cat > " + piped;
    ASSERT_EQ(std::system(command.c_str()), 0);
    TAudioImport import;
    ASSERT_EQ(import.Open(piped), 0);
    EXPECT_EQ(import.Source().Seconds(), 0.0);
    EXPECT_EQ(SustainedKeys(Import(piped)), kMelodyKeys);

    Bytes cut = ReadFileBytes(Sox("float.wav", "-e floating-point -b 32"));
    cut.resize(cut.size() / 2);
    WriteFileBytes(dir.File("float.wav"), cut);
    auto wav = std::make_unique<TWavProc>();
    WavHead head;
    ASSERT_EQ(wav->CheckWavFile(Import(dir.File("float.wav")), WavHead{}, head), 0);
    EXPECT_EQ(wav->ShortFileNotice(), "the header announces 2.6 s, the file holds 1.3 s; converting 1.3 s");
}

TEST_F(AudioImportTest, UnreadableFilesGiveLibsndfilesReason) {
    const std::string text = dir.File("notes.mp3");
    WriteFileBytes(text, Bytes(4000, 'a'));
    TAudioImport import;
    EXPECT_EQ(import.Open(text), -1);
    EXPECT_FALSE(import.LastError().empty());

    // A FLAC file whose audio frames are overwritten half way: the header still opens.
    const std::string flac = Sox("a.flac", "-r 48000 -b 24");
    Bytes bytes = ReadFileBytes(flac);
    for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 2000; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
    WriteFileBytes(flac, bytes);
    ASSERT_EQ(import.Open(flac), 0) << import.LastError();
    EXPECT_EQ(import.WriteWav(dir.File("corrupt.wav"), kNoLimit, nullptr), -1);
    EXPECT_NE(import.LastError().find("decode"), std::string::npos) << import.LastError();
}

TEST_F(AudioImportTest, WritesAtMostTheLimitAndStopsWhenCancelled) {
    const std::string input = Sox("a.flac", "-r 48000 -b 24");
    TAudioImport import;
    ASSERT_EQ(import.Open(input), 0);
    ASSERT_EQ(import.WriteWav(dir.File("cut.wav"), 30000, nullptr), 0);
    const Bytes cut = ReadFileBytes(dir.File("cut.wav"));
    EXPECT_EQ(cut.size(), 44u + 2 * 30000);
    EXPECT_EQ(cut[40] | cut[41] << 8 | cut[42] << 16, 2 * 30000) << "data size";
    int blocks = 0;
    EXPECT_EQ(import.WriteWav(dir.File("cancelled.wav"), kNoLimit, [&blocks] { return ++blocks < 2; }),
              kImportCancelled);
    EXPECT_EQ(blocks, 2);
}

// The two channels are resampled on two threads: each must land on its own side, whole,
// over several blocks. Left a sine, right silent, at 48000 per second.
TEST_F(AudioImportTest, ResampledChannelsKeepTheirSides) {
    const std::string flac = dir.File("sides.flac");
    const std::string command = std::string(RUVO_SOX) + " -q -D -n -r 48000 -b 24 -c 2 " + flac +
                                " synth 3 sine 440 sine 440 remix 1 2v0";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const Bytes wav = ReadFileBytes(Import(flac));
    ASSERT_EQ(wav.size(), 44u + 4 * 3 * 44100);
    std::int32_t loudestLeft = 0;
    std::int32_t loudestRight = 0;
    for (std::size_t at = 44; at + 4 <= wav.size(); at += 4) {
        loudestLeft = std::max(loudestLeft, std::abs(static_cast<std::int16_t>(wav[at] | wav[at + 1] << 8)));
        loudestRight = std::max(loudestRight, std::abs(static_cast<std::int16_t>(wav[at + 2] | wav[at + 3] << 8)));
    }
    EXPECT_GT(loudestLeft, 10000);
    EXPECT_EQ(loudestRight, 0);
}

TEST(ImportRules, RatesAndFormatList) {
    const std::pair<int, int> rates[] = {{8000, 22050},  {11025, 11025}, {16000, 22050}, {22050, 22050},
                                         {32000, 44100}, {44100, 44100}, {48000, 44100}, {96000, 44100}};
    for (const auto& [from, to] : rates) EXPECT_EQ(ImportedRate(from), to) << from;
    EXPECT_EQ(ImportedChannels(1), 1);
    EXPECT_EQ(ImportedChannels(6), 2);
    const std::string patterns = ImportNamePatterns();
    for (const char* p : {"*.wav", "*.flac", "*.ogg", "*.opus", "*.mp3", "*.aiff"})
        EXPECT_NE(patterns.find(p), std::string::npos) << p;
    EXPECT_EQ(ImportMimeTypes().find("audio/flac;"), std::string("audio/x-wav;audio/wav;audio/vnd.wave;").size());
}

}  // namespace
