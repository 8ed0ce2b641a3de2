#include "panes/EditHistory.h"

#include <utility>

namespace ruvo {

void EditHistory::Push(std::unique_ptr<IEditCommand> step) {
    if (!step) {
        return;
    }
    // The redo steps, and the files only they name, go before the new step is counted.
    m_steps.resize(m_done);
    m_steps.push_back(Entry{std::move(step), m_nextSerial++});
    m_done = m_steps.size();
    while (m_steps.size() > kMaxSteps || KeptBytes() > kMaxKeptBytes) {
        DropOldest();
    }
}

std::string EditHistory::UndoName() const { return CanUndo() ? m_steps[m_done - 1].Step->Name() : std::string(); }

std::string EditHistory::RedoName() const { return CanRedo() ? m_steps[m_done].Step->Name() : std::string(); }

bool EditHistory::Undo(WavHead& doc) {
    if (!CanUndo()) {
        return false;
    }
    m_steps[m_done - 1].Step->Undo(doc);
    --m_done;
    return true;
}

bool EditHistory::Redo(WavHead& doc) {
    if (!CanRedo()) {
        return false;
    }
    m_steps[m_done].Step->Redo(doc);
    ++m_done;
    return true;
}

void EditHistory::Clear() {
    // Newest first: a step's files never outlive the steps that came after it.
    while (!m_steps.empty()) {
        m_steps.pop_back();
    }
    m_done = 0;
    m_baseSerial = m_nextSerial++;
    m_savedSerial = m_baseSerial;
}

std::int64_t EditHistory::KeptBytes() const {
    std::int64_t total = 0;
    for (const Entry& entry : m_steps) {
        total += entry.Step->KeptBytes();
    }
    return total;
}

std::vector<std::string> EditHistory::KeptFiles() const {
    std::vector<std::string> names;
    for (const Entry& entry : m_steps) {
        for (std::string& name : entry.Step->KeptFiles()) {
            names.push_back(std::move(name));
        }
    }
    return names;
}

void EditHistory::DropOldest() {
    if (m_steps.empty()) {
        return;
    }
    if (m_done == 0) {
        // Only redo steps are left: the newest of them goes, so that the chain stays whole.
        m_steps.pop_back();
        return;
    }
    m_baseSerial = m_steps.front().Serial;
    m_steps.erase(m_steps.begin());
    --m_done;
}

}  // namespace ruvo
