#include "panes/RerunCommand.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <utility>

namespace ruvo {

namespace {

// The names of `state` that `other` does not name.
std::vector<std::string> OnlyIn(const AnalysisState& state, const AnalysisState& other) {
    const std::vector<std::string> others = other.FileNames();
    std::vector<std::string> only;
    for (const std::string& name : state.FileNames()) {
        if (!name.empty() && std::find(others.begin(), others.end(), name) == others.end() &&
            std::find(only.begin(), only.end(), name) == only.end()) {
            only.push_back(name);
        }
    }
    return only;
}

std::int64_t TotalSize(const std::vector<std::string>& names) {
    std::int64_t total = 0;
    for (const std::string& name : names) {
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(name, error);
        if (!error) {
            total += static_cast<std::int64_t>(size);
        }
    }
    return total;
}

// The fields a re-run changes, between the document record and a kept state (one list for
// both directions).
template <class From, class To>
void CopyAnalysisFields(const From& from, To& to) {
    to.ThresholdFileName = from.ThresholdFileName;
    to.HarmonicFileName = from.HarmonicFileName;
    to.NoteIntenFileName = from.NoteIntenFileName;
    to.OctFileName = from.OctFileName;
    to.RawNoteFileName = from.RawNoteFileName;
    to.MidiGridFileName = from.MidiGridFileName;
    to.PeakNoteValue = from.PeakNoteValue;
    to.TempoClass = from.TempoClass;
    to.Mode = from.Mode;
}

}  // namespace

AnalysisState AnalysisState::Of(const WavHead& doc) {
    AnalysisState state;
    CopyAnalysisFields(doc, state);
    return state;
}

void AnalysisState::ApplyTo(WavHead& doc) const { CopyAnalysisFields(*this, doc); }

std::vector<std::string> AnalysisState::FileNames() const {
    return {ThresholdFileName, HarmonicFileName, NoteIntenFileName, OctFileName, RawNoteFileName, MidiGridFileName};
}

RerunCommand::RerunCommand(std::string name, AnalysisState before, AnalysisState after)
    : m_name(std::move(name)), m_before(std::move(before)), m_after(std::move(after)) {
    m_beforeBytes = TotalSize(OnlyIn(m_before, m_after));
    m_afterBytes = TotalSize(OnlyIn(m_after, m_before));
}

RerunCommand::~RerunCommand() {
    for (const std::string& name : KeptFiles()) {
        std::remove(name.c_str());
    }
}

void RerunCommand::Undo(WavHead& doc) {
    m_before.ApplyTo(doc);
    m_done = false;
}

void RerunCommand::Redo(WavHead& doc) {
    m_after.ApplyTo(doc);
    m_done = true;
}

std::vector<std::string> RerunCommand::KeptFiles() const {
    return m_done ? OnlyIn(m_before, m_after) : OnlyIn(m_after, m_before);
}

}  // namespace ruvo
