#pragma once
// An engine host for tests: records the text of every error box and message box instead of
// showing it. ScopedRecordingHost installs one for its own lifetime. One thread.

#include "engine/EngineHost.h"

#include <string>
#include <vector>

namespace ruvo::testsupport {

class RecordingHost : public IEngineHost {
public:
    void ErrorBox(const std::string& text) override { Errors.push_back(text); }
    void MessageBox(const std::string& text) override { Messages.push_back(text); }
    void ProcessEvents() override { ++ProcessEventsCalls; }

    void Clear();
    // Error boxes and message boxes together, in no particular order between the two kinds.
    std::size_t BoxCount() const { return Errors.size() + Messages.size(); }

    std::vector<std::string> Errors;
    std::vector<std::string> Messages;
    int ProcessEventsCalls = 0;
};

// A RecordingHost installed while the object lives.
class ScopedRecordingHost : public RecordingHost {
public:
    ScopedRecordingHost() : m_scope(*this) {}

private:
    ScopedEngineHost m_scope;
};

}  // namespace ruvo::testsupport
