#include "cli/TConverter.h"

#include "cli/ConsoleHost.h"
#include "cli/Interrupt.h"
#include "cli/TProgressBar.h"
#include "engine/Conversion.h"
#include "engine/FileIoError.h"
#include "engine/TMakeMidi.h"
#include "engine/TNote.h"
#include "engine/WavProc.h"
#include "engine/UFile.h"
#include "engine/WorkFiles.h"
#include "import/AudioImport.h"
#include "import/ImportFormats.h"
#include "platform/posix/PendingFile.h"
#include "platform/posix/WorkFolder.h"
#include "score/MusicXmlWriter.h"
#include "score/Score.h"
#include "score/ScoreMidiWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ruvo {
namespace fs = std::filesystem;
namespace {

// Turns the stage ticks into a percentage. Measured on long files, the sample preparation, the
// spectrum frames and the note stage take about a third of the time each.
class ProgressModel {
public:
    void SetFrames(std::int64_t frames) { m_frames = frames; }
    void Count(Tick tick) {
        // Frame ticks also come from inside the longer steps; only those of the spectrum pass,
        // which follows the last preparation step, count as frames.
        if (tick == Tick::Step)
            ++m_steps;
        else if (m_steps == kWaveStageSteps - 1)
            ++m_framesDone;
    }
    int Percent() const {
        constexpr double kFrameUnits = 12.0;  // all spectrum frames together, in step units
        constexpr double kTotal = kWaveStageSteps + kNoteStageSteps + kFrameUnits;
        double units = m_steps;
        if (m_frames > 0)
            units += kFrameUnits * std::min(1.0, static_cast<double>(m_framesDone) / static_cast<double>(m_frames));
        return static_cast<int>(100.0 * units / kTotal);
    }

private:
    std::int64_t m_frames = 0;
    std::int64_t m_framesDone = 0;
    std::int32_t m_steps = 0;
};

void AddNames(std::vector<std::string>& names, const WavHead& rec) {
    for (std::string& name : WorkFileNames(rec))
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(std::move(name));
}

// What the header check read, for --verbose.
std::string DescribeInput(const WavHead& head) {
    char text[160];
    std::snprintf(text, sizeof text, "read %d samples/sec, %d bits/sample, %s, %.3f s (%d samples per channel)",
                  head.SampleRate, head.BitsPerSample, head.Channels == 1 ? "mono" : "stereo",
                  static_cast<double>(head.SampleCount) / head.SampleRate, head.SampleCount);
    return text;
}

// The analysis that ran, for --verbose.
std::string DescribeAnalysis(const WavHead& rec) {
    const char* tempo = rec.TempoClass == kTempoFast ? "fast" : rec.TempoClass == kTempoMedium ? "medium" : "slow";
    char text[200];
    std::snprintf(text, sizeof text, "%s analysis, tempo %s, threshold %g, harmonics %s: %d frames of %.2f ms",
                  rec.Mode == AnalysisMode::Melody ? "melody" : rec.Mode == AnalysisMode::Chords ? "chords" : "classic", tempo, rec.ThresholdDefault,
                  rec.HarmonicDefault > 0.0 ? "kept" : "erased", rec.FrameCount,
                  1000.0 * kFrameSamples / kNormalRate);
    return text;
}

}  // namespace

TConverter::TConverter(const ConvertOptions& options, ConsoleHost& host, TProgressBar& bar, TWorkFolder* workFolder)
    : m_options(options), m_host(host), m_bar(bar), m_workFolder(workFolder) {}

WavHead TConverter::StartRecord() const {
    WavHead rec;
    rec.ThresholdDefault = m_options.Threshold;
    rec.HarmonicDefault = m_options.KeepHarmonics ? 1.0 : 0.0;
    rec.TempoClass = m_options.TempoClass;
    rec.Mode = m_options.Mode;
    return rec;
}

