#include "app/DocumentScore.h"

#include "app/DocumentPipeline.h"
#include "app/ScoreChoiceCommand.h"
#include "engine/Units.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <filesystem>
#include <memory>

namespace ruvo {

bool SameChoices(const ScoreChoices& a, const ScoreChoices& b) {
    return a.Bpm == b.Bpm && a.TimeSignature == b.TimeSignature && a.DownbeatSeconds == b.DownbeatSeconds;
}

DocumentScore::DocumentScore(DocumentPipeline& pipeline) : m_pipeline(pipeline) {}

void DocumentScore::SetChoices(const ScoreChoices& choices) {
    m_choices = choices;
    ++m_choiceRevision;
    if (OnChoicesChanged) {
        OnChoicesChanged();
    }
}

std::int32_t DocumentScore::Choose(const ScoreChoices& after, const std::string& stepName) {
    if (m_pipeline.Busy()) {
        return kRefusedBusy;
    }
    if (!m_pipeline.HasDocument() || SameChoices(after, m_choices)) {
        return -1;
    }
    const ScoreChoices before = m_choices;
    const std::int32_t pushed =
        m_pipeline.PushStep(std::make_unique<ScoreChoiceCommand>(stepName, *this, before, after));
    if (pushed == 0) {
        SetChoices(after);
    }
    return pushed;
}

const Score* DocumentScore::Current() {
    if (!m_pipeline.HasDocument()) {
        m_error = "There is no document.";
        return nullptr;
    }
    const WavHead& doc = m_pipeline.Doc;
    Key key{doc.NoteIntenFileName, doc.FrameCount, m_pipeline.History().Serial(), m_choiceRevision};
    if (m_built && key == m_key) {
        return m_valid ? &m_score : nullptr;
    }
    // A failure is kept with its key as well: a pane painting again must not read again.
    m_built = true;
    m_key = std::move(key);
    m_valid = false;
    try {
        std::vector<TimedNote> notes;
        if (ReadNoteTable(doc.NoteIntenFileName, doc.FrameCount, notes, m_error) != 0) {
            return nullptr;
        }
        m_score = BuildScore(notes, m_choices);
        m_score.Title = std::filesystem::path(m_pipeline.DocumentName()).stem().string();
    } catch (const std::exception& error) {
        m_error = error.what();
        return nullptr;
    }
    m_valid = !m_score.Tempo.empty();
    if (!m_valid) {
        m_error = "The score has no tempo.";
    }
    return m_valid ? &m_score : nullptr;
}

bool DocumentScore::HasNotes() {
    const Score* score = Current();
    return score != nullptr && !score->Notes.empty();
}

double DocumentScore::RecordingSeconds() const {
    return m_pipeline.HasDocument() ? FramesToSeconds(m_pipeline.Doc.FrameCount) : 0.0;
}

std::vector<BeatLine> DocumentScore::Lines(double fromSeconds, double toSeconds) {
    std::vector<BeatLine> lines;
    const Score* score = Current();
    if (score == nullptr || !(toSeconds > fromSeconds)) {
        return lines;
    }
    for (const BeatMark& mark : BeatMarks(*score, fromSeconds, toSeconds)) {
        lines.push_back({mark.Seconds, mark.Downbeat});
    }
    return lines;
}

std::int32_t DocumentScore::Save(const std::string& path, std::string& error) {
    const Score* score = Current();
    if (score == nullptr) {
        error = m_error;
        return -1;
    }
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    try {
        return extension == ".mid" || extension == ".midi" ? WriteScoreMidi(*score, path, error)
                                                           : WriteMusicXml(*score, path, error);
    } catch (const std::exception& failure) {
        error = failure.what();
        return -1;
    }
}

}  // namespace ruvo
