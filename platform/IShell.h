#pragma once
// The operating system's shell as the windows need it: start another instance of this program
// on a file, and open a page in the user's browser. Implemented by QtShell (platform/qt) and
// FakeShell (platform/fake); owned by whoever creates the main window; UI thread only.

#include <filesystem>

namespace ruvo {

class IShell {
public:
    virtual ~IShell() = default;
    // Starts a new instance of the program with `file` as its only command-line parameter. The
    // outcome is not reported: the new instance shows its own messages.
    virtual void LaunchInstance(const std::filesystem::path& file) = 0;
    // Opens `file` (a help page) in the user's web browser; false when nothing could open it.
    virtual bool OpenInBrowser(const std::filesystem::path& file) = 0;
};

}  // namespace ruvo
