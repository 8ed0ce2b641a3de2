#pragma once
// What the engine needs from the program around it: the modal error box (error icon, one
// "Abort" button), the plain message box, and a chance to let pending window events run.
// The windows, the converter and the tests each install their own host; one thread only.

#include <string>

namespace ruvo {

class IEngineHost {
public:
    virtual ~IEngineHost() = default;
    virtual void ErrorBox(const std::string& text) = 0;
    virtual void MessageBox(const std::string& text) = 0;
    virtual void ProcessEvents() {}
};

// The installed host; a silent one when none is installed.
IEngineHost& EngineHost();

// Installs a host for its own lifetime and restores the previous one afterwards.
class ScopedEngineHost {
public:
    explicit ScopedEngineHost(IEngineHost& host);
    ~ScopedEngineHost();
    ScopedEngineHost(const ScopedEngineHost&) = delete;
    ScopedEngineHost& operator=(const ScopedEngineHost&) = delete;

private:
    IEngineHost* m_previous;
};

}  // namespace ruvo
