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

DocumentScore::Key DocumentScore::CurrentKey() const {
    const WavHead& doc = m_pipeline.Doc;
    return {doc.NoteIntenFileName, doc.FrameCount, m_pipeline.History().Serial(), m_choiceRevision};
}

DocumentScore::Built DocumentScore::Build(Key key, const ScoreChoices& choices, const std::string& title) {
    Built built;
    built.Of = std::move(key);
    try {
        std::vector<TimedNote> notes;
        if (ReadNoteTable(built.Of.NoteTable, built.Of.Frames, notes, built.Error) != 0) {
            return built;
        }
        built.Made = BuildScore(notes, choices);
        built.Made.Title = title;
    } catch (const std::exception& error) {
        built.Error = error.what();
        return built;
    }
    built.Valid = !built.Made.Tempo.empty();
    if (!built.Valid) {
        built.Error = "The score has no tempo.";
    }
    return built;
}

// A failure is kept with its key as well: a pane painting again must not read again.
void DocumentScore::Adopt(Built built) {
    m_built = true;
    m_key = std::move(built.Of);
    m_valid = built.Valid;
    m_score = std::move(built.Made);
    m_error = std::move(built.Error);
}

bool DocumentScore::CollectWorker(const Key& key, bool wait) {
    if (!m_working) {
        return false;
    }
    if (wait && *m_working == key && m_worker.joinable()) {
        m_worker.join();
    }
    std::optional<Built> built;
    {
        const std::lock_guard lock(m_mutex);
        built.swap(m_workerResult);
    }
    if (!built) {
        return false;
    }
    // A score of an earlier state is dropped here.
    m_working.reset();
    if (built->Of != key) {
        return false;
    }
    Adopt(std::move(*built));
    return true;
}

const Score* DocumentScore::Current() {
    if (!m_pipeline.HasDocument()) {
        m_error = "There is no document.";
        return nullptr;
    }
    Key key = CurrentKey();
    if (!(m_built && key == m_key) && !CollectWorker(key, true)) {
        Adopt(Build(std::move(key), m_choices, std::filesystem::path(m_pipeline.DocumentName()).stem().string()));
    }
    return m_valid ? &m_score : nullptr;
}

bool DocumentScore::Ready() {
    if (!m_pipeline.HasDocument()) {
        return true;
    }
    const Key key = CurrentKey();
    if ((m_built && key == m_key) || CollectWorker(key, false)) {
        return true;
    }
    if (m_working) {
        // Under way; a build of an earlier state cannot be cut short, and is let end first
        // rather than waited for here.
        return false;
    }
    if (m_worker.joinable()) {
        m_worker.join();  // it has ended
    }
    m_working = key;
    m_worker = std::jthread(
        [this, key, choices = m_choices, title = std::filesystem::path(m_pipeline.DocumentName()).stem().string()] {
            Built built;
            try {
                built = Build(key, choices, title);
            } catch (const std::exception&) {
                // No exception leaves the thread: the build fails like an unreadable table.
                built.Of = key;
                built.Valid = false;
            }
            const std::lock_guard lock(m_mutex);
            m_workerResult = std::move(built);
        });
    return false;
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
