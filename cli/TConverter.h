#pragma once
// TConverter: converts one WAV file into a MIDI file with the same engine calls as the main
// window (WAV stage, fresh note stage, export of columns 0 .. FrameCount-2), then deletes the
// run's work files whatever happened. Other sound files are imported into a WAV work file
// first. Owned by the converter's main; one thread.

#include "cli/ConvertOptions.h"

#include <filesystem>
#include <string>

namespace ruvo {

class ConsoleHost;
class TProgressBar;
class TWavProc;
class TWorkFolder;

class TConverter {
public:
    enum class Result { Converted, Failed, Interrupted };

    // `workFolder`: the private work folder, out of which --keep-work-files moves the files
    // (null: they stay where they are).
    TConverter(const ConvertOptions& options, ConsoleHost& host, TProgressBar& bar, TWorkFolder* workFolder);

    // Messages go to the host, prefixed with `input` as given. The MIDI file is written as an
    // unnamed file beside `output` and put in place when complete, so a failed or interrupted
    // run never leaves a partial or stray file nor damages an existing one.
    Result ConvertFile(const std::filesystem::path& input, const std::filesystem::path& output);

    // The record a conversion starts from: the main window's start values with the options.
    WavHead StartRecord() const;

private:
    // Without --strict, a file that the WAV check refuses for its layout and libsndfile reads
    // is imported into a new "imp" work file, named in `importName`. 0: go on with the
    // analysis (of `importName` when set, else of the input as it is); -1: failed, said;
    // kCancelled: interrupted.
    std::int32_t ImportRefusedFile(const std::filesystem::path& input, TWavProc& wav, std::string& importName);

    // With --score and --downbeat: why the recording described by `head` cannot take the
    // downbeat (it does not reach it); empty when it can.
    std::string DownbeatProblem(const WavHead& head) const;

    // With --score: the score of the note table, written to `writePath` (the pending file of
    // `output`). 0: written; -1: `failure` says why.
    std::int32_t WriteScoreFile(const std::filesystem::path& input, const WavHead& rec, const WavHead& head,
                                const std::string& writePath, const std::filesystem::path& output, std::string& failure);

    const ConvertOptions& m_options;
    ConsoleHost& m_host;
    TProgressBar& m_bar;
    TWorkFolder* m_workFolder;
    std::string m_scoreSummary;  // what the last score holds, for --verbose
};

}  // namespace ruvo
