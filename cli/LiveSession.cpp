#include "cli/LiveSession.h"

#include "cli/ConsoleHost.h"
#include "cli/ConvertOptions.h"
#include "cli/Interrupt.h"
#include "cli/TProgressBar.h"
#include "engine/EngineHost.h"
#include "engine/FileIoError.h"
#include "engine/LiveAnalysis.h"
#include "engine/TLiveMelody.h"
#include "engine/TMakeMidi.h"
#include "engine/UFile.h"
#include "platform/IMidiOut.h"
#include "platform/posix/JackMidiOut.h"
#include "platform/posix/PendingFile.h"
#include "platform/posix/PulseCapture.h"
#include "platform/posix/WorkFolder.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace ruvo {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kPollMs = 100;             // how soon Ctrl-C is noticed while the input is quiet
constexpr std::size_t kReadBytes = 4096;  // a read from standard input
constexpr std::size_t kDeviceSamples = 512;  // a read from the sound input: 23 ms

// Removes a work file when it goes out of scope.
class WorkFile {
public:
    explicit WorkFile(const std::string& prefix) { GetTempName(prefix, m_name); }
    ~WorkFile() {
        if (!m_name.empty()) std::remove(m_name.c_str());
    }
    WorkFile(const WorkFile&) = delete;
    WorkFile& operator=(const WorkFile&) = delete;
    const std::string& Name() const { return m_name; }

private:
    std::string m_name;
};

// Reads standard input until its end or an interrupt. Empty, or the reason it failed.
std::string ReadStandardInput(TLiveMelody& live) {
    std::array<unsigned char, kReadBytes + 1> bytes{};
    std::vector<std::int16_t> samples;
    std::size_t held = 0;  // an odd byte left from the read before
    while (InterruptSignal() == 0) {
        pollfd in{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&in, 1, kPollMs);
        if (ready < 0 && errno != EINTR) return std::string("cannot read standard input: ") + std::strerror(errno);
        if (ready <= 0) continue;
        const ssize_t got = read(STDIN_FILENO, bytes.data() + held, kReadBytes);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return std::string("cannot read standard input: ") + std::strerror(errno);
        }
        if (got == 0) break;
        const std::size_t total = held + static_cast<std::size_t>(got);
        samples.resize(total / 2);
        // Little-endian, whatever the machine.
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
        }
        held = total % 2;
        if (held != 0) bytes[0] = bytes[total - 1];
        live.Feed(samples);
    }
    return {};
}

std::string ReadDevice(TLiveMelody& live, const std::string& device) {
    TPulseCapture capture;
    if (std::string problem = capture.Open(device); !problem.empty()) return problem;
    std::vector<std::int16_t> samples(kDeviceSamples);
    while (InterruptSignal() == 0) {
        if (std::string problem = capture.Read(samples); !problem.empty()) return problem;
        live.Feed(samples);
    }
    return {};
}

// The session's notes as a note table and then a MIDI file, as the export writes one: a
// column per frame, one MIDI file of columns 0 .. frames-2.
std::string WriteMidi(const std::vector<LiveNote>& notes, std::int32_t frames, const std::string& path,
                      bool keepLeadingSilence) {
    const WorkFile table("lvm");
    if (table.Name().empty()) return "cannot make a work file";
    TFileBase file;
    if (file.OpenFile(table.Name(), kModeWrite, kNoteCount) != 0) return "cannot write " + table.Name();
    std::vector<double> cells(static_cast<std::size_t>(kNoteCount));
    std::size_t next = 0;
    for (std::int32_t f = 0; f < frames; ++f) {
        std::fill(cells.begin(), cells.end(), 0.0);
        while (next < notes.size() && notes[next].End <= f) ++next;
        if (next < notes.size() && notes[next].First <= f) cells[static_cast<std::size_t>(notes[next].Note)] = 1.0;
        file.WriteData(cells);
    }
    file.CloseFile();
    WavHead head;
    head.NoteIntenFileName = table.Name();
    head.MidiFileName = path;
    head.FrameCount = frames;
    std::string written = path;
    TMakeMidi midi;
    midi.SetKeepLeadingSilence(keepLeadingSilence);
    midi.ConvMidi(kMidiToUserFile, head, 0, frames - 1, written);
    return written.empty() ? "the MIDI file could not be made" : std::string();
}

}  // namespace

int RunLive(const ConvertOptions& options) {
    InstallInterruptHandlers();
    TProgressBar bar(stderr, false);
    ConsoleHost host(bar);
    ScopedEngineHost scopedHost(host);
    const bool fromStdin = !options.Inputs.empty();
    host.SetInput(fromStdin ? std::string("-") : (options.InputDevice.empty() ? std::string(kConverterName) : options.InputDevice));

    std::string problem;
    const std::unique_ptr<TWorkFolder> workFolder = TWorkFolder::Open(problem);
    if (!workFolder) {
        host.Report(problem);
        return kExitFailed;
    }
    // Made first, so an unwritable destination fails before the session.
    TPendingFile pending;
    const bool writeMidi = !options.OutputFile.empty();
    if (writeMidi) {
        if (const std::string reason = pending.Create(options.OutputFile); !reason.empty()) {
            host.Report("cannot write " + options.OutputFile.string() + ": " + reason);
            return kExitFailed;
        }
    }

    // Without a port the session goes on: the notes are still printed and written.
    JackMidiOut jack;
    if (options.Jack) {
        jack.SetShutdownHandler([](const std::string& reason) {
            std::fprintf(stderr, "%s: JACK MIDI output: %s The notes are no longer sent.\n", kConverterName,
                         reason.c_str());
        });
        if (jack.OpenPort(JackMidiOut::kDefaultPort) != kMidiOpenOk)
            std::fprintf(stderr, "%s: JACK MIDI output: %s The notes are not sent.\n", kConverterName,
                         jack.LastError().c_str());
    }

    std::string failure;
    try {
        TLiveMelody live(options.Threshold);
        if (jack.IsOpen()) {
            live.SetOnEvent([&jack](const LiveNoteEvent& event) { jack.Send(LiveEventMessage(event)); });
        }
        live.SetOnNote([](const LiveNote& note) {
            std::printf("%.3f %.3f %s\n", note.OnsetSeconds(), note.OffsetSeconds(), KeyName(note.Key()).c_str());
            std::fflush(stdout);
        });
        failure = fromStdin ? ReadStandardInput(live) : ReadDevice(live, options.InputDevice);
        if (failure.empty()) {
            live.Finish();
            if (writeMidi) failure = WriteMidi(live.Notes(), live.FrameCount(), pending.WritePath(), options.KeepLeadingSilence);
        }
    } catch (const FileIoError& e) {
        failure = "cannot " + e.Operation() + " " + e.Path() + ": " + e.Reason();
    } catch (const std::bad_alloc&) {
        failure = "out of memory";
    }
    if (failure.empty() && writeMidi) {
        if (const std::string reason = pending.Commit(); !reason.empty())
            failure = "cannot write " + options.OutputFile.string() + ": " + reason;
    }
    if (!failure.empty()) {
        host.Report(failure);
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace ruvo
