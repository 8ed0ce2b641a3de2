#pragma once
// The converter's command line: the options, the inputs and the MIDI file each input becomes.
// Parsed once at start; plain values, no I/O except the output folder check.

#include "engine/WavHead.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ruvo {

inline constexpr const char* kConverterName = "ruvo-convert";
inline constexpr const char* kConverterVersion = "ruvo-convert 2.00";

struct ConvertOptions {
    std::int32_t TempoClass = kTempoFast;
    double Threshold = 0.4;  // margin below the frame's loudest peak, log10 units
    bool KeepHarmonics = false;
    bool KeepWorkFiles = false;
    bool Quiet = false;
    AnalysisMode Mode = AnalysisMode::Classic;
    bool KeepLeadingSilence = false;
    std::filesystem::path OutputFile;    // -o: the one input's MIDI file
    std::filesystem::path OutputFolder;  // -d: folder for every MIDI file
    std::vector<std::filesystem::path> Inputs;
};

enum class ParseOutcome { Convert, Help, Version, BadUsage };

struct ParsedCommandLine {
    ParseOutcome Outcome = ParseOutcome::BadUsage;
    ConvertOptions Options;
    std::string Error;  // what was wrong, for BadUsage
};

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

// The usage text printed by --help and after a usage error.
std::string UsageText();

// The MIDI file of one input: beside it with ".mid" in place of its extension, in the -d
// folder, or the -o file.
std::filesystem::path OutputPathFor(const ConvertOptions& options, const std::filesystem::path& input);

}  // namespace ruvo
