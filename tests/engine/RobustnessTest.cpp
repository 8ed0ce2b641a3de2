#include "engine/Conversion.h"

#include "engine/TMakeMidi.h"
#include "engine/TNote.h"
#include "engine/WavProc.h"
#include "tests/testsupport/ByteWriter.h"
#include "tests/testsupport/MidiReader.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/TempDir.h"
#include "tests/testsupport/WavWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <set>

using namespace ruvo;
using namespace ruvo::testsupport;

namespace {

const std::set<std::string> kRejections{
    "File size smaller than 300bytes.\nOr can't read the file.",
    "This file isn't wav File.\nRIFF header couldn't find.",
    "This file isn't wav File.\nfmt header couldn't find.",
    "This file isn't PCM wav file.\nIts samples are encoded.",
    "Channel No. isn't find.\nThis file isn't wav file.",
    "Sample rate isn't 11025, 22050 or 44100 per second.\nIt must be above value.",
    "Bit rate per sample isn't 8 or 16.\nIt must be above value.",
    "This file isn't wav File.\ndata string couldn't find.",
    "Recording time of this file must be longer than   0.550 sec.",
    "Recording time of this file must be less than 6000 sec.",
};

class Generator {
public:
    // The sample bytes of every case are slices of one block of noise, made once: the check
    // reads only the header, and drawing every byte anew would cost more than the checks.
    explicit Generator(std::uint32_t seed) : m_random(seed), m_noise(2 * 44100 * 4) {
        for (auto& b : m_noise) b = static_cast<std::uint8_t>(m_random() >> 24);
    }

    std::uint32_t Below(std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(m_random); }
    std::uint8_t Byte() { return static_cast<std::uint8_t>(Below(256)); }

    // A file the check accepts: any of the twelve formats, 0.55 to 1.2 s of noise, sometimes
    // with extra chunks where the search still finds the tags.
    Bytes ValidWav() {
        const std::uint32_t rates[] = {11025, 22050, 44100};
        const WavFormat format{rates[Below(3)], static_cast<std::uint16_t>(1 + Below(2)),
                               static_cast<std::uint16_t>(8 * (1 + Below(2)))};
        const std::uint32_t frames = format.SampleRate * (55 + Below(66)) / 100;
        const std::size_t size = frames * format.BlockAlign();
        const auto first =
            m_noise.begin() + static_cast<std::ptrdiff_t>(Below(static_cast<std::uint32_t>(m_noise.size() - size)));
        const Bytes data(first, first + static_cast<std::ptrdiff_t>(size));
        Bytes fmt = FmtPayload(format);
        if (Below(4) == 0) fmt.resize(18, 0);
        ByteWriter w;
        w.Text("RIFF").U32(0).Text("WAVE");
        if (Below(4) == 0) w.Chunk("JUNK", Bytes(Below(6), 0x20));
        w.Chunk("fmt ", fmt);
        if (Below(4) == 0) w.Chunk("fact", Bytes(Below(10), 0x30));
        w.Text("data").U32(static_cast<std::uint32_t>(data.size())).Raw(data);
        w.PutU32At(4, static_cast<std::uint32_t>(w.Size() - 8));
        return w.Take();
    }

    // One of: nothing, a cut, random bytes in the header, an extreme 32-bit field, bytes
    // inserted into the header, a random data size.
    void Mutate(Bytes& bytes) {
        const std::uint32_t extremes[] = {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 300u, 11025u, 44100u};
        switch (Below(6)) {
            case 0: return;
            case 1: bytes.resize(Below(static_cast<std::uint32_t>(bytes.size()) + 1)); return;
            case 2:
                for (std::uint32_t k = 1 + Below(8); k > 0; --k) bytes[Below(80)] = Byte();
                return;
            case 3: {
                ByteWriter w;
                w.Raw(bytes);
                w.PutU32At(Below(77), Below(2) == 0 ? extremes[Below(8)] : static_cast<std::uint32_t>(m_random()));
                bytes = w.Take();
                return;
            }
            case 4: {
                const auto at = bytes.begin() + static_cast<std::ptrdiff_t>(Below(60));
                Bytes inserted(1 + Below(20));
                for (auto& b : inserted) b = Byte();
                bytes.insert(at, inserted.begin(), inserted.end());
                return;
            }
            default: {
                // The data size of a canonical layout, anything from nothing to 4 GiB.
                ByteWriter w;
                w.Raw(bytes);
                w.PutU32At(40, static_cast<std::uint32_t>(m_random()) >> Below(32));
                bytes = w.Take();
                return;
            }
        }
    }

