#pragma once
// ScoreChoiceCommand: a change of the score's tempo, meter or first downbeat as a step of the
// document's history. It swaps the document's choices between the two states; no files of
// its own. Made after the change was applied; owned by the history. UI thread.

#include "panes/EditCommand.h"
#include "score/Score.h"

#include <string>

namespace ruvo {

class DocumentScore;

class ScoreChoiceCommand : public IEditCommand {
public:
    // `score` outlives the history that owns the step (both belong to the main window).
    ScoreChoiceCommand(std::string name, DocumentScore& score, ScoreChoices before, ScoreChoices after);

    const std::string& Name() const override { return m_name; }
    void Undo(WavHead& doc) override;
    void Redo(WavHead& doc) override;
    std::vector<std::string> KeptFiles() const override { return {}; }
    std::int64_t KeptBytes() const override { return 0; }

private:
    std::string m_name;
    DocumentScore& m_score;
    ScoreChoices m_before;
    ScoreChoices m_after;
};

}  // namespace ruvo
