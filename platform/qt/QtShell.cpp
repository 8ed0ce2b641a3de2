#include "platform/qt/QtShell.h"

#include "platform/qt/PathConvert.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>

#include <utility>

namespace ruvo {

namespace {

constexpr int kQueryTimeoutMs = 3000;

// The Exec line of a desktop entry file, empty when it has none.
QString DesktopExecLine(const QString& desktopFile) {
    QFile file(desktopFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {};
    }
    QTextStream in(&file);
    bool inEntry = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
        } else if (inEntry && line.startsWith(QLatin1String("Exec="))) {
            return line.mid(5).trimmed();
        }
    }
    return {};
}

// `command` with its program as a full path (quoted when it holds a blank); empty when the
// program cannot be found.
std::string WithFullProgramPath(const QString& command) {
    QStringList words = QProcess::splitCommand(command);
    if (words.isEmpty()) {
        return {};
    }
    const QString program = QStandardPaths::findExecutable(words.takeFirst());
    if (program.isEmpty()) {
        return {};
    }
    QString result = program.contains(QLatin1Char(' ')) ? QLatin1Char('"') + program + QLatin1Char('"') : program;
    for (const QString& word : words) {
        result += QLatin1Char(' ') + word;
    }
    return result.toStdString();
}

}  // namespace

QtShell::QtShell(QString program) : m_program(std::move(program)) {}

void QtShell::LaunchInstance(const std::filesystem::path& file) {
    const QString program = m_program.isEmpty() ? QCoreApplication::applicationFilePath() : m_program;
    // The name goes over as one argument, blanks and all, without any shell quoting.
    QProcess::startDetached(program, {FromPath(std::filesystem::absolute(file))});
}

bool QtShell::OpenInBrowser(const std::filesystem::path& file) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(FromPath(file)));
}

std::string QtShell::HtmlOpenCommand() {
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/html")});
    if (query.waitForStarted(kQueryTimeoutMs) && query.waitForFinished(kQueryTimeoutMs) &&
        query.exitStatus() == QProcess::NormalExit) {
        const QString entry = QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
        const QString desktopFile =
            entry.isEmpty() ? QString() : QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entry);
        if (!desktopFile.isEmpty()) {
            const std::string command = WithFullProgramPath(DesktopExecLine(desktopFile));
            if (!command.empty()) {
                return command;
            }
        }
    } else {
        query.kill();
        query.waitForFinished(kQueryTimeoutMs);
    }
    // Without a desktop default: the browser the user named in the environment, else the
    // system's choice (Debian's x-www-browser alternative).
    const QString named = qEnvironmentVariable("BROWSER").section(QLatin1Char(':'), 0, 0);
    for (const QString& browser : {named, QStringLiteral("x-www-browser")}) {
        const std::string command = browser.isEmpty() ? std::string() : WithFullProgramPath(browser);
        if (!command.empty()) {
            return command;
        }
    }
    return {};
}

bool QtShell::StartProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                           bool /*maximised*/) {
    // Browsers take no common option for their window state; they open as they last were.
    QStringList list;
    for (const std::string& argument : arguments) {
        list << QString::fromStdString(argument);
    }
    return QProcess::startDetached(FromPath(program), list);
}

}  // namespace ruvo
