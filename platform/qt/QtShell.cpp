#include "platform/qt/QtShell.h"

#include "platform/qt/PathConvert.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

#include <utility>

namespace ruvo {

QtShell::QtShell(QString program) : m_program(std::move(program)) {}

void QtShell::LaunchInstance(const std::filesystem::path& file) {
    const QString program = m_program.isEmpty() ? QCoreApplication::applicationFilePath() : m_program;
    // The name goes over as one argument, blanks and all, without any shell quoting.
    QProcess::startDetached(program, {FromPath(std::filesystem::absolute(file))});
}

bool QtShell::OpenInBrowser(const std::filesystem::path& file) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(FromPath(file)));
}

}  // namespace ruvo
