#pragma once
// A shell for tests: records what would have been launched or opened, starts nothing.

#include "platform/IShell.h"

#include <filesystem>
#include <string>
#include <vector>

namespace ruvo {

class FakeShell : public IShell {
public:
    void LaunchInstance(const std::filesystem::path& file) override;
    bool OpenInBrowser(const std::filesystem::path& file) override;
    std::string HtmlOpenCommand() override { return HtmlCommand; }
    bool StartProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                      bool maximised) override;

    std::vector<std::filesystem::path> Launched;
    std::vector<std::filesystem::path> Opened;
    bool BrowserAvailable = true;  // what OpenInBrowser answers
    std::string HtmlCommand;       // what HtmlOpenCommand answers
    struct Start {
        std::filesystem::path Program;
        std::vector<std::string> Arguments;
    };
    std::vector<Start> Started;
    bool StartSucceeds = true;  // what StartProgram answers
};

}  // namespace ruvo
