#pragma once
// The shell through Qt: new instances are started detached with QProcess, pages are opened
// with the desktop's URL handler. Owned by main(); UI thread only.

#include "platform/IShell.h"

#include <QString>

namespace ruvo {

class QtShell : public IShell {
public:
    // `program`: the executable new instances run; empty means this program's own file.
    explicit QtShell(QString program = {});
    void LaunchInstance(const std::filesystem::path& file) override;
    bool OpenInBrowser(const std::filesystem::path& file) override;

private:
    QString m_program;
};

}  // namespace ruvo
