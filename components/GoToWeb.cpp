#include "components/GoToWeb.h"

#include "platform/IShell.h"

#include <QFileInfo>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cctype>

namespace ruvo {

namespace {

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// The parameters after the executable: no quotes, no "%" place-holders.
std::string CleanParameters(const std::string& rest) {
    std::string text = Trim(rest);
    text.erase(std::remove(text.begin(), text.end(), '"'), text.end());
    std::string kept;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            while (i + 1 < text.size() && text[i + 1] != ' ') {
                ++i;
            }
            continue;
        }
        kept += text[i];
    }
    return Trim(kept);
}

// Where the right-most program extension ends (one past it), or npos.
std::size_t ProgramExtensionEnd(const std::string& command) {
    static constexpr std::array<const char*, 3> kExtensions = {".EXE", ".BAT", ".COM"};
    if (command.size() < 4) {
        return std::string::npos;
    }
    for (std::size_t start = command.size() - 4;; --start) {
        std::string window = command.substr(start, 4);
        std::transform(window.begin(), window.end(), window.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        for (const char* extension : kExtensions) {
            if (window == extension) {
                return start + 4;
            }
        }
        if (start == 0) {
            return std::string::npos;
        }
    }
}

}  // namespace

BrowserCommand ParseBrowserCommand(const std::string& command) {
    BrowserCommand result;
    std::size_t end = ProgramExtensionEnd(command);
    if (end == std::string::npos) {
        // No program extension (the usual case outside Windows): the first word, or the
        // first quoted text, is the program.
        const std::string text = Trim(command);
        if (!text.empty() && text.front() == '"') {
            const std::size_t close = text.find('"', 1);
            end = close == std::string::npos ? text.size() : close + 1;
        } else {
            end = std::min(text.find(' '), text.size());
        }
        result.Path = text.substr(0, end);
        result.Parameters = end < text.size() ? CleanParameters(text.substr(end)) : std::string();
    } else {
        result.Path = command.substr(0, end);
        result.Parameters = end < command.size() ? CleanParameters(command.substr(end)) : std::string();
    }
    result.Path.erase(std::remove(result.Path.begin(), result.Path.end(), '"'), result.Path.end());
    result.Path = Trim(result.Path);
    return result;
}

TGoToWeb::TGoToWeb(IShell& shell, QObject* parent) : QObject(parent), m_shell(shell) {}

std::string TGoToWeb::FindBrowser() {
    const BrowserCommand command = ParseBrowserCommand(m_shell.HtmlOpenCommand());
    BrowserParameters = command.Parameters;
    return command.Path;
}

bool TGoToWeb::BrowserExists() {
    const std::string path = FindBrowser();
    return !path.empty() && QFileInfo(QString::fromStdString(path)).isFile();
}

bool TGoToWeb::Launch() {
    const std::string path = FindBrowser();
    if (path.empty()) {
        return false;
    }
    QStringList arguments = QProcess::splitCommand(QString::fromStdString(BrowserParameters));
    arguments << Url;
    std::vector<std::string> list;
    for (const QString& argument : arguments) {
        list.push_back(argument.toStdString());
    }
    return m_shell.StartProgram(path, list, BrowserState == TBrowserState::gwMaximized);
}

}  // namespace ruvo
