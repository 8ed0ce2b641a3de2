// ruvo: the windowed program. An optional first parameter names a WAV file that is converted
// when the main window is first activated.

#include "app/Main.h"
#include "engine/EngineHost.h"
#include "platform/qt/QtEngineHost.h"
#include "platform/qt/QtShell.h"
#include "platform/qt/TerminationSignals.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ruvo"));
    QApplication::setOrganizationName(QStringLiteral("Ruvo"));
    // The program ends when the main window has closed and deleted its work files, not when
    // the last window happens to disappear.
    QApplication::setQuitOnLastWindowClosed(false);

    ruvo::QtEngineHost host;
    const ruvo::ScopedEngineHost hostScope(host);
    ruvo::QtShell shell;

    const QStringList arguments = QCoreApplication::arguments();
    ruvo::TRuvoAppForm form(shell, arguments.size() > 1 ? arguments.at(1) : QString());
    QObject::connect(&form, &ruvo::TRuvoAppForm::OnClosed, &app, &QCoreApplication::quit);
    // Interrupted or terminated, the program closes its window like the user would: a running
    // conversion is cancelled and the work files are deleted.
    ruvo::TerminationSignals termination;
    QObject::connect(&termination, &ruvo::TerminationSignals::OnTerminationRequested, &form, &QWidget::close);
    form.show();
    form.activateWindow();
    return QApplication::exec();
}
