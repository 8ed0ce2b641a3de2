#pragma once
// TGoToWeb: finds the browser the desktop has registered for HTML pages and starts it on
// `Url`. Owned by its form (Qt parent); UI thread only.

#include <QObject>
#include <QString>

#include <string>

namespace ruvo {

class IShell;

enum class TBrowserState { gwMaximized, gwNormal };

struct BrowserCommand {
    std::string Path;        // the executable
    std::string Parameters;  // what goes before the URL; the "%1"-style place-holders removed
};

// Splits a registered open command into the executable and its parameters. The right-most
// ".EXE", ".BAT" or ".COM" (any case) ends the executable; without one the first word (or the
// first quoted text) is the executable. Quotes are removed, and so is every "%" with what
// follows it up to the next blank.
BrowserCommand ParseBrowserCommand(const std::string& command);

class TGoToWeb : public QObject {
    Q_OBJECT

public:
    explicit TGoToWeb(IShell& shell, QObject* parent = nullptr);

    QString Url;
    QString EMail;         // kept only
    QString EMailSubject;  // kept only
    TBrowserState BrowserState = TBrowserState::gwNormal;

    // The browser's executable, empty when none is registered; fills BrowserParameters.
    std::string FindBrowser();
    bool BrowserExists();
    // Starts the browser with BrowserParameters and Url; true when it started.
    bool Launch();

    std::string BrowserParameters;

private:
    IShell& m_shell;
};

}  // namespace ruvo
