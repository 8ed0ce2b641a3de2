#include "cli/ConvertOptions.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

namespace ruvo {
namespace {

std::optional<std::int32_t> ParseTempo(std::string_view text) {
    if (text == "fast") return kTempoFast;
    if (text == "medium") return kTempoMedium;
    if (text == "slow") return kTempoSlow;
    return std::nullopt;
}

std::optional<AnalysisMode> ParseMode(std::string_view text) {
    if (text == "classic") return AnalysisMode::Classic;
    if (text == "melody") return AnalysisMode::Melody;
    return std::nullopt;
}

// The whole text must be one finite number: "0.4x", "", "nan" and "inf" are refused.
std::optional<double> ParseNumber(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

ParsedCommandLine BadUsage(std::string error) {
    ParsedCommandLine result;
    result.Outcome = ParseOutcome::BadUsage;
    result.Error = std::move(error);
    return result;
}

}  // namespace

std::string UsageText() {
    return "Usage: ruvo-convert [options] INPUT.wav...\n"
           "Converts the melody of each WAV file into a Standard MIDI File, written beside it\n"
           "with the extension .mid unless -o or -d says otherwise.\n"
           "\n"
           "Options:\n"
           "  -o FILE                   write the MIDI file to FILE (one input only)\n"
           "  -d DIR                    write every MIDI file into the folder DIR\n"
           "  --tempo fast|medium|slow  how much the notes are smoothed over time\n"
           "                            (default fast)\n"
           "  --threshold M             keep peaks within M (log10 units) of the frame's\n"
           "                            loudest (default 0.4)\n"
           "  --keep-harmonics          do not erase harmonics (overtones)\n"
           "  --mode classic|melody     classic keeps every peak above the threshold,\n"
           "                            melody follows one voice (default classic)\n"
           "  --keep-leading-silence    start the first note at its own time, not at 0\n"
           "  --keep-work-files         keep the work files and print their names\n"
           "  --quiet                   no progress bar\n"
           "  --help                    show this text\n"
           "  --version                 show the version\n"
           "\n"
           "Exit status: 0 all files converted, 1 some file failed, 2 bad usage,\n"
           "130 interrupted by Ctrl-C (128 + the signal's number for others).\n";
}

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    ParsedCommandLine result;
    ConvertOptions& options = result.Options;
    bool optionsEnded = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.front() != '-') {
            options.Inputs.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }

        // "--name=value" and "--name value" are the same; flags take no value.
        std::string name = arg;
        std::optional<std::string> value;
        if (arg.starts_with("--")) {
            const auto eq = arg.find('=');
            if (eq != std::string::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
            }
        }
        const auto takeValue = [&]() -> std::optional<std::string> {
            if (value) return value;
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        const auto isFlag = [&](std::string_view flag) { return name == flag && !value; };

        if (isFlag("--help") || isFlag("-h")) {
            result.Outcome = ParseOutcome::Help;
            return result;
        }
        if (isFlag("--version")) {
            result.Outcome = ParseOutcome::Version;
            return result;
        }
        if (isFlag("--keep-harmonics")) {
            options.KeepHarmonics = true;
        } else if (isFlag("--keep-work-files")) {
            options.KeepWorkFiles = true;
        } else if (isFlag("--quiet") || isFlag("-q")) {
            options.Quiet = true;
        } else if (isFlag("--keep-leading-silence")) {
            options.KeepLeadingSilence = true;
        } else if (name == "--tempo") {
            const auto text = takeValue();
            if (!text) return BadUsage("--tempo needs a value: fast, medium or slow");
            const auto tempo = ParseTempo(*text);
            if (!tempo) return BadUsage("--tempo must be fast, medium or slow, not '" + *text + "'");
            options.TempoClass = *tempo;
        } else if (name == "--mode") {
            const auto text = takeValue();
            if (!text) return BadUsage("--mode needs a value: classic or melody");
            const auto mode = ParseMode(*text);
            if (!mode) return BadUsage("--mode must be classic or melody, not '" + *text + "'");
            options.Mode = *mode;
        } else if (name == "--threshold") {
            const auto text = takeValue();
            if (!text) return BadUsage("--threshold needs a number");
            const auto number = ParseNumber(*text);
            if (!number) return BadUsage("--threshold must be a number, not '" + *text + "'");
            options.Threshold = *number;
        } else if (name == "-o" || name == "--output") {
            const auto text = takeValue();
            if (!text || text->empty()) return BadUsage("-o needs a file name");
            options.OutputFile = *text;
        } else if (name == "-d" || name == "--output-dir") {
            const auto text = takeValue();
            if (!text || text->empty()) return BadUsage("-d needs a folder name");
            options.OutputFolder = *text;
        } else {
            return BadUsage("unknown option '" + arg + "'");
        }
    }

    if (options.Inputs.empty()) return BadUsage("no input file given");
    if (!options.OutputFile.empty() && !options.OutputFolder.empty())
        return BadUsage("-o and -d cannot be used together");
    if (!options.OutputFile.empty() && options.Inputs.size() > 1)
        return BadUsage("-o names one MIDI file but " + std::to_string(options.Inputs.size()) +
                        " inputs were given; use -d for many");
    result.Outcome = ParseOutcome::Convert;
    return result;
}

std::filesystem::path OutputPathFor(const ConvertOptions& options, const std::filesystem::path& input) {
    if (!options.OutputFile.empty()) return options.OutputFile;
    std::filesystem::path name = input.filename();
    name.replace_extension(".mid");
    if (!options.OutputFolder.empty()) return options.OutputFolder / name;
    return input.parent_path() / name;
}

}  // namespace ruvo
