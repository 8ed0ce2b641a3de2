// ruvo-make-icons DIR: writes the program's icon for the desktop at build time, as
// DIR/hicolor/scalable/apps/ruvo.svg and DIR/hicolor/NxN/apps/ruvo.png for the usual sizes.

#include "app/IconDesign.h"

#include <QDir>
#include <QFile>

#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ruvo-make-icons DIR\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/hicolor");
    const QString scalable = root + QStringLiteral("/scalable/apps");
    if (!QDir().mkpath(scalable)) {
        std::fprintf(stderr, "ruvo-make-icons: cannot make %s\n", qPrintable(scalable));
        return 1;
    }
    QFile svg(scalable + QStringLiteral("/ruvo.svg"));
    if (!svg.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "ruvo-make-icons: cannot write %s\n", qPrintable(svg.fileName()));
        return 1;
    }
    svg.write(ruvo::ProgramIconSvg().toUtf8());
    svg.close();
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = root + QStringLiteral("/%1x%1/apps").arg(size);
        const QString file = folder + QStringLiteral("/ruvo.png");
        if (!QDir().mkpath(folder) || !ruvo::ProgramIconImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "ruvo-make-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
