#include "cli/ConsoleHost.h"

#include "cli/TProgressBar.h"

#include <cstdio>

namespace ruvo {

void ConsoleHost::Report(const std::string& text) {
    m_bar.Clear();
    std::string line = m_input.empty() ? text : m_input + ": " + text;
    if (line.empty() || line.back() != '\n') line += '\n';
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace ruvo
