#include "app/CommandLine.h"

#include <array>
#include <string_view>

namespace ruvo {
namespace {

// QApplication's options that take a value, and those that do not.
constexpr std::array<std::string_view, 12> kQtValueOptions{
    "-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry", "-qwindowtitle",
    "-qwindowicon", "-style", "-stylesheet", "-session", "-display", "-geometry"};
constexpr std::array<std::string_view, 4> kQtFlags{"-reverse", "-widgetcount", "-nograb", "-dograb"};

template <std::size_t N>
bool Among(const std::array<std::string_view, N>& list, std::string_view word) {
    for (std::string_view entry : list) {
        // Qt takes its options with one dash or two.
        if (word == entry || (word.size() > 1 && word[0] == '-' && word.substr(1) == entry)) return true;
    }
    return false;
}

}  // namespace

CommandLine ReadCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--help" || word == "-h") return {CommandLine::Action::Help, {}};
        if (word == "--version") return {CommandLine::Action::Version, {}};
        if (Among(kQtValueOptions, word)) {
            ++i;
            continue;
        }
        if (Among(kQtFlags, word)) continue;
        if (word.size() > 1 && word[0] == '-') {
            return {CommandLine::Action::UsageError, "unknown option '" + std::string(word) + "'"};
        }
    }
    return line;
}

}  // namespace ruvo
