#pragma once
// RerunCommand: a re-run of the note stage (after a threshold or harmonic edit, a new tempo
// class or analysis mode) as a step of the history. The re-run made new files; the step keeps
// the previous ones as work files and swaps the document's names and fields between the two
// states, so that no note stage runs again. It owns the files that only its other state
// names and deletes them when it goes. UI thread.

#include "panes/EditCommand.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ruvo {

// The part of a document record that a re-run replaces.
struct AnalysisState {
    std::string ThresholdFileName;
    std::string HarmonicFileName;
    std::string NoteIntenFileName;
    std::string OctFileName;
    std::string RawNoteFileName;
    std::string MidiGridFileName;
    double PeakNoteValue = 0.0;
    std::int32_t TempoClass = kTempoFast;
    AnalysisMode Mode = AnalysisMode::Classic;

    static AnalysisState Of(const WavHead& doc);
    void ApplyTo(WavHead& doc) const;
    std::vector<std::string> FileNames() const;
};

class RerunCommand : public IEditCommand {
public:
    // `before` and `after`: the document's state before the re-run and now.
    RerunCommand(std::string name, AnalysisState before, AnalysisState after);
    ~RerunCommand() override;
    RerunCommand(const RerunCommand&) = delete;
    RerunCommand& operator=(const RerunCommand&) = delete;

    const std::string& Name() const override { return m_name; }
    void Undo(WavHead& doc) override;
    void Redo(WavHead& doc) override;
    std::int64_t KeptBytes() const override { return m_done ? m_beforeBytes : m_afterBytes; }

    // Those only the state not shown names.
    std::vector<std::string> KeptFiles() const override;

private:
    std::string m_name;
    AnalysisState m_before;
    AnalysisState m_after;
    std::int64_t m_beforeBytes = 0;  // of the files only `before` names
    std::int64_t m_afterBytes = 0;   // of the files only `after` names
    bool m_done = true;
};

}  // namespace ruvo