TConverter::Result TConverter::ConvertFile(const fs::path& input, const fs::path& output) {
    m_host.SetInput(input.string());

    std::error_code error;
    const fs::file_status status = fs::status(input, error);
    if (!fs::exists(status)) {
        m_host.Report("no such file");
        return Result::Failed;
    }
    if (!fs::is_regular_file(status)) {
        m_host.Report(kNotRegularFile);
        return Result::Failed;
    }
    if (fs::is_directory(output, error)) {
        m_host.Report("cannot write " + output.string() + ": it is a folder");
        return Result::Failed;
    }
    if (fs::exists(output, error) && fs::equivalent(input, output, error)) {
        m_host.Report((m_options.WriteScore ? "the score " : "the MIDI file ") + output.string() +
                      " would replace the input; choose another name with -o or -d");
        return Result::Failed;
    }

    // Made before the conversion, so an unwritable destination fails at once.
    TPendingFile pending;
    if (const std::string reason = pending.Create(output); !reason.empty()) {
        m_host.Report("cannot write " + output.string() + ": " + reason);
        return Result::Failed;
    }

    WavHead rec = StartRecord();
    auto wav = std::make_unique<TWavProc>();
    auto note = std::make_unique<TNote>();
    TMakeMidi midi;
    midi.SetKeepLeadingSilence(m_options.KeepLeadingSilence);

    ProgressModel progress;
    bool framesKnown = false;
    std::string failure;  // told after the clean-up, which a failing write must not prevent
    const TickFn tick = [&](Tick kind) {
        progress.Count(kind);
        if (!framesKnown && kind == Tick::Step) {
            // After the header check the record tells how many frames the spectrum has.
            WavHead head;
            wav->GetWavHead(head);
            if (head.SampleRate > 0) {
                progress.SetFrames(static_cast<std::int64_t>(head.SampleCount) * kNormalRate / head.SampleRate /
                                   kFrameSamples);
                framesKnown = true;
                if (m_options.Verbose) m_host.Report(DescribeInput(head));
                if (const std::string shortFile = wav->ShortFileNotice(); !shortFile.empty()) m_host.Report(shortFile);
                // A downbeat the recording does not reach fails the file before its analysis.
                failure = DownbeatProblem(head);
                if (!failure.empty()) return false;
            }
        }
        m_bar.Show(progress.Percent());
        return InterruptSignal() == 0;
    };

    m_bar.Start(input.string());
    Result result = Result::Failed;
    std::string importName;
    try {
        std::int32_t stage = m_options.Strict ? 0 : ImportRefusedFile(input, *wav, importName);
        if (stage == 0) stage = RunWaveStage(*wav, importName.empty() ? input.string() : importName, rec, tick);
        if (stage == 0) stage = RunNoteStage(*note, rec, 1, tick);
        if (stage == kCancelled) {
            result = failure.empty() ? Result::Interrupted : Result::Failed;
        } else if (stage == 0) {
            if (m_options.Verbose) m_host.Report(DescribeAnalysis(rec));
            std::string midiName;
            if (m_options.WriteScore) {
                WavHead head;
                wav->GetWavHead(head);
                if (WriteScoreFile(input, rec, head, pending.WritePath(), output, failure) == 0) midiName = output.string();
            } else {
                rec.MidiFileName = pending.WritePath();
                midiName = rec.MidiFileName;
                midi.ConvMidi(kMidiToUserFile, rec, 0, rec.FrameCount - 1, midiName);
            }
            if (!failure.empty()) {
                result = Result::Failed;
            } else if (InterruptSignal() != 0) {
                result = Result::Interrupted;
            } else if (!midiName.empty()) {
                if (const std::string reason = pending.Commit(); reason.empty())
                    result = Result::Converted;
                else
                    failure = "cannot write " + output.string() + ": " + reason;
            }
        }
    } catch (const FileIoError& e) {
        // The file written through the unnamed output's handle is named after the target.
        const std::string path = e.Path() == pending.WritePath() ? output.string() : e.Path();
        failure = "cannot " + e.Operation() + " " + path + ": " + e.Reason();
    } catch (const std::bad_alloc&) {
        failure = "out of memory";
    } catch (const std::exception& e) {
        failure = e.what();
    }
    m_bar.Clear();

    // The record names the run's files; the engine objects' own copies also name those made
    // just before a failure cut the hand-over short.
    std::vector<std::string> names;
    AddNames(names, rec);
    WavHead wavRec;
    wav->GetWavHead(wavRec);
    AddNames(names, wavRec);
    AddNames(names, note->Params());
    if (!importName.empty()) names.insert(names.begin(), importName);
    if (m_options.KeepWorkFiles) {
        // Out of the private work folder, which goes when the converter ends.
        for (const std::string& name : names) {
            const std::string kept = m_workFolder != nullptr ? m_workFolder->Keep(name) : name;
            std::printf("%s\n", kept.c_str());
        }
        std::fflush(stdout);
    } else {
        DeleteWorkFiles(rec);
        DeleteWorkFiles(wavRec);
        WavHead noteRec = note->Params();
        DeleteWorkFiles(noteRec);
        if (!importName.empty()) std::remove(importName.c_str());
    }
    if (!failure.empty()) m_host.Report(failure);
    if (result == Result::Converted && m_options.Verbose && m_options.WriteScore) {
        m_host.Report(m_scoreSummary + " written to " + output.string());
    } else if (result == Result::Converted && m_options.Verbose) {
        m_host.Report(std::to_string(midi.NotesWritten()) + (midi.NotesWritten() == 1 ? " note" : " notes") +
                      " written to " + output.string());
    } else if (result == Result::Converted && m_bar.Enabled()) {
        m_host.Report("written " + output.string());
    }
    return result;
}

