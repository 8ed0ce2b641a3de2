#pragma once
// A shell for tests: records what would have been launched or opened, starts nothing.

#include "platform/IShell.h"

#include <filesystem>
#include <vector>

namespace ruvo {

class FakeShell : public IShell {
public:
    void LaunchInstance(const std::filesystem::path& file) override;
    bool OpenInBrowser(const std::filesystem::path& file) override;

    std::vector<std::filesystem::path> Launched;
    std::vector<std::filesystem::path> Opened;
    bool BrowserAvailable = true;  // what OpenInBrowser answers
};

}  // namespace ruvo
