#include "platform/fake/FakeShell.h"

namespace ruvo {

void FakeShell::LaunchInstance(const std::filesystem::path& file) { Launched.push_back(file); }

bool FakeShell::OpenInBrowser(const std::filesystem::path& file) {
    Opened.push_back(file);
    return BrowserAvailable;
}

bool FakeShell::StartProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                             bool /*maximised*/) {
    Started.push_back({program, arguments});
    return StartSucceeds;
}

}  // namespace ruvo
