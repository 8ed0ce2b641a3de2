#include "cli/ConvertOptions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string_view>

namespace ruvo {
namespace {

// Applies an option to the result; `value` is empty for a flag. Returns the problem, empty
// when the option was fine.
using ApplyFn = std::string (*)(ParsedCommandLine& parsed, const std::string& value);

struct OptionDef {
    char Short;             // 0: long form only
    const char* Long;       // without the leading "--"
    const char* ValueName;  // nullptr: a flag, which takes no value
    const char* Help;       // lines of at most 48 characters, separated by '\n'
    ApplyFn Apply;
};

// The whole text must be one finite number: "0.4x", "", "nan" and "inf" are refused.
std::optional<double> ParseNumber(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// clang-format off
const OptionDef kOptions[] = {
    {'o', "output", "FILE", "write the MIDI file (or score) to FILE (one\ninput only)",
     [](ParsedCommandLine& p, const std::string& v) -> std::string {
         if (v.empty()) return "-o needs a file name";
         if (v == "-") return "-o -: the MIDI file cannot go to standard output; name a file";
         p.Options.OutputFile = v;
         return {};
     }},
    {'d', "output-dir", "DIR", "write every MIDI file (or score) into the\nfolder DIR (made when missing)",
     [](ParsedCommandLine& p, const std::string& v) -> std::string {
         if (v.empty()) return "-d needs a folder name";
         p.Options.OutputFolder = v;
         return {};
     }},
    {0, "tempo", "WORD", "how much the notes are smoothed over time:\nfast, medium or slow (default fast)",
     [](ParsedCommandLine& p, const std::string& v) -> std::string {
         if (v == "fast") p.Options.TempoClass = kTempoFast;
         else if (v == "medium") p.Options.TempoClass = kTempoMedium;
         else if (v == "slow") p.Options.TempoClass = kTempoSlow;
         else return "--tempo must be fast, medium or slow, not " + Quoted(v);
         return {};
     }},
    {0, "threshold", "M", "keep spectral peaks within M (log10 units) of\n"
                          "the frame's loudest (default 0.4); M from 0\n"
                          "(only the loudest) to 5 (every peak: the\n"
                          "spectrum's values span less than 5)",
     [](ParsedCommandLine& p, const std::string& v) -> std::string {
         const std::optional<double> number = ParseNumber(v);
         if (!number) return "--threshold must be a number from 0 to 5, not " + Quoted(v);
         if (*number < kMinThreshold || *number > kMaxThreshold)
             return "--threshold must be from 0 to 5 (log10 units below the frame's loudest peak; "
                    "below 0 no peak is kept, above 5 every peak is), not " + Quoted(v);
         p.Options.Threshold = *number;
         return {};
     }},
    {0, "keep-harmonics", nullptr, "do not erase harmonics (overtones)",
     [](ParsedCommandLine& p, const std::string&) -> std::string { p.Options.KeepHarmonics = true; return {}; }},
    {0, "mode", "WORD", "melody for one voice (a singer, one instrument),\n"
                        "chords for several voices (piano, guitar, organ),\n"
                        "classic keeps every peak above the threshold\n"
                        "(default)",
     [](ParsedCommandLine& p, const std::string& v) -> std::string {
         if (v == "classic") p.Options.Mode = AnalysisMode::Classic;
         else if (v == "melody") p.Options.Mode = AnalysisMode::Melody;
         else if (v == "chords") p.Options.Mode = AnalysisMode::Chords;
         else return "--mode must be classic, melody or chords, not " + Quoted(v);
         return {};
     }},
    {0, "keep-leading-silence", nullptr, "start the first note at its own time, not at 0",
     [](ParsedCommandLine& p, const std::string&) -> std::string { p.Options.KeepLeadingSilence = true; return {}; }},
    {0, "keep-work-files", nullptr, "keep the work files and print their names on\nstandard output",
     [](ParsedCommandLine& p, const std::string&) -> std::string { p.Options.KeepWorkFiles = true; return {}; }},
    {0, "strict", nullptr, "convert only the WAV files that the check\n"
                           "accepts, as they are; refuse the others with\n"
                           "its message instead of importing them",
     [](ParsedCommandLine& p, const std::string&) -> std::string { p.Options.Strict = true; return {}; }},
    {0, "score", nullptr, "write a score in musical time instead: the\n"
                          "tempo, beats, note values and key found;\n"
                          "MusicXML, or MIDI when FILE ends in .mid\n"
                          "(default: beside the input, .musicxml)",
     [](ParsedCommandLine& p, const std::string&) -> std::string { p.Options.WriteScore = true; return {}; }},
    {0, "bpm", "N", "with --score: hold the tempo at N quarter\nnotes a minute (20 to 400)",
     [](ParsedCommandLine& p, const std::string& v) -> std::string {
         const std::optional<double> number = ParseNumber(v);
         if (!number) return "--bpm must be a number from 20 to 400, not " + Quoted(v);
         if (const std::string problem = CheckBpm(*number); !problem.empty())
             return "--bpm " + v + ": " + problem;
         p.Options.Choices.Bpm = *number;
         return {};
     }},
    {0, "meter", "N/D", "with --score: the time signature, N/2, N/4\nor N/8 (default 4/4)",
     [](ParsedCommandLine& p, const std::string& v) -> std::string {
         const std::optional<Meter> meter = ParseMeter(v);
         if (!meter) return "--meter must be written N/D, such as 3/4 or 6/8, not " + Quoted(v);
         if (const std::string problem = CheckMeter(*meter); !problem.empty())
             return "--meter " + v + ": " + problem;
         p.Options.Choices.TimeSignature = *meter;
         return {};
     }},
    {0, "downbeat", "SECONDS", "with --score: where bar 1 begins, in seconds\nof the recording (default 0, or where the\nnotes put the beat if the first comes a second\nor more in)",
     [](ParsedCommandLine& p, const std::string& v) -> std::string {
         const std::optional<double> number = ParseNumber(v);
         if (!number) return "--downbeat must be a number of seconds, not " + Quoted(v);
         if (*number < 0.0) return "--downbeat " + v + ": The first downbeat must lie within the recording.";
         p.Options.Choices.DownbeatSeconds = *number;
         return {};
     }},
    {0, "live", nullptr, "print each note as it ends while the sound\n"
                         "arrives, from the default sound input (or\n"
                         "--input) or, with the input '-', raw 16-bit\n"
                         "mono samples at 22050 Hz on standard input;\n"
                         "on Ctrl-C or at the end of the input -o FILE\n"
                         "receives the MIDI file of the session",
     [](ParsedCommandLine& p, const std::string&) -> std::string { p.Options.Live = true; return {}; }},
    {0, "input", "NAME", "with --live: the sound input to record from",
     [](ParsedCommandLine& p, const std::string& v) -> std::string {
         if (v.empty()) return "--input needs the name of a sound input";
         p.Options.InputDevice = v;
         return {};
     }},
    {0, "jack", nullptr, "with --live: send the notes to the JACK MIDI\n"
                         "port ruvo:midi_out as well",
     [](ParsedCommandLine& p, const std::string&) -> std::string { p.Options.Jack = true; return {}; }},
    {'q', "quiet", nullptr, "no progress bar (it shows only on a terminal)\n"
                            "and no line about an imported file",
     [](ParsedCommandLine& p, const std::string&) -> std::string { p.Options.Quiet = true; return {}; }},
    {'v', "verbose", nullptr, "tell on standard error, per file, what was\n"
                              "read, the analysis and the notes written",
     [](ParsedCommandLine& p, const std::string&) -> std::string { p.Options.Verbose = true; return {}; }},
    {'h', "help", nullptr, "show this text",
     [](ParsedCommandLine& p, const std::string&) -> std::string { p.Outcome = ParseOutcome::Help; return {}; }},
    {0, "version", nullptr, "show the version",
     [](ParsedCommandLine& p, const std::string&) -> std::string { p.Outcome = ParseOutcome::Version; return {}; }},
};
// clang-format on

constexpr std::size_t kHelpColumn = 30;

const OptionDef* FindLong(std::string_view name) {
    for (const OptionDef& option : kOptions)
        if (name == option.Long) return &option;
    return nullptr;
}

const OptionDef* FindShort(char name) {
    for (const OptionDef& option : kOptions)
        if (option.Short != 0 && option.Short == name) return &option;
    return nullptr;
}

ParsedCommandLine BadUsage(std::string error) {
    ParsedCommandLine result;
    result.Outcome = ParseOutcome::BadUsage;
    result.Error = std::move(error);
    return result;
}

}  // namespace

std::string UsageText() {
    std::string text =
        "Usage: ruvo-convert [OPTION]... INPUT...\n"
        "Converts the melody of each sound file into a Standard MIDI File, written beside\n"
        "it with the extension .mid unless -o or -d says otherwise. With --score it\n"
        "writes a score in musical time instead (tempo map, bars, note values, key):\n"
        "MusicXML (.musicxml beside the input, or -o FILE.musicxml or FILE.xml), or MIDI\n"
        "with 480 ticks a quarter when -o names a .mid file.\n"
        "\n"
        "Options (a short option takes its value attached or apart, -oFILE or -o FILE;\n"
        "a long one after '=' or apart; '--' ends the options):\n";
    for (const OptionDef& option : kOptions) {
        std::string left = option.Short != 0 ? std::string("  -") + option.Short + ", --" : std::string("      --");
        left += option.Long;
        if (option.ValueName != nullptr) left += std::string("=") + option.ValueName;
        std::string_view help = option.Help;
        bool first = true;
        while (!help.empty() || first) {
            const std::size_t end = std::min(help.find('\n'), help.size());
            std::string line = first ? left : std::string();
            line.resize(std::max(line.size() + 2, kHelpColumn), ' ');
            text += line;
            text += help.substr(0, end);
            text += '\n';
            help.remove_prefix(std::min(end + 1, help.size()));
            first = false;
        }
    }
    text +=
        "\n"
        "An INPUT is a PCM WAV file of 8 or 16 bits, mono or stereo, 11025, 22050 or\n"
        "44100 samples per second, from 0.55 s to 6000 s long, converted as it is; any\n"
        "other sound file (WAV of other rates and widths, FLAC, Ogg Vorbis, Opus, MP3,\n"
        "AIFF, ...) is first imported into such a WAV work file, unless --strict, and a\n"
        "line on standard error says so. Standard input ('-') is not accepted (the\n"
        "analysis reads its input more than once), except by --live.\n"
        "Every line of a message on standard error starts with the input's name and ': '.\n"
        "Work files go to a private folder in $TMPDIR (or /tmp) and are deleted after\n"
        "every file, also after a failure or an interruption; a folder left by a killed\n"
        "run goes at the next start. A MIDI file appears only when complete.\n"
        "\n"
        "Exit status: 0 all files converted, 1 some file failed, 2 bad usage,\n"
        "130 interrupted by Ctrl-C (128 + the signal's number for others).\n";
    return text;
}

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    ParsedCommandLine result;
    ConvertOptions& options = result.Options;
    bool optionsEnded = false;

