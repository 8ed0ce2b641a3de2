#pragma once
// The converter's command line: the options, the inputs and the MIDI file each input becomes.
// Parsed once at start from one table of options, which also makes the --help text; plain
// values, no I/O.

#include "engine/WavHead.h"
#include "score/Score.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ruvo {

inline constexpr const char* kConverterName = "ruvo-convert";
inline constexpr const char* kConverterVersion = "ruvo-convert 2.00";

// Accepted threshold margins, log10 units below the frame's loudest peak. The spectrum's
// values lie between 0 and about 4.3 (a full-scale square wave), so 5 already keeps every peak.
inline constexpr double kMinThreshold = 0.0;
inline constexpr double kMaxThreshold = 5.0;

struct ConvertOptions {
    std::int32_t TempoClass = kTempoFast;
    double Threshold = 0.4;  // margin below the frame's loudest peak, log10 units
    bool KeepHarmonics = false;
    bool KeepWorkFiles = false;
    bool Quiet = false;
    bool Verbose = false;
    bool Strict = false;  // only what the WAV check accepts: no import of other files
    AnalysisMode Mode = AnalysisMode::Classic;
    bool KeepLeadingSilence = false;
    // --score: a score (MusicXML, or MIDI in musical time by the -o extension) instead of the
    // frame-time MIDI file; the user's tempo, meter and first downbeat for it.
    bool WriteScore = false;
    ScoreChoices Choices;
    std::filesystem::path OutputFile;    // -o: the one input's MIDI file
    std::filesystem::path OutputFolder;  // -d: folder for every MIDI file
    std::vector<std::filesystem::path> Inputs;
    // --live: notes while the sound arrives, from standard input ('-') or a sound input.
    bool Live = false;
    std::string InputDevice;  // --input: the sound input's name (empty: the default)
    bool Jack = false;        // --jack: the live notes go to a JACK MIDI port too
};

enum class ParseOutcome { Convert, Help, Version, BadUsage };

struct ParsedCommandLine {
    ParseOutcome Outcome = ParseOutcome::BadUsage;
    ConvertOptions Options;
    std::string Error;  // one line naming the problem, for BadUsage
};

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

// The text printed by --help: every option of the table, the inputs, exit status, TMPDIR.
std::string UsageText();

// The MIDI file of one input: beside it with ".mid" (".musicxml" for a score) in place of its
// extension, in the -d folder, or the -o file.
std::filesystem::path OutputPathFor(const ConvertOptions& options, const std::filesystem::path& input);

// A score's file is MIDI when its name ends in .mid or .midi, MusicXML when .musicxml or .xml.
bool IsScoreMidiPath(const std::filesystem::path& path);
bool IsScorePath(const std::filesystem::path& path);

}  // namespace ruvo
