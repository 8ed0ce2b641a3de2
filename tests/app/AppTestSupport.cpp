#include "tests/app/AppTestSupport.h"

#include "app/DocumentPipeline.h"

#include "tests/testsupport/Signals.h"
#include "tests/testsupport/WavWriter.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace ruvo::apptest {

void FakeProgress::ProgressStart(std::int32_t steps) {
    StartSteps.push_back(steps);
    ++Point.Starts;
    Point.Steps = 0;
    Point.Frames = 0;
    m_cancel = false;
}

void FakeProgress::ProgressStep() {
    ++Point.Steps;
    if (Point.Starts == CancelOnStart && Point.Steps == CancelAtStep) {
        m_cancel = true;
    }
    Events();
}

void FakeProgress::ProgressIdle() {
    ++Point.Frames;
    if (Point.Starts == CancelOnStart && Point.Frames == CancelAtFrame) {
        m_cancel = true;
    }
    Events();
}

void FakeProgress::Events() {
    if (OnEvents) {
        OnEvents(Point);
    }
}

bool FakeView::ConfirmRerun() {
    ++Alerts;
    return AlertAnswer;
}

void FakeView::ShowDocument(WavHead& doc, bool fillGrid) {
    ++Shows;
    if (doc.MidiGridFileName.empty()) {
        return;
    }
    LastShownFile = doc.FileName;
    if (fillGrid) {
        ++GridFills;
    }
}

bool FakeView::ChooseMidiFileName(std::string& name) {
    ++SaveDialogs;
    if (MidiName.empty()) {
        return false;
    }
    name = MidiName;
    return true;
}

void WriteMelodyWav(const std::string& path, const std::vector<int>& notes, double secondsEach, std::uint32_t rate,
                    std::uint16_t channels, std::uint16_t bits) {
    using namespace ruvo::testsupport;
    const auto countEach = static_cast<std::size_t>(secondsEach * rate);
    const double amplitude = bits == 16 ? 12000.0 : 90.0;
    const std::vector<double> signal = NoteSequence(notes, countEach, static_cast<double>(rate), amplitude);
    std::vector<std::int32_t> samples = Quantize(signal, bits);
    if (channels == 2) {
        samples = Interleave(samples, samples);
    }
    WavFormat format;
    format.SampleRate = rate;
    format.Channels = channels;
    format.Bits = bits;
    WriteWav(path, format, samples);
}

void WriteGarbage(const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    out << std::string(1000, 'x');
}

std::set<std::string> WorkFiles(const WavHead& doc) {
    std::set<std::string> files;
    for (const std::string* name : {&doc.Temp1FileName, &doc.Temp2FileName, &doc.NormFileName, &doc.IntenFileName,
                                    &doc.ThresholdFileName, &doc.HarmonicFileName, &doc.NoteIntenFileName,
                                    &doc.OctFileName, &doc.RawNoteFileName, &doc.MidiGridFileName}) {
        if (!name->empty()) {
            files.insert(*name);
        }
    }
    return files;
}

std::set<std::string> WorkFileNames(const WavHead& doc) {
    std::set<std::string> names;
    for (const std::string& file : WorkFiles(doc)) {
        names.insert(std::filesystem::path(file).filename().string());
    }
    return names;
}

std::set<std::string> DocumentAndKeptFiles(const DocumentPipeline& pipeline) {
    std::set<std::string> names = WorkFileNames(pipeline.Doc);
    for (const std::string& file : pipeline.History().KeptFiles()) {
        names.insert(std::filesystem::path(file).filename().string());
    }
    return names;
}

std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        // Without a sound server the sound client library keeps its runtime folder here.
        if (name.starts_with("pulse-")) {
            continue;
        }
        names.insert(std::move(name));
    }
    return names;
}

std::map<std::string, std::string> Contents(const WavHead& doc) {
    std::map<std::string, std::string> contents;
    for (const std::string& file : WorkFiles(doc)) {
        contents[file] = ReadAll(file);
    }
    return contents;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

bool SameRecord(const WavHead& a, const WavHead& b) {
    return a.FileName == b.FileName && a.SampleRate == b.SampleRate && a.SampleCount == b.SampleCount &&
           a.Is16Bit == b.Is16Bit && a.BitsPerSample == b.BitsPerSample && a.Channels == b.Channels &&
           a.DataOffset == b.DataOffset && a.NoteCount == b.NoteCount && a.FrameCount == b.FrameCount &&
           a.Temp1FileName == b.Temp1FileName && a.Temp2FileName == b.Temp2FileName &&
           a.NormFileName == b.NormFileName && a.IntenFileName == b.IntenFileName &&
           a.ThresholdFileName == b.ThresholdFileName && a.ThresholdDefault == b.ThresholdDefault &&
           a.HarmonicFileName == b.HarmonicFileName && a.HarmonicDefault == b.HarmonicDefault &&
           a.NoteIntenFileName == b.NoteIntenFileName && a.OctFileName == b.OctFileName &&
           a.RawNoteFileName == b.RawNoteFileName && a.MidiFileName == b.MidiFileName &&
           a.MidiGridFileName == b.MidiGridFileName && a.ViewStart == b.ViewStart && a.ViewWidth == b.ViewWidth &&
           a.SelStart == b.SelStart && a.SelEnd == b.SelEnd && a.PeakNoteValue == b.PeakNoteValue &&
           a.TempoClass == b.TempoClass && a.Mode == b.Mode && a.KeepLeadingSilence == b.KeepLeadingSilence;
}

}  // namespace ruvo::apptest
