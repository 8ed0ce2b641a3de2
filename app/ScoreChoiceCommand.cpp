#include "app/ScoreChoiceCommand.h"

#include "app/DocumentScore.h"

#include <utility>

namespace ruvo {

ScoreChoiceCommand::ScoreChoiceCommand(std::string name, DocumentScore& score, ScoreChoices before, ScoreChoices after)
    : m_name(std::move(name)), m_score(score), m_before(std::move(before)), m_after(std::move(after)) {}

void ScoreChoiceCommand::Undo(WavHead& /*doc*/) { m_score.SetChoices(m_before); }

void ScoreChoiceCommand::Redo(WavHead& /*doc*/) { m_score.SetChoices(m_after); }

}  // namespace ruvo
