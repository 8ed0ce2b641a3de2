#pragma once
// The converter's engine host: every message of the engine goes to standard error as
// "INPUT: message", the input being the file being converted; a message of several lines gives
// as many lines, each with the prefix. Erases the progress bar first.

#include "engine/EngineHost.h"

#include <string>

namespace ruvo {

class TProgressBar;

class ConsoleHost : public IEngineHost {
public:
    explicit ConsoleHost(TProgressBar& bar) : m_bar(bar) {}

    // The input whose name prefixes the messages from now on.
    void SetInput(const std::string& input) { m_input = input; }
    // Prints "INPUT: line" for every line of text.
    void Report(const std::string& text);

    void ErrorBox(const std::string& text) override { Report(text); }
    void MessageBox(const std::string& text) override { Report(text); }

private:
    TProgressBar& m_bar;
    std::string m_input;
};

}  // namespace ruvo
