#include "app/About.h"

#include "app/Glyphs.h"

#include <QFrame>
#include <QLabel>

namespace ruvo {

TAboutBox::TAboutBox(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("Version Information"));
    setFixedSize(204, 138);

    auto* panel = new QFrame(this);  // owned by parent
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setGeometry(8, 8, 188, 122);

    auto* icon = new QLabel(panel);  // owned by parent
    icon->setObjectName(QStringLiteral("ProgramIcon"));
    icon->setPixmap(ProgramIcon().pixmap(32, 32));
    icon->setGeometry(8, 8, 34, 34);

    auto* product = new QLabel(QStringLiteral("Ruvo"), panel);  // owned by parent
    product->setObjectName(QStringLiteral("ProductName"));
    product->setGeometry(56, 10, 120, 16);
    auto* version = new QLabel(QStringLiteral("Version 2.00"), panel);  // owned by parent
    version->setObjectName(QStringLiteral("Version"));
    version->setGeometry(56, 30, 120, 16);
    auto* comments =
        new QLabel(QStringLiteral("The Software converts wav file to midi file."), panel);  // owned by parent
    comments->setObjectName(QStringLiteral("Comments"));
    comments->setWordWrap(true);
    comments->setGeometry(8, 56, 172, 56);
    comments->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

}  // namespace ruvo
