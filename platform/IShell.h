#pragma once
// The operating system's shell as the windows need it: start another instance of this program
// on a file, find the browser and open a page in it. Implemented by QtShell (platform/qt) and
// FakeShell (platform/fake); owned by whoever creates the main window; UI thread only.

#include <filesystem>
#include <string>
#include <vector>

namespace ruvo {

class IShell {
public:
    virtual ~IShell() = default;
    // Starts a new instance of the program with `file` as its only command-line parameter. The
    // outcome is not reported: the new instance shows its own messages.
    virtual void LaunchInstance(const std::filesystem::path& file) = 0;
    // Opens `file` (a help page) in the user's web browser; false when nothing could open it.
    virtual bool OpenInBrowser(const std::filesystem::path& file) = 0;
    // The command the desktop has registered for opening HTML pages, its program given with
    // its full path (quoted when it holds a blank); empty when there is none.
    virtual std::string HtmlOpenCommand() = 0;
    // Starts `program` with `arguments`, detached, its window maximised when asked; false
    // when it could not be started.
    virtual bool StartProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                              bool maximised) = 0;
};

}  // namespace ruvo
