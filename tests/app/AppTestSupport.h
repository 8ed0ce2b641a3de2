#pragma once
// Shared pieces of the window tests: fakes of the pipeline's views that record what the
// pipeline asked for and can cancel at a chosen point, melody WAVs, and looks at the work
// files a document names.

#include "app/PipelineViews.h"
#include "engine/WavHead.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace ruvo {
class DocumentPipeline;
}

namespace ruvo::apptest {

// Where a fake progress display is when the pipeline asks it something.
struct ProgressPoint {
    std::int32_t Starts = 0;  // ProgressStart calls so far
    std::int32_t Steps = 0;   // ProgressStep calls since the last start
    std::int32_t Frames = 0;  // ProgressIdle calls since the last start
};

class FakeProgress : public IProgressView {
public:
    void ProgressStart(std::int32_t steps) override;
    void ProgressShow() override { Visible = true; }
    void ProgressHide() override { Visible = false; }
    void ProgressStep() override;
    void ProgressIdle() override;
    bool CancelRequested() const override { return m_cancel; }

    void PressCancel() { m_cancel = true; }

    // Cancel right after this many steps / frames of the given start (1-based); -1 never.
    std::int32_t CancelAtStep = -1;
    std::int32_t CancelAtFrame = -1;
    std::int32_t CancelOnStart = 1;
    // Runs inside every step and idle, like window events would.
    std::function<void(const ProgressPoint&)> OnEvents;

    std::vector<std::int32_t> StartSteps;  // the argument of each ProgressStart
    ProgressPoint Point;
    bool Visible = false;

private:
    void Events();
    bool m_cancel = false;
};

class FakeView : public IDocumentView {
public:
    void ShowPlayer() override { PlayerVisible = true; }
    void HidePlayer() override { PlayerVisible = false; }
    bool ConfirmRerun() override;
    void ShowDocument(WavHead& doc, bool fillGrid) override;
    void GridFileBuilt(bool /*fresh*/) override { ++GridBuilds; }
    void EnableSaveMidi() override { SaveMidiEnabled = true; }
    bool ChooseMidiFileName(std::string& name) override;
    void ShowStatusNote(const std::string& note) override { StatusNotes.push_back(note); }
    bool ConfirmImport(const std::string& question) override {
        ImportQuestions.push_back(question);
        return ImportAnswer;
    }

    bool PlayerVisible = true;
    std::vector<std::string> StatusNotes;
    bool AlertAnswer = true;  // what the alert answers
    std::int32_t Alerts = 0;
    std::int32_t Shows = 0;  // ShowDocument calls
    std::int32_t GridFills = 0;
    std::int32_t GridBuilds = 0;
    bool SaveMidiEnabled = false;
    std::string LastShownFile;  // FileName of the last document shown with a grid file
    std::string MidiName;       // the save dialog's answer; empty: cancelled
    std::int32_t SaveDialogs = 0;
    std::vector<std::string> ImportQuestions;  // every offer of a converted copy
    bool ImportAnswer = true;
};

// A WAV of sine tones at the given notes, `secondsEach` each.
void WriteMelodyWav(const std::string& path, const std::vector<int>& notes, double secondsEach,
                    std::uint32_t rate = 22050, std::uint16_t channels = 1, std::uint16_t bits = 16);
// A file that is not a WAV file.
void WriteGarbage(const std::string& path);

// Full paths of the work files `doc` names, sorted.
std::set<std::string> WorkFiles(const WavHead& doc);
// Names (without folder) of the work files `doc` names, sorted.
std::set<std::string> WorkFileNames(const WavHead& doc);
// Names of the work files of the pipeline's document and of those its history keeps.
std::set<std::string> DocumentAndKeptFiles(const DocumentPipeline& pipeline);
// Names of the files in `folder`, sorted.
std::set<std::string> FilesIn(const std::string& folder);
// Contents of every work file `doc` names.
std::map<std::string, std::string> Contents(const WavHead& doc);
std::string ReadAll(const std::string& path);
bool Exists(const std::string& path);
// Every field of the two records agrees.
bool SameRecord(const WavHead& a, const WavHead& b);

}  // namespace ruvo::apptest
