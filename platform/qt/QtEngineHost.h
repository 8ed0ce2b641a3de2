#pragma once
// The engine's host in the windowed program: error boxes are modal message boxes with the
// error icon and the single button "Abort", plain messages have an OK button, and pending
// window events run on request. Installed by main() for the application's lifetime.

#include "engine/EngineHost.h"

#include <string>

namespace ruvo {

class QtEngineHost : public IEngineHost {
public:
    void ErrorBox(const std::string& text) override;
    void MessageBox(const std::string& text) override;
    void ProcessEvents() override;
};

}  // namespace ruvo