    std::mt19937& Random() { return m_random; }

private:
    std::mt19937 m_random;
    Bytes m_noise;
};

// One case's file under a name of its own, removed afterwards: rewriting one file in place
// makes the file system flush it every time, which costs more than the checks.
struct CaseFile {
    CaseFile(const TempDir& dir, int i, const Bytes& bytes) : Path(dir.File("case" + std::to_string(i) + ".wav")) {
        WriteFileBytes(Path, bytes);
    }
    ~CaseFile() { std::filesystem::remove(Path); }
    CaseFile(const CaseFile&) = delete;
    CaseFile& operator=(const CaseFile&) = delete;

    std::string Path;
};

// Checks one generated file; returns its result and leaves the accepted head in `head`.
// Every outcome must be a clean acceptance or one known rejection message.
std::int32_t CheckCase(TWavProc& wav, const std::string& path, RecordingHost& host, WavHead& head, int i) {
    host.Clear();
    head = WavHead{};
    head.FileName = "caller";
    const std::int32_t result = wav.CheckWavFile(path, WavHead{}, head);
    if (result != 0) {
        EXPECT_EQ(result, -1) << "case " << i;
        EXPECT_EQ(host.Errors.size(), 1u) << "case " << i;
        if (!host.Errors.empty()) {
            EXPECT_EQ(kRejections.count(host.Errors[0]), 1u) << "case " << i << ": " << host.Errors[0];
        }
        EXPECT_EQ(head.FileName, "") << "case " << i;
        return result;
    }
    EXPECT_EQ(host.BoxCount(), 0u) << "case " << i;
    EXPECT_TRUE(head.Channels == 1 || head.Channels == 2) << "case " << i;
    EXPECT_TRUE(head.SampleRate == 11025 || head.SampleRate == 22050 || head.SampleRate == 44100) << "case " << i;
    EXPECT_TRUE(head.BitsPerSample == 8 || head.BitsPerSample == 16) << "case " << i;
    const double seconds = static_cast<double>(head.SampleCount) / head.SampleRate;
    EXPECT_GE(seconds, 0.55) << "case " << i;
    EXPECT_LE(seconds, 6000.0) << "case " << i;
    EXPECT_GE(head.DataOffset, 1) << "case " << i;
    EXPECT_LE(head.DataOffset, 25 + 41 + 9) << "case " << i << ": beyond the search range";
    return result;
}

// Seeded, so a failure repeats; the case number is in every message.
TEST(RobustnessTest, CheckWavFileSurvivesTruncatedAndCorruptedHeaders) {
    TempDir dir;
    ScopedRecordingHost host;
    Generator gen(20240611);
    auto wav = std::make_unique<TWavProc>();
    int accepted = 0;
    for (int i = 0; i < 3000 && !HasFailure(); ++i) {
        Bytes bytes = gen.ValidWav();
        gen.Mutate(bytes);
        const CaseFile file(dir, i, bytes);
        WavHead head;
        if (CheckCase(*wav, file.Path, host, head, i) == 0) ++accepted;
    }
    // The mix must exercise both outcomes.
    EXPECT_GT(accepted, 600);
    EXPECT_LT(accepted, 2700);
}

// Announced data past the end of a file reads as zeros, so every accepted header must survive
// the whole pipeline; the short ones are converted from start to end, with one engine object
// of each kind reused from run to run as the windows do.
TEST(RobustnessTest, AcceptedCorruptedFilesConvertFromStartToEnd) {
    TempDir dir;
    ScopedRecordingHost host;
    Generator gen(77);
    auto wav = std::make_unique<TWavProc>();
    auto note = std::make_unique<TNote>();
    const TickFn go = [](Tick) { return true; };
    int converted = 0;
    for (int i = 0; i < 3000 && converted < 200 && !HasFailure(); ++i) {
        Bytes bytes = gen.ValidWav();
        gen.Mutate(bytes);
        const CaseFile file(dir, i, bytes);
        const std::string& path = file.Path;
        WavHead head;
        if (CheckCase(*wav, path, host, head, i) != 0 || head.SampleCount > head.SampleRate * 7 / 10) continue;
        ++converted;
        const TempDir work;  // the run's work files go here and are removed with it
        WavHead rec;
        rec.TempoClass = static_cast<std::int32_t>(1 + gen.Below(3));
        ASSERT_EQ(RunWaveStage(*wav, path, rec, go), 0) << "case " << i;
        ASSERT_EQ(RunNoteStage(*note, rec, 1, go), 0) << "case " << i;
        rec.MidiFileName = work.File("out.mid");
        std::string name;
        TMakeMidi().ConvMidi(kMidiToUserFile, rec, 0, rec.FrameCount - 1, name);
        ASSERT_NO_THROW(ReadMidiFile(rec.MidiFileName)) << "case " << i;
        ASSERT_EQ(host.BoxCount(), 0u) << "case " << i;
    }
    EXPECT_EQ(converted, 200);
}

}  // namespace
