#pragma once
// DocumentScore: the score of the document shown, made from its note table as it is now and
// the user's tempo, meter and downbeat choices, which belong to the document (a new one starts
// without any). The score is rebuilt only when the notes or the choices have changed since it
// was last asked for, never per mouse move. Owned by the main window's score side; UI thread.
// For painting, the score of a long document is built on a worker thread of its own (Ready),
// which gets copies of the file name and choices and touches nothing else.

#include "panes/BeatLines.h"
#include "score/Score.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ruvo {

class DocumentPipeline;

bool SameChoices(const ScoreChoices& a, const ScoreChoices& b);

class DocumentScore {
public:
    explicit DocumentScore(DocumentPipeline& pipeline);
    DocumentScore(const DocumentScore&) = delete;
    DocumentScore& operator=(const DocumentScore&) = delete;

    // The document whose score this is.
    DocumentPipeline& Pipeline() const { return m_pipeline; }
    const ScoreChoices& Choices() const { return m_choices; }
    // Sets the choices as they are, without a step (the steps' own undo and redo).
    void SetChoices(const ScoreChoices& choices);
    // Another document is shown: it has no choices yet.
    void NewDocument() { SetChoices({}); }

    // The user's confirmed change as one step of the document's history; the lines and the
    // next score follow at once. 0 done, -1 no document or nothing changed, kRefusedBusy.
    std::int32_t Choose(const ScoreChoices& after, const std::string& stepName);

    // The score as the document is now; nullptr without a document or when its notes cannot
    // be read (LastError() says why).
    const Score* Current();
    const std::string& LastError() const { return m_error; }
    // Whether Current() would answer at once; when not, the score is built on the worker
    // thread (started once per state of the document) and a later call says true. Paints ask
    // this first, so that no paint waits while a long note table is read and tracked.
    bool Ready();
    // Whether the score has notes (a document without them gives a score of rests).
    bool HasNotes();
    // The length of the recording in seconds; 0 without a document.
    double RecordingSeconds() const;
    // The beats and bars between two times of the recording; empty without a score.
    std::vector<BeatLine> Lines(double fromSeconds, double toSeconds);

    // Writes the score to `path`: musical-time MIDI for a ".mid" or ".midi" name, MusicXML
    // otherwise. 0 written, -1 with `error` set (nothing is left at `path`).
    [[nodiscard]] std::int32_t Save(const std::string& path, std::string& error);

    // Called after every change of the choices (a step, its undo or redo).
    std::function<void()> OnChoicesChanged;

private:
    struct Key {
        std::string NoteTable;
        std::int32_t Frames = 0;
        std::uint64_t Serial = 0;
        std::uint64_t Choices = 0;
        friend bool operator==(const Key&, const Key&) = default;
    };

    // A score built, or not, from the state `Of`.
    struct Built {
        Key Of;
        bool Valid = false;
        Score Made;
        std::string Error;
    };
    Key CurrentKey() const;
    static Built Build(Key key, const ScoreChoices& choices, const std::string& title);
    void Adopt(Built built);
    // Takes the worker's score when it is of `key`; waits for the worker when `wait`.
    bool CollectWorker(const Key& key, bool wait);

    DocumentPipeline& m_pipeline;
    ScoreChoices m_choices;
    std::uint64_t m_choiceRevision = 0;
    bool m_built = false;
    Key m_key;  // of the score last built (or last failed)
    bool m_valid = false;
    Score m_score;
    std::string m_error;
    std::optional<Key> m_working;  // the state the worker builds from
    std::mutex m_mutex;
    std::optional<Built> m_workerResult;  // under m_mutex
    std::jthread m_worker;                // last: joined before the rest goes
};

}  // namespace ruvo