    // Applies one option; the outcome turns to Help or Version at once.
    const auto apply = [&result](const OptionDef& option, const std::string& value) {
        return option.Apply(result, value);
    };

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

        std::string problem;
        if (arg.starts_with("--")) {
            // "--name=value" or "--name value"; a flag takes no value.
            const std::size_t eq = arg.find('=');
            const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            const OptionDef* option = FindLong(name);
            if (option == nullptr) return BadUsage("unknown option " + Quoted("--" + name));
            std::string value;
            if (option->ValueName == nullptr) {
                if (eq != std::string::npos) return BadUsage("option --" + name + " takes no value");
            } else if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                return BadUsage("option --" + name + " needs a value (" + option->ValueName + ")");
            }
            problem = apply(*option, value);
        } else {
            // "-qv" bundles flags; an option with a value takes the rest of the word or the next one.
            for (std::size_t pos = 1; pos < arg.size() && problem.empty(); ++pos) {
                const OptionDef* option = FindShort(arg[pos]);
                if (option == nullptr) return BadUsage("unknown option " + Quoted(std::string("-") + arg[pos]));
                if (option->ValueName == nullptr) {
                    problem = apply(*option, {});
                    if (result.Outcome != ParseOutcome::BadUsage) break;
                    continue;
                }
                std::string value;
                if (pos + 1 < arg.size()) {
                    value = arg.substr(pos + 1);
                } else if (i + 1 < args.size()) {
                    value = args[++i];
                } else {
                    return BadUsage(std::string("option -") + arg[pos] + " needs a value (" + option->ValueName + ")");
                }
                problem = apply(*option, value);
                break;
            }
        }
        if (!problem.empty()) return BadUsage(problem);
        if (result.Outcome == ParseOutcome::Help || result.Outcome == ParseOutcome::Version) return result;
    }

    const bool standardInput = std::find(options.Inputs.begin(), options.Inputs.end(), "-") != options.Inputs.end();
    if (options.Live) {
        if (options.Inputs.size() > 1 || (!options.Inputs.empty() && !standardInput))
            return BadUsage("--live reads a sound input or '-' (standard input), not files");
        if (standardInput && !options.InputDevice.empty()) return BadUsage("--input and '-' cannot be used together");
        if (!options.OutputFolder.empty() || options.WriteScore)
            return BadUsage("--live writes one MIDI file: name it with -o");
        result.Outcome = ParseOutcome::Convert;
        return result;
    }
    if (!options.InputDevice.empty()) return BadUsage("--input names the sound input of --live");
    if (options.Jack) return BadUsage("--jack sends the notes of --live");
    if (standardInput)
        return BadUsage(
            "'-' (standard input) cannot be converted: the analysis reads its input more than once; "
            "save it to a file first (or use --live)");
    if (options.Inputs.empty()) return BadUsage("no input file given");
    if (!options.OutputFile.empty() && !options.OutputFolder.empty())
        return BadUsage("-o and -d cannot be used together");
    if (!options.OutputFile.empty() && options.Inputs.size() > 1)
        return BadUsage("-o names one MIDI file but " + std::to_string(options.Inputs.size()) +
                        " inputs were given; use -d for many");
    const ScoreChoices& choices = options.Choices;
    if (!options.WriteScore && (choices.Bpm || choices.TimeSignature || choices.DownbeatSeconds))
        return BadUsage("--bpm, --meter and --downbeat shape a score: use them with --score");
    if (options.WriteScore && !options.OutputFile.empty() && !IsScorePath(options.OutputFile))
        return BadUsage("--score writes a .musicxml, .xml or .mid file, not " + Quoted(options.OutputFile.string()));
    result.Outcome = ParseOutcome::Convert;
    return result;
}

std::filesystem::path OutputPathFor(const ConvertOptions& options, const std::filesystem::path& input) {
    if (!options.OutputFile.empty()) return options.OutputFile;
    std::filesystem::path name = input.filename();
    name.replace_extension(options.WriteScore ? ".musicxml" : ".mid");
    if (!options.OutputFolder.empty()) return options.OutputFolder / name;
    return input.parent_path() / name;
}

namespace {
std::string LowerExtension(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return ext;
}
}  // namespace

bool IsScoreMidiPath(const std::filesystem::path& path) {
    const std::string ext = LowerExtension(path);
    return ext == ".mid" || ext == ".midi";
}

bool IsScorePath(const std::filesystem::path& path) {
    const std::string ext = LowerExtension(path);
    return IsScoreMidiPath(path) || ext == ".musicxml" || ext == ".xml";
}

}  // namespace ruvo
