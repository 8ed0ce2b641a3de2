// ruvo-convert: converts WAV files into Standard MIDI Files without a window.

#include "cli/ConsoleHost.h"
#include "cli/ConvertOptions.h"
#include "cli/Interrupt.h"
#include "cli/LiveSession.h"
#include "cli/TConverter.h"
#include "cli/TProgressBar.h"
#include "engine/EngineHost.h"
#include "platform/posix/WorkFolder.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitSignalBase = 128;

// The same file under every spelling of its name, for telling whether two outputs collide.
std::string FileKey(const fs::path& path) {
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(fs::absolute(path, error), error);
    return error ? path.lexically_normal().string() : canonical.string();
}

int Convert(const ruvo::ConvertOptions& options) {
    ruvo::InstallInterruptHandlers();
    ruvo::TProgressBar bar(stderr, !options.Quiet && isatty(STDERR_FILENO) == 1);
    ruvo::ConsoleHost host(bar);
    ruvo::ScopedEngineHost scopedHost(host);

    // Every work file goes there; without it each input would fail with the same messages.
    std::string problem;
    const std::unique_ptr<ruvo::TWorkFolder> workFolder = ruvo::TWorkFolder::Open(problem);
    if (!workFolder) {
        host.SetInput(ruvo::kConverterName);
        host.Report(problem);
        return kExitFailed;
    }

    // The folders -d makes, deepest first: a run that writes nothing into them removes them again.
    std::vector<fs::path> madeFolders;
    if (!options.OutputFolder.empty()) {
        std::error_code error;
        fs::path deepest = fs::absolute(options.OutputFolder, error).lexically_normal();
        if (!deepest.has_filename()) deepest = deepest.parent_path();  // written with a trailing '/'
        for (fs::path p = deepest; !error && !p.empty() && !fs::exists(p, error); p = p.parent_path()) {
            madeFolders.push_back(p);
            if (p == p.parent_path()) break;
        }
        fs::create_directories(options.OutputFolder, error);
        if (error || !fs::is_directory(options.OutputFolder)) {
            host.Report(std::string(ruvo::kConverterName) + ": cannot use the folder " + options.OutputFolder.string() +
                        ": " + (error ? error.message() : std::string("not a folder")));
            return kExitFailed;
        }
    }

    ruvo::TConverter converter(options, host, bar, workFolder.get());
    std::set<std::string> written;
    bool anyFailed = false;
    for (const fs::path& input : options.Inputs) {
        if (ruvo::InterruptSignal() != 0) break;
        const fs::path output = ruvo::OutputPathFor(options, input);
        const std::string key = FileKey(output);
        if (written.count(key) != 0) {
            host.SetInput(input.string());
            host.Report(output.string() + " was already written for an earlier input; not replaced");
            anyFailed = true;
            continue;
        }
        const auto result = converter.ConvertFile(input, output);
        if (result == ruvo::TConverter::Result::Interrupted) break;
        if (result == ruvo::TConverter::Result::Failed) anyFailed = true;
        if (result == ruvo::TConverter::Result::Converted) written.insert(key);
    }

    if (written.empty()) {
        std::error_code ignored;
        for (const fs::path& folder : madeFolders)
            if (!fs::remove(folder, ignored)) break;  // not empty: something else writes there
    }

    if (const int signalNumber = ruvo::InterruptSignal(); signalNumber != 0) {
        host.SetInput(ruvo::kConverterName);
        host.Report("interrupted");
        return kExitSignalBase + signalNumber;
    }
    return anyFailed ? kExitFailed : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const ruvo::ParsedCommandLine parsed = ruvo::ParseCommandLine(args);
    switch (parsed.Outcome) {
        case ruvo::ParseOutcome::Help: std::fputs(ruvo::UsageText().c_str(), stdout); return kExitOk;
        case ruvo::ParseOutcome::Version: std::printf("%s\n", ruvo::kConverterVersion); return kExitOk;
        case ruvo::ParseOutcome::BadUsage:
            std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", ruvo::kConverterName, parsed.Error.c_str(),
                         ruvo::kConverterName);
            return kExitUsage;
        case ruvo::ParseOutcome::Convert: break;
    }
    if (parsed.Options.Live) return ruvo::RunLive(parsed.Options);
    return Convert(parsed.Options);
}