std::string TConverter::DownbeatProblem(const WavHead& head) const {
    if (!m_options.WriteScore || !m_options.Choices.DownbeatSeconds) return {};
    const double seconds = head.SampleRate > 0 ? static_cast<double>(head.SampleCount) / head.SampleRate : 0.0;
    const std::string problem = CheckDownbeat(*m_options.Choices.DownbeatSeconds, seconds);
    if (problem.empty()) return {};
    char text[64];
    std::snprintf(text, sizeof text, " (--downbeat %g; the recording lasts %.3f s)", *m_options.Choices.DownbeatSeconds,
                  seconds);
    return problem.substr(0, problem.size() - 1) + text;
}

std::int32_t TConverter::WriteScoreFile(const fs::path& input, const WavHead& rec, const WavHead& head,
                                       const std::string& writePath, const fs::path& output, std::string& failure) {
    failure = DownbeatProblem(head);
    if (!failure.empty()) return -1;
    std::vector<TimedNote> notes;
    std::string error;
    if (ReadNoteTable(rec.NoteIntenFileName, rec.FrameCount, notes, error) != 0) {
        failure = error;
        return -1;
    }
    Score score = BuildScore(notes, m_options.Choices);
    score.Title = input.stem().string();
    if (score.Notes.empty()) m_host.Report("no notes found: the score holds only rests");
    const std::string bytes = IsScoreMidiPath(output) ? ScoreMidiWriter().Bytes(score) : MusicXmlWriter().Text(score);
    std::FILE* file = std::fopen(writePath.c_str(), "wb");
    const bool written = file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const int closed = file != nullptr ? std::fclose(file) : -1;
    if (!written || closed != 0) {
        failure = "cannot write " + output.string() + ": " + std::strerror(errno);
        return -1;
    }
    char summary[160];
    std::snprintf(summary, sizeof summary, "%zu %s, %zu tempo %s from %.1f bpm, %d/%d, key %+d%s", score.Notes.size(),
                  score.Notes.size() == 1 ? "note" : "notes", score.Tempo.size(),
                  score.Tempo.size() == 1 ? "mark" : "marks", score.Tempo.front().Bpm, score.TimeSignature.Beats,
                  score.TimeSignature.BeatType, score.Key.Fifths, score.Key.Minor ? " minor" : " major");
    m_scoreSummary = summary;
    return 0;
}

std::int32_t TConverter::ImportRefusedFile(const fs::path& input, TWavProc& wav, std::string& importName) {
    if (ProbeWavFile(wav, input.string()) != WavRejection::Layout) return 0;
    TAudioImport import;
    // A file of a known format that cannot be read goes to the check, which says why it refuses
    // it; a file of no known format gets the list of those that are read.
    if (import.Open(input.string()) != 0) {
        if (!import.FormatUnknown()) return 0;
        m_host.Report(UnreadableFormatMessage());
        return -1;
    }
    const AudioSource& source = import.Source();
    if (source.Seconds() > kDefaultMaxTime) {
        m_host.Report(TooLongMessage(kDefaultMaxTime));
        return -1;
    }
    GetTempName("imp", importName);
    if (importName.empty()) return -1;
    if (!m_options.Quiet) m_host.Report(DescribeSource(source) + "; analysed as " + DescribeImported(source));
    // A second beyond the longest accepted time, so that the check refuses a file whose
    // length was not known ahead with its own message.
    const auto maxFrames = static_cast<std::int64_t>(kDefaultMaxTime + 1.0) * ImportedRate(source.SampleRate);
    const std::int32_t written = import.WriteWav(importName, maxFrames, [this] {
        m_bar.Show(0);
        return InterruptSignal() == 0;
    });
    if (written == kImportCancelled) return kCancelled;
    if (written != 0) {
        m_host.Report(import.LastError());
        return -1;
    }
    return 0;
}

}  // namespace ruvo
