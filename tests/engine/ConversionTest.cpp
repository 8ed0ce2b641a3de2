#include "engine/Conversion.h"

#include "engine/FileIoError.h"
#include "engine/TMakeMidi.h"
#include "engine/TNote.h"
#include "engine/WavProc.h"
#include "engine/WorkFiles.h"
#include "tests/testsupport/MidiReader.h"
#include "tests/testsupport/RecordFiles.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/Signals.h"
#include "tests/testsupport/TempDir.h"
#include "tests/testsupport/WavWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

using namespace ruvo;
using namespace ruvo::testsupport;

namespace {

// Four tones of half a second: A4, C#5, E5, A5 (notes 36, 40, 43, 48; keys 69, 73, 76, 81).
const std::vector<int> kMelody{36, 40, 43, 48};

struct Converted {
    std::int32_t WaveResult = 0;
    std::int32_t NoteResult = 0;
    WavHead Rec;
    int StepTicks = 0;
    int FrameTicks = 0;
    std::vector<MidiNote> Notes;  // of the exported MIDI file
};

class ConversionTest : public ::testing::Test {
protected:
    // The whole conversion as the windows run it: WAV stage, fresh note stage, export of
    // columns 0 .. FrameCount - 2.
    Converted Convert(const std::string& wavPath, std::int32_t tempoClass = kTempoFast, double harmonicDefault = 0.0) {
        Converted c;
        c.Rec.TempoClass = tempoClass;
        c.Rec.HarmonicDefault = harmonicDefault;
        const TickFn count = [&c](Tick t) {
            ++(t == Tick::Step ? c.StepTicks : c.FrameTicks);
            return true;
        };
        auto wav = std::make_unique<TWavProc>();
        wav->SetWorkers(workers);
        c.WaveResult = RunWaveStage(*wav, wavPath, c.Rec, count);
        if (c.WaveResult != 0) return c;
        auto note = std::make_unique<TNote>();
        note->SetWorkers(workers);
        c.NoteResult = RunNoteStage(*note, c.Rec, 1, count);
        c.Rec.MidiFileName = dir.File("out.mid");
        std::string name;
        TMakeMidi().ConvMidi(kMidiToUserFile, c.Rec, 0, c.Rec.FrameCount - 1, name);
        const MidiFile midi = ReadMidiFile(c.Rec.MidiFileName);
        EXPECT_EQ(midi.Tracks.size(), 2u);
        if (midi.Tracks.size() == 2) c.Notes = TrackNotes(midi.Tracks[1]);
        return c;
    }

    std::string WriteSignal(const std::string& name, const WavFormat& format, const std::vector<double>& mono) {
        std::vector<std::int32_t> samples = Quantize(mono, format.Bits);
        if (format.Channels == 2) samples = Interleave(samples, samples);
        WriteWav(dir.File(name), format, samples);
        return dir.File(name);
    }

    static std::vector<int> Keys(const std::vector<MidiNote>& notes) {
        std::vector<int> keys;
        for (const MidiNote& n : notes) keys.push_back(n.Key);
        return keys;
    }

    // Each tone of kMelody is one note at its key, lasting about as long as the tone and
    // starting about one tone after the previous one; the first starts at tick 0.
    static void ExpectMelody(const std::vector<MidiNote>& notes, double secondsEach) {
        std::vector<int> expected;
        for (int n : kMelody) expected.push_back(NoteToMidiKey(n));
        ASSERT_EQ(Keys(notes), expected);
        // A tone covers secondsEach / 46.44 ms columns of 15 ticks; the frames where one tone
        // meets the next may belong to either, and smoothing may shift a note by two frames.
        const double ticks = secondsEach * 22050.0 / 1024.0 * 15.0;
        EXPECT_EQ(notes.front().StartTick, 0);
        for (const MidiNote& n : notes) {
            EXPECT_NEAR(static_cast<double>(n.EndTick - n.StartTick), ticks, 2 * 15.0 + 1) << "key " << n.Key;
            EXPECT_EQ(n.Velocity, &n == &notes.front() ? 127 : 100);
        }
        for (std::size_t i = 1; i < notes.size(); ++i)
            EXPECT_NEAR(static_cast<double>(notes[i].StartTick - notes[i - 1].StartTick), ticks, 2 * 15.0 + 1)
                << "onset of key " << notes[i].Key;
    }

