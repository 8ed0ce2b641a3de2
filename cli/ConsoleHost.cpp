#include "cli/ConsoleHost.h"

#include "cli/TProgressBar.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace ruvo {

void ConsoleHost::Report(const std::string& text) {
    m_bar.Clear();
    // Every line carries the prefix, so that grep and scripts see whole messages.
    const std::string prefix = m_input.empty() ? std::string() : m_input + ": ";
    std::string out;
    std::string_view rest = text;
    do {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        out += prefix;
        out += rest.substr(0, end);
        out += '\n';
        rest.remove_prefix(std::min(end + 1, rest.size()));
    } while (!rest.empty());
    std::fputs(out.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace ruvo
