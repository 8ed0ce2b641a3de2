// The whole conversion of a file as the converter runs it: the check, the import of what the
// check leaves to it, both stages and the MIDI file. The input's length picks the analysis
// (classic, melody or chords), so that every mutation of it reaches all three. Inputs beyond
// 3 s of sound are cut to keep runs short; the work files go to the private folder and are
// removed after each run.

#include "engine/Conversion.h"
#include "engine/EngineHost.h"
#include "engine/FileIoError.h"
#include "engine/TMakeMidi.h"
#include "engine/TNote.h"
#include "engine/UFile.h"
#include "engine/WavHead.h"
#include "engine/WavProc.h"
#include "engine/WorkFiles.h"
#include "fuzz/FuzzInput.h"
#include "import/AudioImport.h"

#include <cstdio>

namespace {

class SilentHost : public ruvo::IEngineHost {
public:
    void ErrorBox(const std::string&) override {}
    void MessageBox(const std::string&) override {}
};

constexpr double kLongestSeconds = 3.0;

void Convert(const std::string& input, ruvo::AnalysisMode mode, std::string& importName, ruvo::WavHead& rec,
             ruvo::TWavProc& wav, ruvo::TNote& note) {
    std::string analysed = input;
    if (ruvo::ProbeWavFile(wav, input) == ruvo::WavRejection::Layout) {
        ruvo::TAudioImport import;
        if (import.Open(input) == 0) {
            ruvo::GetTempName("imp", importName);
            const auto frames = static_cast<std::int64_t>(kLongestSeconds * ruvo::ImportedRate(import.Source().SampleRate));
            if (import.WriteWav(importName, frames, nullptr) != 0) return;
            analysed = importName;
        }
    }
    const ruvo::TickFn go = [](ruvo::Tick) { return true; };
    if (ruvo::RunWaveStage(wav, analysed, rec, go) != 0) return;
    rec.Mode = mode;
    if (ruvo::RunNoteStage(note, rec, 1, go) != 0) return;
    rec.MidiFileName = ruvo::fuzz::Folder() + "/out.mid";
    std::string midiName;
    ruvo::TMakeMidi().ConvMidi(ruvo::kMidiToUserFile, rec, 0, rec.FrameCount - 1, midiName);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static SilentHost host;
    static ruvo::ScopedEngineHost scope(host);
    static const bool folderSet = (ruvo::SetWorkFolder(ruvo::fuzz::Folder()), true);
    (void)folderSet;
    const std::string& input = ruvo::fuzz::WriteInput(data, size);
    ruvo::TWavProc wav;
    ruvo::TNote note;
    ruvo::WavHead rec;
    std::string importName;
    try {
        Convert(input, static_cast<ruvo::AnalysisMode>(size % 3), importName, rec, wav, note);
    } catch (const ruvo::FileIoError&) {
        // A file the check accepted can still fail to read; that is a clean refusal too.
    }
    ruvo::WavHead wavRec;
    wav.GetWavHead(wavRec);
    ruvo::WavHead noteRec = note.Params();
    ruvo::DeleteWorkFiles(rec);
    ruvo::DeleteWorkFiles(wavRec);
    ruvo::DeleteWorkFiles(noteRec);
    if (!importName.empty()) std::remove(importName.c_str());
    return 0;
}