    TempDir dir;
    ScopedRecordingHost host;
    std::int32_t workers = 0;  // threads of the spectrum pass; 0: as many as the machine has
};

struct MelodyCase {
    const char* Name;
    WavFormat Format;
    std::int32_t TempoClass;
};

class ConvertMelody : public ConversionTest, public ::testing::WithParamInterface<MelodyCase> {};

TEST_P(ConvertMelody, GivesOneNotePerTone) {
    const MelodyCase& m = GetParam();
    const double amplitude = m.Format.Bits == 8 ? 100.0 : 12000.0;
    // Tones of 11 frames (0.51 s), the last one fading out over its last 512 samples, then 11
    // frames of silence: the smoothing steps lag by up to five frames, and whatever lies in
    // the last frames never reaches the table. The fade keeps the first silent frames truly
    // silent: the few last samples of an abrupt end (or half of the last one, which the
    // 11025 interpolation carries over) have a flat spectrum, which the relative threshold
    // turns into notes everywhere.
    const std::size_t each = 11 * 1024 * m.Format.SampleRate / 22050;
    std::vector<double> signal = NoteSequence(kMelody, each, m.Format.SampleRate, amplitude);
    for (std::size_t i = 0; i < 512; ++i) signal[signal.size() - 1 - i] *= static_cast<double>(i) / 512.0;
    Append(signal, Silence(each));
    const std::string wav = WriteSignal("melody.wav", m.Format, signal);
    const Converted c = Convert(wav, m.TempoClass);
    ASSERT_EQ(c.WaveResult, 0) << (host.Errors.empty() ? "" : host.Errors.front());
    ASSERT_EQ(c.NoteResult, 0);
    EXPECT_EQ(c.StepTicks, kWaveStageSteps + kNoteStageSteps);
    // Whole 1024-sample blocks of the file as recorded, at 22050 per second.
    const std::int32_t blocks = static_cast<std::int32_t>(signal.size()) >> 10;
    const std::int32_t frames = m.Format.SampleRate == 11025   ? 2 * blocks
                                : m.Format.SampleRate == 44100 ? blocks / 2
                                                               : blocks;
    EXPECT_EQ(c.Rec.FrameCount, frames);
    ExpectMelody(c.Notes, 11 * 1024 / 22050.0);
    EXPECT_EQ(host.BoxCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Formats, ConvertMelody,
                         ::testing::Values(MelodyCase{"Mono16Bit22050Fast", {22050, 1, 16}, kTempoFast},
                                           MelodyCase{"Mono16Bit22050Medium", {22050, 1, 16}, kTempoMedium},
                                           MelodyCase{"Mono16Bit22050Slow", {22050, 1, 16}, kTempoSlow},
                                           MelodyCase{"Stereo16Bit44100", {44100, 2, 16}, kTempoFast},
                                           MelodyCase{"Mono8Bit11025", {11025, 1, 8}, kTempoFast}),
                         [](const ::testing::TestParamInfo<MelodyCase>& row) { return std::string(row.param.Name); });

TEST_F(ConversionTest, NoteTableOfAToneHoldsOnlyItsNote) {
    const std::string wav = WriteSignal("tone.wav", {22050, 1, 16}, SineAtNote(36, 22050, 22050.0, 12000.0));
    const Converted c = Convert(wav);
    ASSERT_EQ(c.WaveResult, 0);
    const Table table = ReadTable(c.Rec.NoteIntenFileName, 72);
    ASSERT_EQ(table.size(), static_cast<std::size_t>(c.Rec.FrameCount));
    for (std::size_t f = 1; f + 1 < table.size(); ++f)
        for (std::size_t n = 0; n < 72; ++n) ASSERT_EQ(table[f][n] > 0.0, n == 36) << "frame " << f << " note " << n;
    const Table raw = ReadTable(c.Rec.RawNoteFileName, 72);
    EXPECT_EQ(raw.size(), table.size()) << "\"ioc\" is aligned with the spectrum";
}

TEST_F(ConversionTest, SilenceGivesNoNotes) {
    const std::string wav = WriteSignal("silence.wav", {22050, 1, 16}, Silence(22050));
    const Converted c = Convert(wav, kTempoSlow);
    ASSERT_EQ(c.WaveResult, 0);
    EXPECT_TRUE(c.Notes.empty());
    EXPECT_EQ(FileSize(c.Rec.MidiFileName), 62u);
}

// 22 frames of noise of up to `lsb` (a dithered "silence"), then A4: within 2 LSB the lead-in's
// frames give no notes, found one table lag later in the smoothed classes; above, they do.
class QuietLeadIn : public ConversionTest, public ::testing::WithParamInterface<std::tuple<std::int32_t, double>> {};

TEST_P(QuietLeadIn, GivesNotesOnlyAboveTwoLsb) {
    const auto [tempoClass, lsb] = GetParam();
    std::vector<double> signal = Noise(22 * 1024, lsb + 0.49, 7);
    Append(signal, SineAtNote(36, 11 * 1024, 22050.0, 12000.0));
    const Table table =
        ReadTable(Convert(WriteSignal("lead.wav", {22050, 1, 16}, signal), tempoClass).Rec.NoteIntenFileName, 72);
    const std::size_t lag = tempoClass == kTempoFast ? 0 : tempoClass == kTempoMedium ? 3 : 5;
    ASSERT_GT(table.size(), 25 + lag);
    std::size_t leadCells = 0;
    for (std::size_t f = lag; f < 22 + lag; ++f)
        leadCells +=
            static_cast<std::size_t>(std::count_if(table[f].begin(), table[f].end(), [](double v) { return v > 0.0; }));
    EXPECT_EQ(leadCells == 0, lsb <= 2.0) << leadCells << " sounding cells in the lead-in";
    EXPECT_GT(table[25 + lag][36], 0.0) << "the tone keeps its note";
}

INSTANTIATE_TEST_SUITE_P(Levels, QuietLeadIn,
                         ::testing::Values(std::tuple{kTempoFast, 2.0}, std::tuple{kTempoMedium, 2.0},
                                           std::tuple{kTempoSlow, 2.0}, std::tuple{kTempoFast, 3.0}));

TEST_F(ConversionTest, HarmonicsAreErasedUnlessKept) {
    // Note 24 (220 Hz) with its octave 0.22 below in log magnitude (amplitude 0.6): the
    // threshold keeps both peaks, the harmonic rule erases the octave.
    const std::vector<double> amplitudes{10000.0, 6000.0};
    const std::string wav =
        WriteSignal("tone.wav", {22050, 1, 16}, HarmonicTone(NoteHz(24), 22050, 22050.0, amplitudes));
    const Converted erased = Convert(wav, kTempoFast, 0.0);
    EXPECT_EQ(Keys(erased.Notes), std::vector<int>{NoteToMidiKey(24)});
    const Converted kept = Convert(wav, kTempoFast, 1.0);
    EXPECT_EQ(Keys(kept.Notes), (std::vector<int>{NoteToMidiKey(24), NoteToMidiKey(36)}));
}

TEST_F(ConversionTest, SlowModeShortensTheTableButNotTheDocument) {
    const std::string wav = WriteSignal("tone.wav", {22050, 1, 16}, SineAtNote(40, 22050, 22050.0, 12000.0));
    const Converted c = Convert(wav, kTempoSlow);
    ASSERT_EQ(c.WaveResult, 0);
    EXPECT_EQ(c.Rec.FrameCount, 21);
    EXPECT_EQ(ReadTable(c.Rec.NoteIntenFileName, 72).size(), 20u) << "step 12 leaves N - 1 frames";
    EXPECT_EQ(Keys(c.Notes), std::vector<int>{NoteToMidiKey(40)});
}

TEST_F(ConversionTest, WavFileMadeBySoxIsConverted) {
    if (std::system("sox --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
    // Three tones, 16-bit stereo at 44100 and 8-bit mono at 11025, joined by sox.
    const std::string tones[] = {"440", "554.365", "659.255"};
    for (const char* format : {"-r 44100 -b 16 -c 2", "-r 11025 -b 8 -e unsigned-integer -c 1"}) {
        std::string parts;
        for (std::size_t i = 0; i < std::size(tones); ++i) {
            const std::string part = dir.File("part" + std::to_string(i) + ".wav");
            const std::string command =
                std::string("sox -n ") + format + " '" + part + "' synth 0.5 sine " + tones[i] + " gain -6";
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
            parts += " '" + part + "'";
        }
        const std::string joined = dir.File("sox.wav");
        const std::string command = "sox" + parts + " '" + joined + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;

        const Converted c = Convert(joined);
        ASSERT_EQ(c.WaveResult, 0) << format << ": " << (host.Errors.empty() ? "" : host.Errors.front());
        EXPECT_EQ(Keys(c.Notes), (std::vector<int>{69, 73, 76})) << format;
    }
}

TEST_F(ConversionTest, StagesReportEveryStepAndFrame) {
    // 1 s at 22050: 21 frames, so n + 1 = 22 analysed plus the opening tick; the sample pass
    // and the note steps add a few of their own.
    const std::string wav = WriteSignal("tone.wav", {22050, 1, 16}, SineAtNote(36, 22050, 22050.0, 12000.0));
    const Converted c = Convert(wav);
    EXPECT_EQ(c.StepTicks, kWaveStageSteps + kNoteStageSteps);
    EXPECT_GE(c.FrameTicks, 21 + 2);
}

TEST_F(ConversionTest, CancelInsideANoteStepStopsTheStage) {
    // 3 s: every note step is long enough to let events run before it ends.
    const std::string wav = WriteSignal("tone.wav", {22050, 1, 16}, SineAtNote(36, 3 * 22050, 22050.0, 12000.0));
    WavHead work;
    auto proc = std::make_unique<TWavProc>();
    ASSERT_EQ(RunWaveStage(*proc, wav, work, [](Tick) { return true; }), 0);
    auto note = std::make_unique<TNote>();
    int steps = 0;
    const std::int32_t result = RunNoteStage(*note, work, 1, [&](Tick kind) {
        if (kind == Tick::Step) ++steps;
        return kind == Tick::Step;
    });
    EXPECT_EQ(result, kCancelled);
    EXPECT_LT(steps, kNoteStageSteps);
    DeleteWorkFiles(work);
}

TEST_F(ConversionTest, CancelledRunsNameTheirFilesForDeletion) {
    const std::string wav = WriteSignal("tone.wav", {22050, 1, 16}, SineAtNote(36, 22050, 22050.0, 12000.0));
    for (int cancelAt = 1; cancelAt <= 8; ++cancelAt) {
        const WavHead keep;
        WavHead work;
        int ticks = 0;
        auto proc = std::make_unique<TWavProc>();
        const std::int32_t result = RunWaveStage(*proc, wav, work, [&](Tick) { return ++ticks < cancelAt; });
        EXPECT_EQ(result, kCancelled) << "cancel at tick " << cancelAt;
        DeleteRunFiles(work, keep);
        EXPECT_EQ(dir.FileNames(), std::vector<std::string>{"tone.wav"}) << "cancel at tick " << cancelAt;
    }

    // Cancelling the note stage: its files are named in the record as soon as they exist.
    WavHead work;
    auto proc = std::make_unique<TWavProc>();
    ASSERT_EQ(RunWaveStage(*proc, wav, work, [](Tick) { return true; }), 0);
    const WavHead afterWave = work;
    auto note = std::make_unique<TNote>();
    int steps = 0;
    EXPECT_EQ(RunNoteStage(*note, work, 1, [&](Tick) { return ++steps < 3; }), kCancelled);
    EXPECT_EQ(steps, 3);
    DeleteRunFiles(work, afterWave);
    DeleteWorkFiles(work);
    EXPECT_EQ(dir.FileNames(), std::vector<std::string>{"tone.wav"});
    EXPECT_EQ(work.FileName, wav) << "the WAV file is not a work file";
}

TEST_F(ConversionTest, StagesWithoutWorkFilesEndWithFileIoError) {
    // No temporary folder: the names stay empty, the opens show their messages and the first
    // transfer on the unopened file throws; nothing may be read or written elsewhere.
    const std::string wav = WriteSignal("tone.wav", {22050, 1, 16}, SineAtNote(36, 22050, 22050.0, 12000.0));
    WavHead work;
    auto proc = std::make_unique<TWavProc>();
    ASSERT_EQ(RunWaveStage(*proc, wav, work, [](Tick) { return true; }), 0);
    {
        const ScopedEnv missing("TMPDIR", dir.File("does-not-exist").c_str());
        WavHead again;
        auto other = std::make_unique<TWavProc>();
        EXPECT_THROW(RunWaveStage(*other, wav, again, [](Tick) { return true; }), FileIoError);
        EXPECT_FALSE(host.Messages.empty());
        EXPECT_TRUE(host.Messages.front().starts_with("GetFileName error.\n"));

        host.Clear();
        auto note = std::make_unique<TNote>();
        EXPECT_THROW(RunNoteStage(*note, work, 1, [](Tick) { return true; }), FileIoError);
        EXPECT_FALSE(host.Messages.empty());
        EXPECT_TRUE(host.Messages.front().starts_with("GetFileName error.\n"));
        EXPECT_TRUE(work.NoteIntenFileName.empty());
    }
    DeleteWorkFiles(work);
    EXPECT_EQ(dir.FileNames(), std::vector<std::string>{"tone.wav"});
}

TEST_F(ConversionTest, RejectedFileReportsItsMessage) {
    Bytes bytes(400, 0);
    WriteFileBytes(dir.File("bad.wav"), bytes);
    WavHead work;
    auto proc = std::make_unique<TWavProc>();
    EXPECT_EQ(RunWaveStage(*proc, dir.File("bad.wav"), work, [](Tick) { return true; }), -1);
    EXPECT_EQ(host.Errors, std::vector<std::string>{"This file isn't wav File.\nRIFF header couldn't find."});
    EXPECT_EQ(dir.FileNames(), std::vector<std::string>{"bad.wav"}) << "nothing made";
}

TEST_F(ConversionTest, DeleteWorkFilesRemovesEveryWorkFileButTheUsersFiles) {
    const std::string wav = WriteSignal("tone.wav", {22050, 1, 16}, SineAtNote(36, 22050, 22050.0, 12000.0));
    Converted c = Convert(wav);
    ASSERT_EQ(c.WaveResult, 0);
    EXPECT_GE(WorkFileNames(c.Rec).size(), 9u);
    DeleteWorkFiles(c.Rec);
    EXPECT_EQ(dir.FileNames(), (std::vector<std::string>{"out.mid", "tone.wav"}));
    EXPECT_TRUE(c.Rec.NoteIntenFileName.empty());
    EXPECT_TRUE(c.Rec.IntenFileName.empty());
    EXPECT_EQ(c.Rec.FileName, wav);

    // A recording made by the player is a work file too.
    DeleteWorkFiles(c.Rec, true);
    EXPECT_EQ(dir.FileNames(), std::vector<std::string>{"out.mid"});
}

}  // namespace

// The spectrum pass hands its frames to its threads in batches: the spectrum file and the MIDI
// bytes must not depend on how many threads computed them, nor on a pass cancelled before.
class WorkerCounts : public ConversionTest, public ::testing::WithParamInterface<std::int32_t> {
protected:
    // Noise over a melody: no two frames alike, several batches and a short last one.
    std::string NoisyMelody() {
        std::vector<double> signal = NoteSequence(kMelody, 60 * 1024, 22050.0, 9000.0);
        const std::vector<double> noise = Noise(signal.size(), 300.0, 7);
        for (std::size_t i = 0; i < signal.size(); ++i) signal[i] += noise[i];
        return WriteSignal("noisy.wav", {22050, 1, 16}, signal);
    }
    static std::vector<char> Bytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
};

TEST_P(WorkerCounts, GiveTheBytesOfOneThreadAlsoAfterACancel) {
    const std::string wav = NoisyMelody();
    workers = 1;
    const Converted one = Convert(wav, kTempoSlow);
    ASSERT_EQ(one.NoteResult, 0);
    const std::vector<char> spectrum = Bytes(one.Rec.IntenFileName);
    const std::vector<char> midi = Bytes(one.Rec.MidiFileName);
    ASSERT_EQ(spectrum.size(), sizeof(double) * kSpectrumBins * (static_cast<std::size_t>(one.Rec.FrameCount) + 1));

    // A cancel in the middle of the threaded pass, then a whole run on the same object.
    auto proc = std::make_unique<TWavProc>();
    proc->SetWorkers(GetParam());
    WavHead cancelled;
    int frames = 0;
    EXPECT_EQ(RunWaveStage(*proc, wav, cancelled, [&](Tick t) { return t == Tick::Step || ++frames < 100; }),
              kCancelled);
    DeleteRunFiles(cancelled, WavHead{});
    WavHead again;
    ASSERT_EQ(RunWaveStage(*proc, wav, again, [](Tick) { return true; }), 0);
    EXPECT_EQ(Bytes(again.IntenFileName), spectrum);

    workers = GetParam();
    const Converted many = Convert(wav, kTempoSlow);
    EXPECT_EQ(Bytes(many.Rec.IntenFileName), spectrum);
    EXPECT_EQ(Bytes(many.Rec.MidiFileName), midi);
    EXPECT_EQ(many.FrameTicks, one.FrameTicks);
}

INSTANTIATE_TEST_SUITE_P(Threads, WorkerCounts, ::testing::Values(2, 3, kMaxWorkers));
