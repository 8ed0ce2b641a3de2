#pragma once
// The shell through Qt: new instances are started detached with QProcess, pages are opened
// with the desktop's URL handler; the browser is the desktop's default for HTML (xdg).
// Owned by main(); UI thread only.

#include "platform/IShell.h"

#include <QString>

namespace ruvo {

class QtShell : public IShell {
public:
    // `program`: the executable new instances run; empty means this program's own file.
    explicit QtShell(QString program = {});
    void LaunchInstance(const std::filesystem::path& file) override;
    bool OpenInBrowser(const std::filesystem::path& file) override;
    // The Exec line of the desktop's default application for text/html (xdg-mime).
    std::string HtmlOpenCommand() override;
    bool StartProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                      bool maximised) override;

private:
    QString m_program;
};

}  // namespace ruvo
