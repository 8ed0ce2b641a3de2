#pragma once
// What ruvo's command line asks before any window exists: the options it answers itself, a
// file to open, or a usage error. Qt's own options (-platform, -style, ...) pass through to
// QApplication. Standard library only; called once from main().

#include <string>

namespace ruvo {

struct CommandLine {
    enum class Action { Window, Help, Version, UsageError };
    Action Do = Action::Window;
    std::string Error;  // for UsageError: the line that says what was wrong
};

CommandLine ReadCommandLine(int argc, const char* const* argv);

// Exit status of a usage error, as ruvo-convert's.
constexpr int kUsageExit = 2;

}  // namespace ruvo
