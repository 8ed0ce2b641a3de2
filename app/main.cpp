// ruvo: the windowed program. An optional first parameter names a WAV file that is converted
// when the main window is first activated; --help and --version answer without a window.

#include "app/CommandLine.h"
#include "app/Main.h"
#include "engine/EngineHost.h"
#include "platform/qt/PathConvert.h"
#include "platform/qt/QtEngineHost.h"
#include "platform/qt/QtSettingsStore.h"
#include "platform/qt/QtShell.h"
#include "platform/posix/WorkFolder.h"
#include "platform/qt/TerminationSignals.h"

#include <QApplication>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

int main(int argc, char* argv[]) {
    // Answered before the window system is needed, so that they work on a text console.
    const ruvo::CommandLine line = ruvo::ReadCommandLine(argc, argv);
    if (line.Do == ruvo::CommandLine::Action::UsageError) {
        std::fprintf(stderr, "ruvo: %s\nTry 'ruvo --help'.\n", line.Error.c_str());
        return ruvo::kUsageExit;
    }
    if (line.Do == ruvo::CommandLine::Action::Help) {
        std::fputs(
            "Usage: ruvo [FILE]\n"
            "Opens the window that turns the melody of a sound file into a MIDI file;\n"
            "FILE is converted at once. To convert without a window: ruvo-convert --help.\n"
            "\n"
            "Options:\n"
            "  -h, --help     show this text\n"
            "      --version  show the version\n",
            stdout);
        return 0;
    }
    if (line.Do == ruvo::CommandLine::Action::Version) {
        std::fputs("ruvo 2.00\n", stdout);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ruvo"));
    QApplication::setOrganizationName(QStringLiteral("Ruvo"));
    // Ties the windows to the desktop entry, which gives them its name and icon.
    QApplication::setDesktopFileName(QStringLiteral("ruvo"));
    // The program ends when the main window has closed and deleted its work files, not when
    // the last window happens to disappear.
    QApplication::setQuitOnLastWindowClosed(false);

    ruvo::QtEngineHost host;
    const ruvo::ScopedEngineHost hostScope(host);
    ruvo::QtShell shell;
    // Every work file goes into a private folder, removed when the program ends (after the
    // window, which deletes its own files first); folders of runs that were killed go now.
    std::string problem;
    const std::unique_ptr<ruvo::TWorkFolder> workFolder = ruvo::TWorkFolder::Open(problem);
    if (!workFolder) {
        host.ErrorBox(problem);
        return 1;
    }
    // A closed output fails its writes instead of ending the program before the clean-up;
    // so does a file past the size limit, which ends a recording and keeps it.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    // The takes of runs that were killed, moved into this run's folder to be offered.
    std::vector<std::string> earlierTakes = workFolder->AdoptOrphanRecordings();
    // The recent files and the window positions, in ~/.config/Ruvo/ruvo.ini.
    ruvo::QtSettingsStore settings(QStringLiteral("Ruvo"), QStringLiteral("ruvo"));

    // The name as the bytes given (QApplication has taken out its own options), not as
    // QCoreApplication::arguments() decodes it: a name that is not valid UTF-8 still opens.
    const QString fileName = argc > 1 ? ruvo::FileNameFromEngine(argv[1]) : QString();
    ruvo::TRuvoAppForm form(shell, settings, fileName);
    QObject::connect(&form, &ruvo::TRuvoAppForm::OnClosed, &app, &QCoreApplication::quit);
    // Interrupted or terminated, the program closes its window without asking: a running
    // conversion is cancelled and the work files are deleted, but a recording not saved stays
    // in the private work folder (which then stays too) for the next start to offer.
    ruvo::TerminationSignals termination;
    QObject::connect(&termination, &ruvo::TerminationSignals::OnTerminationRequested, &form, [&form, &workFolder] {
        form.CloseWithoutAsking([&workFolder](const std::string& name) { return workFolder->KeepHere(name); });
    });
    form.show();
    form.activateWindow();
    form.OfferEarlierRecordings(std::move(earlierTakes));
    return QApplication::exec();
}
